#include "engines/image/foreign/ImageToPng.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(ImageToPng, CmykBecomesEightBitRgbAndDamageNoPicture)
{
    QTemporaryDir dir;
    const QString jpeg = writeCmykJpeg(dir.filePath("ink.jpg"), 40, 30, QColor(200, 30, 30));
    ASSERT_FALSE(jpeg.isEmpty());
    const QString tiff = dir.filePath("ink.tiff");
    ASSERT_EQ(runProgram("vips", {"copy", jpeg, tiff}), 0);
    ASSERT_EQ(vipsField(tiff, "bands"), "4");

    const std::optional<QByteArray> png = imageToPng(readFile(tiff));
    ASSERT_TRUE(png);
    const QString written = writeFile(dir.filePath("ink.png"), *png);
    EXPECT_TRUE(programOutput("vipsheader", {written}).contains(" uchar, 3 bands"))
        << programOutput("vipsheader", {written}).toStdString();
    const QColor seen = QImage(written).pixelColor(20, 15);
    EXPECT_GT(seen.red(), 160);
    EXPECT_LT(seen.green(), 90);

    const QString noisy = writeNoisyImage(dir.filePath("noisy.tiff"));
    ASSERT_FALSE(noisy.isEmpty());
    const QByteArray whole = readFile(noisy);
    EXPECT_TRUE(imageToPng(whole));
    EXPECT_FALSE(imageToPng(whole.left(whole.size() / 2)));
}
