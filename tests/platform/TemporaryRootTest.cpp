#include "platform/TemporaryRoot.h"
#include "platform/WorkFolder.h"
#include "platform/WorkFolderRegistry.h"
#include "support/FakeClock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using qv::test::readFile;
using qv::test::writeFile;

namespace {

void setModified(const QString& path, const QDateTime& time)
{
    const timespec spec{time_t(time.toSecsSinceEpoch()), 0};
    const timespec times[2] = {spec, spec};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times,
                          AT_SYMLINK_NOFOLLOW), 0);
}

struct stat statusOf(const QString& path)
{
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}

// Every test gets a cache home of its own.
class TemporaryRootTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_cache.isValid());
        m_saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
    }
    void TearDown() override { qputenv("XDG_CACHE_HOME", m_saved); }

    QString rootPath() const { return m_cache.path() + QStringLiteral("/quorvenda/tmp"); }

    QTemporaryDir m_cache;
    QByteArray m_saved;
};

} // namespace

TEST_F(TemporaryRootTest, IsAPrivateFolderOfThisUser)
{
    EXPECT_EQ(TemporaryRoot::path(), rootPath());
    EXPECT_FALSE(QFileInfo::exists(rootPath())); // path() creates nothing
    EXPECT_EQ(TemporaryRoot::secure(), rootPath());
    const struct stat status = statusOf(rootPath());
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_EQ(status.st_uid, ::geteuid());

    ASSERT_EQ(::chmod(QFile::encodeName(rootPath()).constData(), 0777), 0);
    TemporaryRoot::secure();
    EXPECT_EQ(statusOf(rootPath()).st_mode & 07777, 0700u);

    // A relative XDG_CACHE_HOME is ignored, as the base directory rules say.
    qputenv("XDG_CACHE_HOME", "relative/cache");
    EXPECT_EQ(TemporaryRoot::path(), QDir::homePath() + QStringLiteral("/.cache/quorvenda/tmp"));
}

TEST_F(TemporaryRootTest, ReplacesALinkOrAForeignFolderWithoutTouchingWhatItPointsTo)
{
    QTemporaryDir elsewhere;
    writeFile(elsewhere.filePath(QStringLiteral("precious")), "keep");
    ASSERT_TRUE(QDir().mkpath(m_cache.path() + QStringLiteral("/quorvenda")));
    ASSERT_TRUE(QFile::link(elsewhere.path(), rootPath()));

    TemporaryRoot::secure();
    EXPECT_FALSE(S_ISLNK(statusOf(rootPath()).st_mode));
    EXPECT_TRUE(S_ISDIR(statusOf(rootPath()).st_mode));
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath(QStringLiteral("precious"))));

    // A purge through a planted link must not reach the link's target either.
    ASSERT_TRUE(QDir(rootPath()).removeRecursively());
    ASSERT_TRUE(QFile::link(elsewhere.path(), rootPath()));
    test::FakeClock clock;
    clock.set(QDateTime::currentDateTimeUtc().addYears(5));
    purgeTemporaryItems(0, clock);
    EXPECT_TRUE(QFileInfo::exists(elsewhere.filePath(QStringLiteral("precious"))));

    if (::geteuid() != 0)
        GTEST_SKIP() << "changing an owner needs root";
    ASSERT_EQ(::chown(QFile::encodeName(rootPath()).constData(), 4242, 4242), 0);
    TemporaryRoot::secure();
    EXPECT_EQ(statusOf(rootPath()).st_uid, ::geteuid());
    EXPECT_EQ(QDir(m_cache.path() + QStringLiteral("/quorvenda"))
                  .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("tmp")});
}

TEST_F(TemporaryRootTest, PurgeTakesOldWorkButNeverLiveOrYoungWork)
{
    test::FakeClock clock;
    const QDateTime now = clock.now();
    const QString root = TemporaryRoot::secure();

    const QString old = root + QStringLiteral("/old");
    ASSERT_TRUE(QDir().mkpath(old + QStringLiteral("/deep")));
    writeFile(old + QStringLiteral("/deep/file"), "x");
    setModified(old, now.addSecs(-86401));
    const QString oldFile = root + QStringLiteral("/old.bin");
    writeFile(oldFile, "x");
    setModified(oldFile, now.addDays(-3));
    const QString young = root + QStringLiteral("/young");
    ASSERT_TRUE(QDir().mkpath(young));
    setModified(young, now.addSecs(-3600));
    // A promise folder of a job that has waited for days is still in use.
    const QString live = TemporaryRoot::makeLiveFolder(QStringLiteral("promises-1"));
    setModified(live, now.addDays(-10));
    const auto work = WorkFolder::create(m_cache.path());
    setModified(work->path(), now.addDays(-10));

    EXPECT_EQ(purgeTemporaryItems(86400, clock), 2);
    EXPECT_FALSE(QFileInfo::exists(old));
    EXPECT_FALSE(QFileInfo::exists(oldFile));
    EXPECT_TRUE(QFileInfo::exists(young));
    EXPECT_TRUE(QFileInfo::exists(live));
    EXPECT_TRUE(QFileInfo::exists(work->path()));

    WorkFolderRegistry::remove(live);
    EXPECT_EQ(purgeTemporaryItems(86400, clock), 1);
    EXPECT_FALSE(QFileInfo::exists(live));
    EXPECT_EQ(purgeTemporaryItems(0, clock), 1); // young goes, the live work folder stays
    EXPECT_TRUE(QFileInfo::exists(work->path()));

    work->remove();
    EXPECT_FALSE(QFileInfo::exists(work->path()));
    EXPECT_FALSE(WorkFolderRegistry::contains(work->path()));
}

TEST_F(TemporaryRootTest, KnowsWhatLiesInsideAndHowBigItIs)
{
    const QString root = TemporaryRoot::secure();
    EXPECT_FALSE(isInsideTemporaryRoot(QUrl::fromLocalFile(root)));
    EXPECT_TRUE(isInsideTemporaryRoot(QUrl::fromLocalFile(root + QStringLiteral("/a/b.txt"))));
    EXPECT_FALSE(isInsideTemporaryRoot(QUrl::fromLocalFile(root + QStringLiteral("x/b.txt"))));
    EXPECT_FALSE(isInsideTemporaryRoot(QUrl::fromLocalFile(m_cache.path())));
    // Seen through a link, an item of the root is still inside.
    const QString link = m_cache.filePath(QStringLiteral("alias"));
    ASSERT_TRUE(QFile::link(root, link));
    EXPECT_TRUE(isInsideTemporaryRoot(QUrl::fromLocalFile(link + QStringLiteral("/f"))));

    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/a/.hidden")));
    writeFile(root + QStringLiteral("/a/one"), QByteArray(100, 'x'));
    writeFile(root + QStringLiteral("/a/.hidden/two"), QByteArray(23, 'x'));
    EXPECT_EQ(temporaryRootSize(), 123);
}

TEST_F(TemporaryRootTest, WorkFolderLiesOnTheDestinationsFilesystem)
{
    QTemporaryDir destination(m_cache.path() + QStringLiteral("/dest-XXXXXX"));
    {
        const auto work = WorkFolder::create(destination.path());
        EXPECT_TRUE(work->path().startsWith(rootPath() + QLatin1Char('/')));
        EXPECT_EQ(statusOf(work->path()).st_mode & 07777, 0700u);
        EXPECT_TRUE(WorkFolderRegistry::contains(work->path()));
        writeFile(work->path() + QStringLiteral("/partial"), "x");
        const QString path = work->path();
        const auto copy = work;
        copy->remove();
        EXPECT_FALSE(QFileInfo::exists(path));
    }
    // A destination that does not exist gets its work folder in the root.
    const auto fallback = WorkFolder::create(m_cache.filePath(QStringLiteral("missing")));
    EXPECT_TRUE(fallback->path().startsWith(rootPath()));

    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-work-XXXXXX"));
    if (!memory.isValid()
        || statusOf(memory.path()).st_dev == statusOf(m_cache.path()).st_dev)
        GTEST_SKIP() << "no second filesystem";
    QString path;
    {
        const auto work = WorkFolder::create(memory.path());
        path = work->path();
        EXPECT_TRUE(path.startsWith(memory.path() + QStringLiteral("/.quorvenda-work-")));
        EXPECT_TRUE(QFileInfo(path).isDir());
    }
    EXPECT_FALSE(QFileInfo::exists(path)); // gone with its last owner
}
