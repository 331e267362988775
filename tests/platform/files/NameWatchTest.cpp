#include "platform/files/NameWatch.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>

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
