#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

namespace qv::test {

// xdg-desktop-portal itself on a test's private bus, with one desktop backend of the test's
// own, which answers as org.freedesktop.impl.portal.desktop.qvtest for the interfaces named.
class RealPortal {
public:
    static const QString backendName;
    static bool isInstalled();

    ~RealPortal();

    // Starts the portal once the backend is on the bus; true once the portal is.
    bool start(const QString& busAddress, const QStringList& backendInterfaces, QDBusConnection& client);
    void stop();
    // What the portal printed, for a failure's message.
    std::string output();

private:
    QTemporaryDir m_folder;
    QProcess m_process;
};

} // namespace qv::test
