#include "catalogue/isolated/ItemMemoryNeed.h"
#include "model/files/FileInfo.h"
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

TEST(ItemMemoryNeed, WebPFollowsTheSourcesContent)
{
    QTemporaryDir dir;
    const QString noisy = dir.filePath("noisy.jpg");
    const QString flat = dir.filePath("flat.jpg");
    ASSERT_EQ(test::runProgram("vips", {"gaussnoise", noisy + "[Q=90]", "800", "600", "--sigma", "40"}), 0);
    ASSERT_EQ(test::runProgram("vips", {"black", flat + "[Q=90]", "800", "600"}), 0);

    const auto item = [](const QString& path, const QString& id, std::optional<QString> extension) {
        JobCenter::WorkItem work;
        work.descriptor.id = id;
        work.descriptor.outputExtension = std::move(extension);
        work.files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
        return work;
    };
    const qint64 noisyNeed = itemMemoryNeed(item(noisy, "convert.image.webp", "webp"), {});
    const qint64 flatNeed = itemMemoryNeed(item(flat, "convert.image.webp", "webp"), {});
    EXPECT_GT(noisyNeed, flatNeed);
    EXPECT_EQ(flatNeed, webpMemoryNeed(800, 600, false, flat, true, SettingsSnapshot::load()));
    // Other writers keep the size-only need.
    EXPECT_EQ(itemMemoryNeed(item(noisy, "convert.image.png", "png"), {}), pictureMemoryNeed(800, 600, 3));
}
