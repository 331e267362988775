#include "platform/feedback/CanberraSoundOutput.h"

#include "model/Log.h"

#include <canberra.h>

#include <cmath>

namespace qv {

CanberraSoundOutput::~CanberraSoundOutput()
{
    if (m_context)
        ca_context_destroy(m_context);
}

QString CanberraSoundOutput::themeSoundName(const QString& name)
{
    if (name == QLatin1String("Pop"))
        return QStringLiteral("message");
    if (name == QLatin1String("Glass"))
        return QStringLiteral("complete");
    if (name == QLatin1String("Basso"))
        return QStringLiteral("dialog-error");
    return {};
}

double CanberraSoundOutput::decibels(double volume)
{
    if (volume <= 0)
        return -120.0;
    return 20.0 * std::log10(volume);
}

void CanberraSoundOutput::play(const QString& name, double volume)
{
    const QString event = themeSoundName(name);
    if (event.isEmpty() || m_unavailable)
        return;
    if (!m_context) {
        if (ca_context_create(&m_context) != CA_SUCCESS) {
            m_context = nullptr;
            m_unavailable = true;
            qCInfo(appLog, "Feedback sounds are unavailable");
            return;
        }
        ca_context_change_props(m_context, CA_PROP_APPLICATION_NAME, "Quorvenda",
                                CA_PROP_APPLICATION_ID, "org.quorvenda.Quorvenda", nullptr);
    }
    // One id per sound: cancelling it first restarts a sound that is still playing.
    const uint32_t id = qHash(name) & 0x7fffffff;
    ca_context_cancel(m_context, id);
    const QByteArray eventId = event.toUtf8();
    const QByteArray db = QByteArray::number(decibels(volume), 'f', 2);
    const int result = ca_context_play(m_context, id, CA_PROP_EVENT_ID, eventId.constData(),
                                       CA_PROP_CANBERRA_VOLUME, db.constData(),
                                       CA_PROP_CANBERRA_CACHE_CONTROL, "permanent", nullptr);
    if (result != CA_SUCCESS)
        qCDebug(appLog, "Sound %s not played: %s", eventId.constData(), ca_strerror(result));
}

SoundOutput& SoundOutput::system()
{
    static CanberraSoundOutput output;
    return output;
}

} // namespace qv
