#include "model/errors/SystemError.h"
#include "platform/desktop/LaunchAtLogin.h"
#include "support/LogCapture.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qv;

TEST(LaunchAtLogin, WritesAndRemovesTheAutostartEntry)
{
    QTemporaryDir config;
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());

    EXPECT_EQ(autostartFilePath(), config.path() + QStringLiteral("/autostart/quorvenda.desktop"));
    EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::notRegistered);

    {
        test::LogCapture log;
        setLaunchAtLogin(true);
        EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("Launch at login set to true; status 1")));
    }
    EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::enabled);
    QFile entry(autostartFilePath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QByteArray text = entry.readAll();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("\nExec="));
    EXPECT_TRUE(text.contains("\nType=Application\n"));

    {
        // Already on: nothing is done and nothing logged.
        test::LogCapture log;
        setLaunchAtLogin(true);
        EXPECT_TRUE(log.lines().isEmpty());
    }

    {
        test::LogCapture log;
        setLaunchAtLogin(false);
        EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("Launch at login set to false; status 0")));
    }
    EXPECT_FALSE(QFile::exists(autostartFilePath()));
    EXPECT_NO_THROW(setLaunchAtLogin(false));

    // An entry the session switched off in place counts as off, and switching on rewrites it.
    for (const QByteArray& off : {QByteArray("Hidden=true"), QByteArray("X-GNOME-Autostart-enabled=false")}) {
        QFile disabled(autostartFilePath());
        ASSERT_TRUE(disabled.open(QIODevice::WriteOnly));
        disabled.write("[Desktop Entry]\nType=Application\nExec=quorvenda\n" + off + "\n");
        disabled.close();
        EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::notRegistered) << off.constData();
        setLaunchAtLogin(true);
        EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::enabled) << off.constData();
        setLaunchAtLogin(false);
    }
    // The same key in another group does not switch the entry off.
    QFile other(autostartFilePath());
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write("[Desktop Entry]\nExec=quorvenda\n[Desktop Action x]\nHidden=true\n");
    other.close();
    EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::enabled);
    QFile::remove(autostartFilePath());

    qputenv("XDG_CONFIG_HOME", previous);
}

TEST(LaunchAtLogin, FullDiskLeavesNoBrokenEntry)
{
    test::SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QByteArray previous = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(disk.path()));
    const QString folder = disk.filePath(QStringLiteral("autostart"));
    auto entries = [&] { return QDir(folder).entryList(QDir::Files | QDir::Hidden); };

    // An entry the session switched off must survive a failed attempt to switch it on.
    const QByteArray off("[Desktop Entry]\nType=Application\nExec=quorvenda\nHidden=true\n");
    test::writeFile(autostartFilePath(), off);
    ASSERT_TRUE(disk.fillLeaving(0));
    EXPECT_THROW(setLaunchAtLogin(true), SystemError);
    EXPECT_EQ(test::readFile(autostartFilePath()), off);
    EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::notRegistered);
    EXPECT_EQ(entries(), QStringList{QStringLiteral("quorvenda.desktop")});

    // Without an entry, none appears.
    ASSERT_TRUE(QFile::remove(autostartFilePath()));
    ASSERT_TRUE(disk.fillLeaving(0));
    EXPECT_THROW(setLaunchAtLogin(true), SystemError);
    EXPECT_TRUE(entries().isEmpty());
    EXPECT_EQ(launchAtLoginStatus(), LaunchAtLoginStatus::notRegistered);

    qputenv("XDG_CONFIG_HOME", previous);
}
