#include "platform/files/ExclusiveRename.h"

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
    checkNeverReplaces([](const QString& from, const QString& to) {
        return ExclusiveRename::moveOntoReservation(from, to);
    });
}

TEST(ExclusiveRename, ReservationTakenOverByAnotherProgramIsLeftToIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString ours = dir.filePath(QStringLiteral("ours.txt"));
    const QString target = dir.filePath(QStringLiteral("result.txt"));
    writeFile(ours, "ours");
    // Another program removes our empty reservation and saves its own file in its place.
    const auto replaceReservation = [&](ExclusiveRename::Step step) {
        if (step != ExclusiveRename::Step::reserved)
            return;
        ASSERT_EQ(readFile(target), "");
        QFile::remove(target);
        writeFile(target, "theirs");
    };
    EXPECT_EQ(ExclusiveRename::moveOntoReservation(ours, target, replaceReservation), EEXIST);
    EXPECT_EQ(readFile(target), "theirs");
    EXPECT_EQ(readFile(ours), "ours");

    // The same with folders: their empty folder is not taken for our reservation.
    const QString folder = dir.filePath(QStringLiteral("folder"));
    const QString folderTarget = dir.filePath(QStringLiteral("placed"));
    writeFile(folder + QStringLiteral("/inside.txt"), "inside");
    const auto replaceFolder = [&](ExclusiveRename::Step step) {
        if (step != ExclusiveRename::Step::reserved)
            return;
        ASSERT_TRUE(QDir().rmdir(folderTarget));
        ASSERT_TRUE(QDir().mkdir(folderTarget));
    };
    EXPECT_EQ(ExclusiveRename::moveOntoReservation(folder, folderTarget, replaceFolder), EEXIST);
    EXPECT_EQ(readFile(folder + QStringLiteral("/inside.txt")), "inside");
    EXPECT_TRUE(QDir(folderTarget).isEmpty());

    // Our item replaced the moment it arrived is not reported as placed.
    const auto replaceResult = [&](ExclusiveRename::Step step) {
        if (step != ExclusiveRename::Step::moved)
            return;
        QFile::remove(target);
        writeFile(target, "theirs again");
    };
    QFile::remove(target);
    EXPECT_EQ(ExclusiveRename::moveOntoReservation(ours, target, replaceResult), ENOENT);
    EXPECT_EQ(readFile(target), "theirs again");

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{QStringLiteral("folder"), QStringLiteral("placed"),
                           QStringLiteral("result.txt")}));
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
