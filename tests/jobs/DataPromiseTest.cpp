#include "jobs/DataPromise.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <QDir>
#include <mutex>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qv;

namespace {

struct Received {
    std::optional<QUrl> file;
    QString error;
};

// Receives every item of the promise into the folder and returns what the reader was told.
QList<Received> receiveAll(DataPromise& promise, int count, const QString& folder)
{
    auto mutex = std::make_shared<std::mutex>();
    auto received = std::make_shared<QList<Received>>();
    promise.receive(folder, [mutex, received](std::optional<QUrl> file, const QString& error) {
        std::lock_guard locker(*mutex);
        received->append({std::move(file), error});
    });
    test::waitFor([&] {
        std::lock_guard locker(*mutex);
        return received->size() == count;
    });
    std::lock_guard locker(*mutex);
    return *received;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

} // namespace

TEST(DataPromise, TakenNamesAreNeverReplaced)
{
    QTemporaryDir dir;
    test::writeFile(dir.filePath(QStringLiteral("photo.png")), "mine");
    DataPromise promise({{QStringLiteral("photo.png"), QStringLiteral("image/png"), "dropped"}});
    const QList<Received> received = receiveAll(promise, 1, dir.path());
    ASSERT_EQ(received.size(), 1);
    ASSERT_TRUE(received[0].file) << received[0].error.toStdString();
    EXPECT_EQ(received[0].file->toLocalFile(), dir.filePath(QStringLiteral("photo 2.png")));
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral("photo.png"))), QByteArray("mine"));
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral("photo 2.png"))), QByteArray("dropped"));
    EXPECT_EQ(filesIn(dir.path()),
              (QStringList{QStringLiteral("photo 2.png"), QStringLiteral("photo.png")}));
}

TEST(DataPromise, FullDiskLeavesNoPartialFile)
{
    test::SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString folder = disk.filePath(QStringLiteral("promises"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(disk.fillLeaving(64 * 1024));

    // One that fits in what is left, one bigger than that, one when nothing is left.
    DataPromise promise({{QStringLiteral("small.txt"), QStringLiteral("text/plain"), "hello"},
                         {QStringLiteral("big.png"), QStringLiteral("image/png"),
                          QByteArray(300 * 1024, 'p')},
                         {QStringLiteral("tiny.txt"), QStringLiteral("text/plain"), "x"}});
    const QList<Received> partly = receiveAll(promise, 3, folder);
    ASSERT_EQ(partly.size(), 3);
    ASSERT_TRUE(partly[0].file) << partly[0].error.toStdString();
    EXPECT_FALSE(partly[1].file);
    EXPECT_FALSE(partly[1].error.isEmpty());
    EXPECT_TRUE(partly[2].file) << partly[2].error.toStdString();
    EXPECT_EQ(filesIn(folder),
              (QStringList{QStringLiteral("small.txt"), QStringLiteral("tiny.txt")}));

    ASSERT_TRUE(disk.fillLeaving(0));
    DataPromise none({{QStringLiteral("late.txt"), QStringLiteral("text/plain"), "late"}});
    const QList<Received> full = receiveAll(none, 1, folder);
    ASSERT_EQ(full.size(), 1);
    EXPECT_FALSE(full[0].file);
    EXPECT_FALSE(full[0].error.isEmpty());
    EXPECT_EQ(filesIn(folder),
              (QStringList{QStringLiteral("small.txt"), QStringLiteral("tiny.txt")}));
}
