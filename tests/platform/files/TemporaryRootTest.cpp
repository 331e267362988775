#include "platform/files/MountWatcher.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/files/WorkFolderRegistry.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
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
    QString journalPath() const { return rootPath() + QLatin1Char('/') + QLatin1String(WorkFolderJournal::fileName); }

    // A folder on another filesystem than the cache, where work folders are hidden ones.
    bool makeOtherFilesystemFolder()
    {
        m_other = std::make_unique<QTemporaryDir>(QStringLiteral("/dev/shm/qv-journal-XXXXXX"));
        return m_other->isValid() && statusOf(m_other->path()).st_dev != statusOf(m_cache.path()).st_dev;
    }
    QString otherPath() const { return m_other->path(); }

    QTemporaryDir m_cache;
    QByteArray m_saved;
    std::unique_ptr<QTemporaryDir> m_other;
};

QByteArray procField(const QString& file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

// A journal line as another process would have written it.
QByteArray journalLine(const QByteArray& boot, pid_t pid, const QByteArray& start, const QString& path)
{
    return boot + ' ' + QByteArray::number(pid) + ' ' + start + ' '
        + QFile::encodeName(path).toPercentEncoding() + '\n';
}

QByteArray bootId()
{
    return procField(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed();
}

QByteArray startTime(pid_t pid)
{
    const QByteArray stat = procField(QStringLiteral("/proc/%1/stat").arg(pid));
    return stat.mid(stat.lastIndexOf(')') + 2).split(' ').value(19);
}

QString hiddenName()
{
    return QLatin1String(WorkFolder::hiddenPrefix) + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

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

TEST_F(TemporaryRootTest, HiddenWorkFoldersAreListedWhileTheyExist)
{
    if (!makeOtherFilesystemFolder())
        GTEST_SKIP() << "no second filesystem";
    auto first = WorkFolder::create(otherPath());
    auto second = WorkFolder::create(otherPath());
    ASSERT_TRUE(first->path().startsWith(otherPath() + QStringLiteral("/.quorvenda-work-")));
    const QByteArray listed = readFile(journalPath());
    EXPECT_TRUE(listed.contains(QFile::encodeName(first->path()).toPercentEncoding()));
    EXPECT_TRUE(listed.contains(QFile::encodeName(second->path()).toPercentEncoding()));
    EXPECT_EQ(listed.count('\n'), 2);

    first->remove();
    EXPECT_FALSE(readFile(journalPath()).contains(QFile::encodeName(first->path()).toPercentEncoding()));
    second.reset();
    // With the last one gone, so is the list: the root is empty again.
    EXPECT_TRUE(QDir(rootPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

    // A live one survives a purge, and the list with it, however old both look.
    const auto live = WorkFolder::create(otherPath());
    setModified(journalPath(), QDateTime::currentDateTime().addDays(-10));
    EXPECT_EQ(purgeTemporaryItems(0), 0);
    EXPECT_TRUE(QFileInfo(live->path()).isDir());
    EXPECT_TRUE(readFile(journalPath()).contains(QFile::encodeName(live->path()).toPercentEncoding()));
}

TEST_F(TemporaryRootTest, PurgeSweepsHiddenWorkFoldersTheirProcessLeftBehind)
{
    if (!makeOtherFilesystemFolder())
        GTEST_SKIP() << "no second filesystem";
    // One this process no longer uses, as after a failed removal.
    const auto abandoned = WorkFolder::create(otherPath());
    writeFile(abandoned->path() + QStringLiteral("/deep/partial.zip"), "partial");
    WorkFolderRegistry::remove(abandoned->path());

    // One of a process that has ended, and one of a process that still runs (our parent).
    const QString crashed = otherPath() + QLatin1Char('/') + hiddenName();
    writeFile(crashed + QStringLiteral("/partial"), "x");
    const QString running = otherPath() + QLatin1Char('/') + hiddenName();
    ASSERT_TRUE(QDir().mkpath(running));
    const QString missing = otherPath() + QLatin1Char('/') + hiddenName();
    QFile journal(journalPath());
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(journalLine("another-boot", 12345, "1", crashed));
    journal.write(journalLine(bootId(), ::getppid(), startTime(::getppid()), running));
    journal.write(journalLine("another-boot", 12346, "1", missing));
    journal.write("a line of no meaning\n\n");
    journal.close();

    EXPECT_EQ(purgeTemporaryItems(86400), 2);
    EXPECT_FALSE(QFileInfo::exists(abandoned->path()));
    EXPECT_FALSE(QFileInfo::exists(crashed));
    EXPECT_TRUE(QFileInfo(running).isDir());
    const QByteArray left = readFile(journalPath());
    EXPECT_EQ(left, journalLine(bootId(), ::getppid(), startTime(::getppid()), running));
}

TEST_F(TemporaryRootTest, SweepNeverFollowsALinkNorTouchesWhatIsNotAWorkFolder)
{
    if (!makeOtherFilesystemFolder())
        GTEST_SKIP() << "no second filesystem";
    const QString victim = otherPath() + QStringLiteral("/victim");
    writeFile(victim + QStringLiteral("/precious"), "keep");

    // A work folder replaced by a link to someone's folder.
    const auto replaced = WorkFolder::create(otherPath());
    WorkFolderRegistry::remove(replaced->path());
    ASSERT_TRUE(QDir(replaced->path()).removeRecursively());
    ASSERT_TRUE(QFile::link(victim, replaced->path()));

    // A work folder reached through a link that took its parent's place.
    const QString parent = otherPath() + QStringLiteral("/parent");
    const QString throughLink = parent + QLatin1Char('/') + hiddenName();
    const QString elsewhere = otherPath() + QStringLiteral("/elsewhere");
    writeFile(elsewhere + QLatin1Char('/') + throughLink.section(QLatin1Char('/'), -1) + QStringLiteral("/f"), "keep");
    ASSERT_TRUE(QFile::link(elsewhere, parent));

    // Entries naming what was never a work folder.
    const QString plainFile = otherPath() + QLatin1Char('/') + hiddenName();
    writeFile(plainFile, "keep");
    QFile journal(journalPath());
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(journalLine("another-boot", 12345, "1", victim));
    journal.write(journalLine("another-boot", 12345, "1", otherPath() + QStringLiteral("/x/../victim")));
    journal.write(journalLine("another-boot", 12345, "1", QStringLiteral("victim/") + hiddenName()));
    journal.write(journalLine("another-boot", 12345, "1", throughLink));
    journal.write(journalLine("another-boot", 12345, "1", plainFile));
    journal.close();

    EXPECT_EQ(purgeTemporaryItems(86400), 0);
    EXPECT_EQ(readFile(victim + QStringLiteral("/precious")), "keep");
    EXPECT_TRUE(QFileInfo(replaced->path()).isSymLink());
    EXPECT_EQ(readFile(throughLink + QStringLiteral("/f")), "keep");
    EXPECT_EQ(readFile(plainFile), "keep");
    // Every entry is dropped: none of them can ever be removed.
    EXPECT_FALSE(QFileInfo::exists(journalPath()));
}

TEST_F(TemporaryRootTest, AFullDiskKeepsTheListWholeAndTheWorkFolderUsable)
{
    if (!makeOtherFilesystemFolder())
        GTEST_SKIP() << "no second filesystem";
    // A cache home on a tiny filesystem.
    const QString small = m_cache.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(small));
    if (::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{QFile::encodeName(small)};
    qputenv("XDG_CACHE_HOME", QFile::encodeName(small));
    const QString root = TemporaryRoot::secure();
    const QString list = root + QLatin1Char('/') + QLatin1String(WorkFolderJournal::fileName);
    auto earlier = WorkFolder::create(otherPath());
    const QByteArray listed = readFile(list);
    ASSERT_TRUE(listed.contains(QFile::encodeName(earlier->path()).toPercentEncoding()));
    {
        QFile filler(small + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }

    test::LogCapture log;
    {
        const auto work = WorkFolder::create(otherPath());
        EXPECT_TRUE(work->path().startsWith(otherPath() + QStringLiteral("/.quorvenda-work-")));
        EXPECT_TRUE(QFileInfo(work->path()).isDir());
        EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.app"),
                                 QStringLiteral("Could not list %1: a crash would leave it behind").arg(work->path())));
        EXPECT_EQ(readFile(list), listed);
    }
    // Emptied, the list goes, full disk or not.
    earlier.reset();
    const QStringList inRoot = QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    EXPECT_TRUE(inRoot.isEmpty()) << inRoot.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(QDir(otherPath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

// A crash left a work folder on a stick that was away at the next start: it stays listed and
// goes when the stick is back. One whose destination was renamed during its item is found there.
TEST_F(TemporaryRootTest, WorkFoldersOnAStickThatWasAwayOrInARenamedFolderStillGo)
{
    if (!makeOtherFilesystemFolder())
        GTEST_SKIP() << "no second filesystem";
    const QString stick = otherPath() + QStringLiteral("/stick");
    const QString left = stick + QLatin1Char('/') + hiddenName();
    QFile journal(journalPath());
    ASSERT_TRUE(QDir().mkpath(rootPath()));
    ASSERT_TRUE(journal.open(QIODevice::Append));
    journal.write(journalLine("another-boot", 12345, "1", left));
    journal.close();
    EXPECT_EQ(purgeTemporaryItems(86400), 0);
    EXPECT_TRUE(readFile(journalPath()).contains(QFile::encodeName(left).toPercentEncoding()));

    writeFile(left + QStringLiteral("/partial.mkv"), "partial");
    EXPECT_EQ(WorkFolderJournal::sweep(), 1);
    EXPECT_FALSE(QFileInfo::exists(left));
    EXPECT_TRUE(QFileInfo(stick).isDir());

    const QString destination = otherPath() + QStringLiteral("/photos");
    ASSERT_TRUE(QDir().mkpath(destination));
    auto work = WorkFolder::create(destination);
    ASSERT_TRUE(work->path().startsWith(destination + QStringLiteral("/.quorvenda-work-")));
    writeFile(work->path() + QStringLiteral("/result.mkv"), "most of a result");
    const QString name = QFileInfo(work->path()).fileName();
    ASSERT_TRUE(QDir().rename(destination, otherPath() + QStringLiteral("/renamed")));
    work.reset();
    EXPECT_FALSE(QFileInfo::exists(otherPath() + QStringLiteral("/renamed/") + name));
    EXPECT_TRUE(QDir(otherPath() + QStringLiteral("/renamed"))
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
    EXPECT_FALSE(QFileInfo::exists(journalPath()));
}

TEST(MountWatcher, TellsWhenAFilesystemIsMounted)
{
    MountWatcher watcher;
    ASSERT_TRUE(watcher.isWatching());
    QTemporaryDir point;
    if (::mount("tmpfs", QFile::encodeName(point.path()).constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs";
    bool changed = false;
    QObject::connect(&watcher, &MountWatcher::mountsChanged, [&changed] { changed = true; });
    QElapsedTimer waited;
    waited.start();
    while (!changed && waited.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    ::umount2(QFile::encodeName(point.path()).constData(), MNT_DETACH);
    EXPECT_TRUE(changed);
}
