#include "engines/image/ImageToolFixture.h"

#include "engines/image/conversion/ImageRotation.h"
#include "engines/image/metadata/ImageMetadataRemoval.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "support/SmallDisk.h"

using namespace qv;
using namespace qv::test;

namespace {

class ImageRotationTest : public ImageToolFixture {
protected:
    QString photo(int orientation)
    {
        const QString path = in("photo.jpeg");
        EXPECT_TRUE(halves(400, 200).save(path, "JPEG", 90));
        EXPECT_EQ(runProgram("exiv2", {"-M", QString("set Exif.Image.Orientation %1").arg(orientation), path}), 0);
        return path;
    }

    int orientationOf(const QString& path) { return ImageDecoder::sourceOrientation(path); }

    QString rotate(const QString& path, int degrees, bool h = false, bool v = false)
    {
        return ImageRotation::rotate(input(path), degrees, h, v, context, work).toLocalFile();
    }
};

} // namespace

TEST_F(ImageRotationTest, OrientationCycleTurnsBothWaysAndRefusesMirrors)
{
    EXPECT_EQ(ImageRotation::turnedOrientation(1, 90), 6);
    EXPECT_EQ(ImageRotation::turnedOrientation(1, -90), 8);
    EXPECT_EQ(ImageRotation::turnedOrientation(1, 270), 8);
    EXPECT_EQ(ImageRotation::turnedOrientation(1, 630), 8);
    EXPECT_EQ(ImageRotation::turnedOrientation(6, 90), 3);
    EXPECT_EQ(ImageRotation::turnedOrientation(1, 360), 1);
    EXPECT_EQ(ImageRotation::turnedOrientation(1, 45), 1);
    EXPECT_FALSE(ImageRotation::turnedOrientation(2, 90));
}

TEST_F(ImageRotationTest, JpegTurnsByOrientationWithItsScanDataUntouched)
{
    const QString source = photo(1);
    const QByteArray before = readFile(source);
    const QString turned = rotate(source, 90);
    EXPECT_EQ(QFileInfo(turned).fileName(), "photo (rotated).jpeg");
    EXPECT_EQ(orientationOf(turned), 6);
    EXPECT_EQ(scanData(turned), scanData(source));
    EXPECT_EQ(readFile(source), before);

    ASSERT_TRUE(QFile::remove(turned));
    EXPECT_EQ(orientationOf(rotate(source, -90)), 8);
}

TEST_F(ImageRotationTest, PngTurnsItsPixelsClockwise)
{
    const QString source = in("wide.png");
    ASSERT_TRUE(halves(40, 20).save(source));
    const QString turned = rotate(source, 90);
    EXPECT_EQ(QFileInfo(turned).fileName(), "wide (rotated).png");
    const QImage image = ImageDecoder::decode(turned).toQImage();
    ASSERT_EQ(image.size(), QSize(20, 40));
    // The left (red) half is now on top.
    EXPECT_EQ(image.pixelColor(10, 5), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(10, 35), QColor(Qt::blue));
}

TEST_F(ImageRotationTest, ALargePictureTurnsAndFlipsThoughItIsDecodedTopDown)
{
    // Far taller than the lines a top-down decoder keeps: a turn reads them all out of order.
    const QString source = in("large.png");
    ASSERT_TRUE(halves(1600, 1200).save(source));
    for (const auto& [degrees, vertical, size, redAt] :
         {std::tuple{90, false, QSize(1200, 1600), QPoint(600, 100)}, std::tuple{180, false, QSize(1600, 1200), QPoint(1500, 600)},
          std::tuple{270, false, QSize(1200, 1600), QPoint(600, 1500)}, std::tuple{0, true, QSize(1600, 1200), QPoint(100, 600)}}) {
        const QString turned = rotate(source, degrees, false, vertical);
        const QImage image = ImageDecoder::decode(turned).toQImage();
        EXPECT_EQ(image.size(), size) << degrees;
        EXPECT_EQ(image.pixelColor(redAt), QColor(Qt::red)) << degrees;
        ASSERT_TRUE(QFile::remove(turned));
    }
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageRotationTest, FlipMirrorsAndIsNamedFlipped)
{
    const QString source = photo(1);
    const QString flipped = rotate(source, 0, true, false);
    EXPECT_EQ(QFileInfo(flipped).fileName(), "photo (flipped).jpg");
    EXPECT_GT(pixel(flipped, 20, 100).blue(), 200);
    EXPECT_GT(pixel(flipped, 380, 100).red(), 200);

    const QString tall = in("tall.png");
    QImage image(10, 20, QImage::Format_RGB32);
    image.fill(Qt::red);
    QPainter(&image).fillRect(0, 10, 10, 10, Qt::blue);
    ASSERT_TRUE(image.save(tall));
    const QString vertical = rotate(tall, 0, false, true);
    EXPECT_EQ(pixel(vertical, 5, 2), QColor(Qt::blue));
    EXPECT_EQ(pixel(vertical, 5, 17), QColor(Qt::red));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageRotationTest, AnimatedGifTurnsEveryFrame)
{
    const QString gif = in("anim.gif");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x32:rate=10:duration=0.3",
                                    "-loop", "0", gif}),
              0);
    const QString turned = rotate(gif, 90);
    EXPECT_EQ(QFileInfo(turned).fileName(), "anim (rotated).gif");
    EXPECT_EQ(vipsField(turned, "n-pages"), "3");
    EXPECT_EQ(vipsField(turned, "width"), "32");
    EXPECT_EQ(vipsField(turned, "height"), "64"); // the first frame
}

TEST_F(ImageRotationTest, RemovingMetadataKeepsScanDataAndOrientationOnly)
{
    const QString source = photo(6);
    ASSERT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Make Quorvenda Camera", "-M",
                                   "set Exif.GPSInfo.GPSLatitudeRef N", "-M", "set Xmp.dc.title Holiday", source}),
              0);
    ASSERT_TRUE(exivTags(source).contains("GPSLatitudeRef"));
    const QByteArray before = readFile(source);
    const QString bare = ImageMetadataRemoval::removeMetadata(input(source), context, work).toLocalFile();
    EXPECT_EQ(QFileInfo(bare).fileName(), "photo (no metadata).jpeg");
    EXPECT_EQ(scanData(bare), scanData(source));
    EXPECT_EQ(orientationOf(bare), 6);
    const QByteArray tags = exivTags(bare);
    EXPECT_FALSE(tags.contains("GPS"));
    EXPECT_FALSE(tags.contains("Make"));
    EXPECT_FALSE(exivTags(bare, "-px").contains("Holiday"));
    EXPECT_EQ(readFile(source), before);
}

TEST_F(ImageRotationTest, RemovingMetadataKeepsEveryFrameOfAnAnimation)
{
    const QString gif = in("anim.gif");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x32:rate=10:duration=0.3",
                                    "-metadata", "comment=Holiday", "-loop", "0", gif}),
              0);
    const QString webp = in("anim.webp");
    ASSERT_EQ(runProgram("vips", {"copy", gif + "[n=-1]", webp}), 0);
    for (const QString& source : {gif, webp}) {
        const QString bare = ImageMetadataRemoval::removeMetadata(input(source), context, work).toLocalFile();
        EXPECT_EQ(vipsField(bare, "n-pages"), "3") << bare.toStdString();
        EXPECT_EQ(vipsField(bare, "width"), "64");
        EXPECT_EQ(vipsField(bare, "height"), "32");
    }
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageRotationTest, UnreadableFileIsDamagedAndLeavesNothing)
{
    const QString junk = writeFile(in("junk.png"), "not a picture at all");
    try {
        rotate(junk, 90);
        FAIL() << "no error";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageRotationTest, AFullDiskSaysSoForTheLosslessTurnAndTheReencodedOne)
{
    // Too large for what is left of the disk, as a copy and as a picture encoded again.
    const QString jpeg = in("big.jpg");
    ASSERT_TRUE(noise(600, 600).save(jpeg, "JPEG", 95));
    const QString png = in("big.png");
    ASSERT_TRUE(noise(600, 600).save(png));
    SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    ASSERT_TRUE(disk.fillLeaving(8 * 1024));
    const QStringList filled = QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    work.workFile = [&](const QString& extension) {
        return QUrl::fromLocalFile(disk.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + "." + extension));
    };
    for (const QString& source : {jpeg, png}) {
        try {
            rotate(source, 90);
            ADD_FAILURE() << source.toStdString() << " turned";
        } catch (...) {
            const JobFailure failure = jobFailure(std::current_exception());
            EXPECT_EQ(failure.message, "Not enough disk space") << source.toStdString() << ": " << failure.details.toStdString();
        }
        EXPECT_EQ(QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), filled) << source.toStdString();
    }
    EXPECT_TRUE(outputs().isEmpty());
}
