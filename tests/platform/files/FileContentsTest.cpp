#include "platform/files/FileContents.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace qv;

namespace {

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

QFileDevice::Permissions newFilePermissions()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = 0666 & ~mask;
    QFileDevice::Permissions permissions;
    if (mode & S_IRUSR)
        permissions |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & S_IWUSR)
        permissions |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    if (mode & S_IRGRP)
        permissions |= QFileDevice::ReadGroup;
    if (mode & S_IWGRP)
        permissions |= QFileDevice::WriteGroup;
    if (mode & S_IROTH)
        permissions |= QFileDevice::ReadOther;
    if (mode & S_IWOTH)
        permissions |= QFileDevice::WriteOther;
    return permissions;
}

} // namespace

TEST(FileContents, ReplaceAndCreateNew)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.txt"));
    EXPECT_FALSE(FileContents::replace(path, "one"));
    EXPECT_FALSE(FileContents::replace(path, "two"));
    EXPECT_EQ(test::readFile(path), QByteArray("two"));

    // A taken name is left alone and said to be taken.
    const auto taken = FileContents::createNew(path, "three");
    ASSERT_TRUE(taken);
    EXPECT_TRUE(FileContents::isNameTaken(*taken));
    EXPECT_EQ(test::readFile(path), QByteArray("two"));

    const QString fresh = dir.filePath(QStringLiteral("b.txt"));
    EXPECT_FALSE(FileContents::createNew(fresh, "four"));
    EXPECT_EQ(test::readFile(fresh), QByteArray("four"));
    // Readable like any file the user makes, not just by us.
    EXPECT_EQ(QFileInfo(fresh).permissions(), newFilePermissions());
    EXPECT_FALSE(FileContents::createNew(dir.filePath(QStringLiteral("empty")), QByteArray()));
    EXPECT_EQ(filesIn(dir.path()), (QStringList{QStringLiteral("a.txt"), QStringLiteral("b.txt"),
                                                QStringLiteral("empty")}));

    // A name as long as names go still works.
    const QString longName = dir.filePath(QString(255, QLatin1Char('n')));
    EXPECT_FALSE(FileContents::createNew(longName, "five"));
    EXPECT_EQ(test::readFile(longName), QByteArray("five"));
    QFile::remove(longName);

    const auto missingFolder = FileContents::createNew(dir.filePath(QStringLiteral("no/c")), "x");
    ASSERT_TRUE(missingFolder);
    EXPECT_FALSE(FileContents::isNameTaken(*missingFolder));
}

TEST(FileContents, FullDiskFailsAndKeepsTheOldFile)
{
    test::SmallDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString path = disk.filePath(QStringLiteral("data"));
    const QByteArray old(300 * 1024, 'o');
    ASSERT_FALSE(FileContents::replace(path, old));
    ASSERT_TRUE(disk.fillLeaving(100 * 1024));

    // Bigger than the room left: the write comes up short part way.
    const auto big = FileContents::replace(path, QByteArray(300 * 1024, 'n'));
    ASSERT_TRUE(big);
    EXPECT_TRUE(big->localizedDescription().contains(QStringLiteral("No space left")))
        << big->what();
    EXPECT_EQ(test::readFile(path), old);
    EXPECT_TRUE(FileContents::createNew(disk.filePath(QStringLiteral("new")),
                                        QByteArray(300 * 1024, 'n')));

    // No room at all, for a write far smaller than any buffer.
    ASSERT_TRUE(disk.fillLeaving(0));
    EXPECT_TRUE(FileContents::replace(path, "small"));
    EXPECT_EQ(test::readFile(path), old);
    const auto small = FileContents::createNew(disk.filePath(QStringLiteral("new")), "small");
    ASSERT_TRUE(small);
    EXPECT_FALSE(FileContents::isNameTaken(*small));

    EXPECT_EQ(filesIn(disk.path()),
              (QStringList{QStringLiteral("data"), QStringLiteral("filler")}));
}
