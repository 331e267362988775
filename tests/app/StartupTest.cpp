#include "app/AppLifecycle.h"
#include "platform/files/TemporaryRoot.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <utime.h>

using namespace qv;

TEST(Startup, UnderTheTestHarnessItOnlyRegistersDefaultsAndEnds)
{
    QTemporaryDir home;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORVENDA_TEST_HARNESS"), QStringLiteral("1"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    app.setProcessEnvironment(env);
    app.start(QStringLiteral(QV_BUILD_DIR "/quorvenda"), {});
    ASSERT_TRUE(app.waitForFinished(10000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    // No settings file, no autostart entry, nothing at all.
    QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    EXPECT_FALSE(it.hasNext()) << it.next().toStdString();
}

TEST(Startup, LaunchMaintenancePurgesDayOldWorkOnly)
{
    QTemporaryDir cache;
    const QByteArray previous = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());
    const QString root = TemporaryRoot::secure();
    ASSERT_FALSE(root.isEmpty());
    const QString old = test::writeFile(root + QStringLiteral("/old-work/file.txt"));
    const QString young = test::writeFile(root + QStringLiteral("/young-work/file.txt"));
    const time_t dayAndABitAgo = time(nullptr) - 86400 - 60;
    struct utimbuf times {dayAndABitAgo, dayAndABitAgo};
    for (const QString& path : {old, root + QStringLiteral("/old-work")})
        utime(QFile::encodeName(path).constData(), &times);

    AppLifecycle::runLaunchMaintenance();
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/old-work")));
    EXPECT_TRUE(QFileInfo::exists(young));
    qputenv("XDG_CACHE_HOME", previous);
}
