#include "platform/ExclusiveRename.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace qv;
using qv::test::readFile;
using qv::test::writeFile;

namespace {

using Mover = int (*)(const QString&, const QString&);

// The same promises hold for the kernel's flag and for the fallback without it.
void checkNeverReplaces(Mover move)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.txt"));
    const QString b = dir.filePath(QStringLiteral("b.txt"));
    writeFile(a, "new");
    writeFile(b, "old");

    EXPECT_EQ(move(a, b), EEXIST);
    EXPECT_EQ(readFile(a), "new");
    EXPECT_EQ(readFile(b), "old");

    // A file never takes the place of a folder, empty or not, and the other way round.
    const QString emptyFolder = dir.filePath(QStringLiteral("empty"));
    ASSERT_TRUE(QDir().mkdir(emptyFolder));
    EXPECT_NE(move(a, emptyFolder), 0);
    EXPECT_TRUE(QFileInfo(emptyFolder).isDir());

    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    writeFile(folder + QStringLiteral("/inside.txt"), "inside");
    const int ontoEmpty = move(folder, emptyFolder);
    EXPECT_TRUE(ontoEmpty == EEXIST || ontoEmpty == ENOTEMPTY) << ontoEmpty;
    EXPECT_EQ(readFile(folder + QStringLiteral("/inside.txt")), "inside");
    EXPECT_NE(move(folder, b), 0);
    EXPECT_EQ(readFile(b), "old");

    // Free names are taken, and the item leaves its old path.
    const QString c = dir.filePath(QStringLiteral("c.txt"));
    EXPECT_EQ(move(a, c), 0);
    EXPECT_FALSE(QFileInfo::exists(a));
    EXPECT_EQ(readFile(c), "new");
    const QString moved = dir.filePath(QStringLiteral("moved"));
    EXPECT_EQ(move(folder, moved), 0);
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(readFile(moved + QStringLiteral("/inside.txt")), "inside");
    // No reservation is left behind by the refused moves.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                  .size(), 4);
}

} // namespace

TEST(ExclusiveRename, NeverReplacesAnExistingItem)
{
    checkNeverReplaces(&ExclusiveRename::move);
    checkNeverReplaces(&ExclusiveRename::moveWithoutNoReplace);
}

TEST(ExclusiveRename, ReportsAMoveAcrossFilesystems)
{
    QTemporaryDir disk;
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-rename-XXXXXX"));
    ASSERT_TRUE(disk.isValid());
    if (!memory.isValid())
        GTEST_SKIP() << "no /dev/shm";
    struct stat first {}, second {};
    ::stat(QFile::encodeName(disk.path()).constData(), &first);
    ::stat(QFile::encodeName(memory.path()).constData(), &second);
    if (first.st_dev == second.st_dev)
        GTEST_SKIP() << "one filesystem only";

    const QString from = memory.filePath(QStringLiteral("x"));
    writeFile(from, "x");
    EXPECT_EQ(ExclusiveRename::move(from, disk.filePath(QStringLiteral("x"))), EXDEV);
    EXPECT_EQ(ExclusiveRename::moveWithoutNoReplace(from, disk.filePath(QStringLiteral("x"))),
              EXDEV);
    EXPECT_TRUE(QFileInfo::exists(from));
    EXPECT_FALSE(QFileInfo::exists(disk.filePath(QStringLiteral("x"))));
}
