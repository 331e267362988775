#include "platform/files/NameWatch.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

#include <poll.h>

using namespace qv;
using qv::test::writeFile;

namespace {

bool move(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

TEST(NameWatch, SeesANameTakenOrGivenAndTheFolderGoingButNotTheFilesBeside)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("inner"));
    const QString first = writeFile(dir.filePath(QStringLiteral("first.txt")), "1");
    const QString second = writeFile(dir.filePath(QStringLiteral("second.txt")), "2");
    const QString inner = writeFile(dir.filePath(QStringLiteral("inner/third.txt")), "3");

    NameWatch watch({first, second, inner});
    ASSERT_TRUE(watch.watchesAll());
    // Writes to a watched file, and names coming and going beside it.
    writeFile(first, "written again in place");
    const QString beside = writeFile(dir.filePath(QStringLiteral("beside.tmp")), "x");
    ASSERT_TRUE(move(beside, dir.filePath(QStringLiteral("beside.txt"))));
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("beside.txt"))));
    EXPECT_FALSE(watch.changed());

    // The second one's name taken away and given back.
    ASSERT_TRUE(move(second, dir.filePath(QStringLiteral("aside"))));
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("aside")), second));
    EXPECT_TRUE(watch.changed());
    EXPECT_EQ(watch.changedPath(), second);

    // A folder moved away and back.
    NameWatch again({inner});
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("inner")), dir.filePath(QStringLiteral("away"))));
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("away")), dir.filePath(QStringLiteral("inner"))));
    EXPECT_TRUE(again.changed());
    EXPECT_EQ(again.changedPath(), inner);
}

// Every watch of the process shares one inotify instance: a watch that ends leaves another on
// the same folder watching, what happened before a watch stood is not its news, and a change
// read by one watch's reader reaches the watch it concerns.
TEST(NameWatch, WatchesSharingAFolderKeepTheirOwnNews)
{
    QTemporaryDir dir;
    const QString first = writeFile(dir.filePath(QStringLiteral("first.txt")), "1");
    const QString second = writeFile(dir.filePath(QStringLiteral("second.txt")), "2");

    auto early = std::make_unique<NameWatch>(QStringList{first});
    NameWatch later({second});
    ASSERT_TRUE(early->watchesAll() && later.watchesAll());
    EXPECT_EQ(early->fd(), later.fd());
    // The first name replaced: the early watch's news only.
    ASSERT_TRUE(move(first, dir.filePath(QStringLiteral("aside"))));
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("aside")), first));
    EXPECT_FALSE(later.changed());
    EXPECT_TRUE(early->changed());
    EXPECT_EQ(early->changedPath(), first);

    // Ended, it takes its names away but leaves the folder watched for the other.
    early.reset();
    ASSERT_TRUE(move(second, dir.filePath(QStringLiteral("aside"))));
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("aside")), second));
    EXPECT_TRUE(later.changed());
    EXPECT_EQ(later.changedPath(), second);

    // Queued and not read yet when a watch of the same name is made: not its news.
    ASSERT_TRUE(move(second, dir.filePath(QStringLiteral("aside"))));
    ASSERT_TRUE(move(dir.filePath(QStringLiteral("aside")), second));
    NameWatch after({second});
    EXPECT_FALSE(after.changed());

    NameWatch fresh({first});
    EXPECT_FALSE(fresh.changed());
    // Everything queued is read, so a poll on the shared instance does not wake again for it.
    pollfd ready{fresh.fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&ready, 1, 0), 0);
}
