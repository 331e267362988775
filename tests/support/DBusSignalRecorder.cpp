#include "support/DBusSignalRecorder.h"

namespace qv::test {

DBusSignalRecorder::DBusSignalRecorder(QDBusConnection bus, const QString& service, const QString& path,
                                       const QString& interface, const QStringList& names)
{
    m_connected = !names.isEmpty();
    for (const QString& name : names)
        m_connected = bus.connect(service, path, interface, name, this, SLOT(received(QDBusMessage))) && m_connected;
}

void DBusSignalRecorder::received(const QDBusMessage& message)
{
    messages.append(message);
}

} // namespace qv::test
