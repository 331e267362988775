#include "app/AppLifecycle.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <sys/stat.h>

using namespace qv::test;

namespace {

constexpr qint64 halfWayBytes = 4 << 20;

dev_t deviceOf(const QString& path)
{
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_dev;
}


// `quorvenda-dev run tool.folder.zip FOLDER`, with caches and settings of its own.
class ZipRun {
public:
    ZipRun(const QString& folder, const QString& cacheHome, const QString& configHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
        env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"),
                        {QStringLiteral("run"), QStringLiteral("tool.folder.zip"), folder});
        m_process.waitForStarted(30000);
    }
    ~ZipRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

    QProcess& process() { return m_process; }
    bool running() const { return m_process.state() == QProcess::Running; }

    QJsonObject result()
    {
        const QList<QByteArray> lines = m_process.readAllStandardOutput().trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

private:
    QProcess m_process;
};

class RunStop : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The data lies in memory; the cache on disk, unless that is memory too.
        m_data = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/qv-run-stop-XXXXXX"));
        if (!m_data->isValid())
            m_data = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(m_data->isValid());
        // 192 MB: the zipper takes seconds, the writing a fraction of one.
        m_bigFolder = writeIncompressibleFolder(m_data->filePath(QStringLiteral("BIGFOLDER")), 6, 32);
        ASSERT_FALSE(m_bigFolder.isEmpty());
        m_alongside = std::make_unique<QTemporaryDir>(QFileInfo(m_data->path()).absolutePath()
                                                      + QStringLiteral("/qv-run-stop-cache-XXXXXX"));
        ASSERT_TRUE(m_alongside->isValid());
    }

    // The cache on another filesystem than the folder: the work folder is a hidden one
    // beside the folder. Empty when there is no second filesystem.
    QString cacheElsewhere() const
    {
        return deviceOf(m_home.path()) != deviceOf(m_data->path()) ? m_home.filePath(QStringLiteral("cache"))
                                                                    : QString();
    }
    // The cache on the folder's filesystem: the work folder lies in the temporary root.
    QString cacheAlongside() const { return m_alongside->path(); }
    QString configHome() const { return m_home.filePath(QStringLiteral("config")); }
    QString destination() const { return m_data->path(); }

    // Waits until a work folder holds a good part of the archive; its path, or empty.
    QString waitUntilHalfWay(ZipRun& run, const QString& cacheHome)
    {
        const QString root = cacheHome + QStringLiteral("/quorvenda/tmp");
        QString work;
        waitFor([&] {
            work.clear();
            for (const QString& name : folderEntries(destination())) {
                if (name.startsWith(QStringLiteral(".quorvenda-work-")))
                    work = destination() + QLatin1Char('/') + name;
            }
            // In the root, the item works in its worker's own folder.
            for (const QString& name : folderEntries(root)) {
                const QString folder = root + QLatin1Char('/') + name;
                if ((!name.startsWith(QLatin1Char('.')) || name.startsWith(QStringLiteral(".quorvenda-work-")))
                    && bytesBelow(folder) >= halfWayBytes)
                    work = folder;
            }
            return !run.running() || (!work.isEmpty() && bytesBelow(work) >= halfWayBytes);
        }, 60000);
        return run.running() ? work : QString();
    }

    void expectNothingLeft(const QString& cacheHome)
    {
        EXPECT_EQ(folderEntries(destination()), QStringList{QStringLiteral("BIGFOLDER")});
        EXPECT_EQ(folderEntries(m_bigFolder).size(), 6);
        EXPECT_EQ(folderEntries(cacheHome + QStringLiteral("/quorvenda/tmp")), QStringList());
    }

    QTemporaryDir m_home;
    std::unique_ptr<QTemporaryDir> m_data;
    std::unique_ptr<QTemporaryDir> m_alongside;
    QString m_bigFolder;
};

} // namespace

TEST_F(RunStop, ATerminationSignalHalfWayEndsTheRunLeavingNothingBehind)
{
    struct Case {
        int signal;
        bool hidden;
    };
    for (const Case& c : {Case{SIGTERM, true}, Case{SIGINT, false}, Case{SIGHUP, true}, Case{SIGTERM, false}}) {
        SCOPED_TRACE(testing::Message() << "signal " << c.signal << (c.hidden ? ", hidden work folder" : ", work folder in the root"));
        const QString cacheHome = c.hidden ? cacheElsewhere() : cacheAlongside();
        if (cacheHome.isEmpty())
            continue; // no second filesystem here
        ZipRun run(m_bigFolder, cacheHome, configHome());
        const QString work = waitUntilHalfWay(run, cacheHome);
        ASSERT_FALSE(work.isEmpty()) << "the run ended before it could be stopped: "
                                     << run.process().readAllStandardOutput().toStdString()
                                     << run.process().readAllStandardError().toStdString();
        EXPECT_EQ(work.startsWith(destination() + QLatin1Char('/')), c.hidden);

        ::kill(pid_t(run.process().processId()), c.signal);
        // A guard against a hang, not a measure: a stopped run ends in well under 3 s.
        ASSERT_TRUE(run.process().waitForFinished(30000));
        EXPECT_EQ(run.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(run.process().exitCode(), 1);
        EXPECT_EQ(run.result().value(QStringLiteral("state")).toString(), QStringLiteral("cancelled"));
        EXPECT_FALSE(QFileInfo::exists(work));
        expectNothingLeft(cacheHome);
    }
}

TEST_F(RunStop, AHiddenWorkFolderThatACrashLeftIsSweptAtTheNextLaunch)
{
    const QString cacheHome = cacheElsewhere();
    if (cacheHome.isEmpty())
        GTEST_SKIP() << "no second filesystem";
    QString work;
    {
        ZipRun run(m_bigFolder, cacheHome, configHome());
        work = waitUntilHalfWay(run, cacheHome);
        ASSERT_FALSE(work.isEmpty());
        ::kill(pid_t(run.process().processId()), SIGKILL);
        ASSERT_TRUE(run.process().waitForFinished(30000));
    }
    ASSERT_TRUE(QFileInfo(work).isDir());

    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
    // The worker that made it ends with the run, a moment after it; its folder goes at the
    // first launch after that.
    EXPECT_TRUE(waitFor([&] {
        qv::AppLifecycle::runLaunchMaintenance();
        return !QFileInfo::exists(work);
    }));
    qputenv("XDG_CACHE_HOME", savedCache);
    expectNothingLeft(cacheHome);
}
