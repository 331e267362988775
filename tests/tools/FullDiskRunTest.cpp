// A destination without room, through the same road the application takes: the worker, its
// work folder on the destination's disk, and the sentence the user reads.
#include "support/DevDriver.h"
#include "support/SmallDisk.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

using namespace qv::test;

TEST(FullDiskRun, TurningAJpegSaysTheDiskIsFullAndLeavesNothing)
{
    SmallDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    // Noise keeps the file large: a copy of it cannot fit in what is left.
    QImage noise(600, 600, QImage::Format_RGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256))));
    }
    const QString photo = disk.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(noise.save(photo, "JPEG", 95));
    ASSERT_TRUE(disk.fillLeaving(16 * 1024));
    const QStringList before = QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    QTemporaryDir home;
    const DriverRun turned = runDriverJob({QStringLiteral("tool.image.rotate"), photo}, home.path());
    EXPECT_EQ(turned.code, 1);
    EXPECT_EQ(turned.failure(), QStringLiteral("Not enough disk space"));
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
}
