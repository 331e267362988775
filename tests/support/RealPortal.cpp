#include "support/RealPortal.h"

#include "support/WaitFor.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>

namespace qv::test {

namespace {

const QString kFrontend = QStringLiteral("/usr/libexec/xdg-desktop-portal");

} // namespace

const QString RealPortal::backendName = QStringLiteral("org.freedesktop.impl.portal.desktop.qvtest");

bool RealPortal::isInstalled()
{
    return QFileInfo(kFrontend).isExecutable();
}

RealPortal::~RealPortal()
{
    stop();
}

bool RealPortal::start(const QString& busAddress, const QStringList& backendInterfaces, QDBusConnection& client)
{
    if (!m_folder.isValid())
        return false;
    QFile description(m_folder.filePath(QStringLiteral("qvtest.portal")));
    if (!description.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = "[portal]\nDBusName=" + backendName.toUtf8() + "\nInterfaces="
        + backendInterfaces.join(QLatin1Char(';')).toUtf8() + "\nUseIn=qvtest\n";
    if (description.write(text) != text.size() || !description.flush())
        return false;
    description.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), busAddress);
    env.insert(QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), m_folder.path());
    env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("qvtest"));
    m_process.setProcessEnvironment(env);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(kFrontend, {QStringLiteral("--replace")});
    return waitFor([&] {
        return client.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.portal.Desktop")).value()
            || m_process.state() == QProcess::NotRunning;
    }) && m_process.state() == QProcess::Running;
}

void RealPortal::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

std::string RealPortal::output()
{
    return m_process.readAll().toStdString();
}

} // namespace qv::test
