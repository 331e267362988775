#include "catalogue/ItemMemoryNeed.h"
#include "model/FileInfo.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

using namespace qv;

TEST(ItemMemoryNeed, ComesFromTheLargestPictureOfTheItem)
{
    QTemporaryDir dir;
    QImage opaque(600, 400, QImage::Format_RGB32);
    opaque.fill(Qt::gray);
    const QString small = dir.filePath(QStringLiteral("small.jpg"));
    ASSERT_TRUE(opaque.save(small));
    QImage clear(1000, 800, QImage::Format_ARGB32);
    clear.fill(QColor(0, 0, 0, 0));
    const QString large = dir.filePath(QStringLiteral("large.png"));
    ASSERT_TRUE(clear.save(large));
    const QString text = test::writeFile(dir.filePath(QStringLiteral("notes.txt")), "not a picture");
    const QString fake = test::writeFile(dir.filePath(QStringLiteral("fake.png")), "not a picture either");

    const auto item = [](const QStringList& paths) {
        JobCenter::WorkItem work;
        for (const QString& path : paths)
            work.files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
        return work;
    };
    EXPECT_EQ(itemMemoryNeed(item({small}), {}), pictureMemoryNeed(600, 400, 3));
    // Alpha counts as a fourth band; an item of several pictures needs what its largest needs.
    EXPECT_EQ(itemMemoryNeed(item({small, large}), {}), pictureMemoryNeed(1000, 800, 4));
    EXPECT_GT(pictureMemoryNeed(1000, 800, 4), 1000LL * 800 * 4);
    // Files that are no pictures, or whose header does not read, count nothing.
    EXPECT_EQ(itemMemoryNeed(item({text}), {}), 0);
    EXPECT_EQ(itemMemoryNeed(item({fake}), {}), 0);
}
