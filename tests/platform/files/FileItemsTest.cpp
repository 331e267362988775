#include "platform/files/FileItems.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace qv;
using namespace qv::test;

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

void setTime(const QByteArray& path, time_t seconds, long nanoseconds)
{
    const timespec times[2] = {{seconds - 3600, 0}, {seconds, nanoseconds}};
    ::utimensat(AT_FDCWD, path.constData(), times, AT_SYMLINK_NOFOLLOW);
}

void writeRaw(const QByteArray& path, const QByteArray& data, mode_t mode)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << path.constData();
    ASSERT_EQ(::write(fd, data.constData(), size_t(data.size())), data.size());
    ::close(fd);
    ::chmod(path.constData(), mode);
}

// A folder of everything a move must carry across: modes beyond the umask, read-only items, an
// empty folder, links that resolve and one that does not, two names of one file, a pipe, a
// name that is not UTF-8, tags, and times from long ago on all of them.
void makeEverything(const QByteArray& root)
{
    ASSERT_EQ(::mkdir(root.constData(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/empty").constData(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/sub").constData(), 0700), 0);
    ASSERT_EQ(::mkdir((root + "/locked").constData(), 0700), 0);
    writeRaw(root + "/open", "open to all", 0777);
    writeRaw(root + "/tool", "#!/bin/sh\n", 0755);
    writeRaw(root + "/secret", "mine", 0600);
    writeRaw(root + "/locked/kept", "read only", 0444);
    writeRaw(root + "/caf\xe9.txt", "latin-1 name", 0640);
    writeRaw(root + "/sub/first", "one file, two names", 0644);
    ASSERT_EQ(::link((root + "/sub/first").constData(), (root + "/second").constData()), 0);
    ASSERT_EQ(::symlink("tool", (root + "/link").constData()), 0);
    ASSERT_EQ(::symlink("nowhere", (root + "/dangling").constData()), 0);
    ASSERT_EQ(::mkfifo((root + "/pipe").constData(), 0640), 0);
    ::setxattr((root + "/tool").constData(), "user.xdg.tags", "Red,Work", 8, 0);

    time_t when = 1234567890;
    for (const char* name : {"/open", "/tool", "/secret", "/locked/kept", "/caf\xe9.txt", "/sub/first",
                             "/link", "/dangling", "/pipe", "/empty", "/sub", "/locked", ""}) {
        setTime(root + name, when, 123456789);
        when += 86400;
    }
    ::chmod((root + "/locked").constData(), 0555);
    ::chmod((root + "/empty").constData(), 0750);
    ::chmod(root.constData(), 0751);
    setTime(root + "/locked", 1000000000, 5);
    setTime(root + "/empty", 1000000000, 6);
    setTime(root, 1000000000, 7);
}

QString otherFilesystemFolder(QTemporaryDir& memory, const QTemporaryDir& disk)
{
    // /dev/shm is a filesystem of its own on most systems; elsewhere the copy runs the same
    // steps within one.
    return memory.isValid() ? memory.path() : disk.path();
}

} // namespace

TEST(FileItems, ACopyKeepsWhatAMoveKeeps)
{
    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-items-XXXXXX"));
    const RemoveAtExit cleanDisk(disk.path()), cleanMemory(memory.path());
    ASSERT_TRUE(disk.isValid());
    const QByteArray from = native(disk.filePath(QStringLiteral("from")));
    makeEverything(from);
    const QString to = otherFilesystemFolder(memory, disk) + QStringLiteral("/to");
    // Modes are the source's, not what the umask leaves of them.
    const mode_t savedMask = ::umask(022);
    const int error = FileItems::copy(QFile::decodeName(from), to);
    ::umask(savedMask);
    ASSERT_EQ(error, 0) << strerror(error);

    EXPECT_EQ(treeDescription(to), treeDescription(QFile::decodeName(from)));
    struct stat first {}, second {};
    ::lstat(native(to + QStringLiteral("/sub/first")).constData(), &first);
    ::lstat(native(to + QStringLiteral("/second")).constData(), &second);
    EXPECT_EQ(first.st_ino, second.st_ino) << "two names of one file stay one file";
    EXPECT_EQ(first.st_nlink, 2u);

    char tags[64] = {};
    if (::getxattr((from + "/tool").constData(), "user.xdg.tags", tags, sizeof tags) > 0) {
        char copied[64] = {};
        ::getxattr(native(to + QStringLiteral("/tool")).constData(), "user.xdg.tags", copied,
                   sizeof copied);
        EXPECT_STREQ(copied, tags);
    }

    // Nothing is replaced.
    EXPECT_EQ(FileItems::copy(QFile::decodeName(from), to), EEXIST);
    EXPECT_EQ(FileItems::copy(QFile::decodeName(from + "/tool"), to + QStringLiteral("/secret")), EEXIST);
    EXPECT_EQ(readFile(to + QStringLiteral("/secret")), "mine");
}

TEST(FileItems, RemovingTakesReadOnlyFoldersOfOurOwnAndNamesThatAreNotUtf8)
{
    QTemporaryDir dir;
    const RemoveAtExit clean(dir.path());
    const QByteArray root = native(dir.filePath(QStringLiteral("tree")));
    makeEverything(root);
    const QString outside = writeFile(dir.filePath(QStringLiteral("outside/kept")), "kept");
    ASSERT_EQ(::symlink(native(dir.filePath(QStringLiteral("outside"))).constData(),
                        (root + "/sub/away").constData()),
              0);

    EXPECT_TRUE(FileItems::remove(QFile::decodeName(root)));
    struct stat st {};
    EXPECT_NE(::lstat(root.constData(), &st), 0);
    EXPECT_EQ(readFile(outside), "kept") << "a link inside is removed, not what it points to";
    EXPECT_FALSE(FileItems::remove(QFile::decodeName(root)));
}

TEST(FileItems, CheckRemovableFindsWhatWouldStopARemovalHalfway)
{
    QTemporaryDir dir;
    const RemoveAtExit clean(dir.path());
    const QByteArray root = native(dir.filePath(QStringLiteral("tree")));
    makeEverything(root);
    EXPECT_EQ(FileItems::checkRemovable(QFile::decodeName(root + "/tool")), 0);

    // The read-only folder "locked" holds a file. Root may empty it all the same; anyone else
    // may not.
    EXPECT_EQ(FileItems::checkRemovable(QFile::decodeName(root)), ::geteuid() == 0 ? 0 : EACCES);
    EXPECT_EQ(FileItems::checkRemovable(QFile::decodeName(root + "/empty")), 0)
        << "an empty folder has nothing in it to remove";

    // A disk mounted inside cannot go with the folder, nor can a read-only one.
    const QByteArray mountPoint = root + "/sub/disk";
    ASSERT_EQ(::mkdir(mountPoint.constData(), 0755), 0);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "mounting needs root";
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    EXPECT_EQ(FileItems::checkRemovable(QFile::decodeName(root + "/sub")), EBUSY);
    EXPECT_EQ(FileItems::checkRemovable(QFile::decodeName(mountPoint)), 0) << "it is empty";
}
