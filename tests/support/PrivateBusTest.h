#pragma once

#include <QDBusConnection>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <gtest/gtest.h>

namespace qv::test {

// A session bus of the test's own, so clients and services meet nobody else's. It starts none
// of the services installed on the machine either.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            GTEST_SKIP() << "dbus-daemon is not installed";
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--config-file=" QV_SOURCE_DIR "/tests/support/session-bus.conf"),
                      QStringLiteral("--nofork"),
                      QStringLiteral("--print-address=1")});
        ASSERT_TRUE(daemon.waitForStarted(10000));
        while (!daemon.canReadLine() && daemon.waitForReadyRead(10000)) {
        }
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
    }
    void TearDown() override
    {
        for (const QString& name : names)
            QDBusConnection::disconnectFromBus(name);
        daemon.kill();
        daemon.waitForFinished(5000);
    }

    // A connection to the private bus under the name.
    QDBusConnection connection(const QString& name)
    {
        names.append(name);
        return QDBusConnection::connectToBus(address, name);
    }

    QProcess daemon;
    QString address;
    QStringList names;
};

} // namespace qv::test
