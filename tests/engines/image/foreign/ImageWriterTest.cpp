#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/ImageWriteSupport.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "support/ImageTestImages.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <thread>
#include <tuple>

using namespace qv;
using namespace qv::test;

namespace {

// A 400 x 300 JPEG turned a quarter, with a maker, GPS and XMP.
QString taggedJpeg(const QString& path)
{
    writeOpaqueImage(path, 400, 300, 300);
    EXPECT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Orientation 6", "-M", "set Exif.Image.Make Quorcam",
                                   "-M", "set Exif.GPSInfo.GPSLatitudeRef N", "-M",
                                   "set Exif.GPSInfo.GPSLatitude 48/1 51/1 0/1", "-M",
                                   "set Xmp.dc.title Secret", path}),
              0);
    return path;
}

} // namespace

TEST(ImageWriter, KeptMetadataIsUprightWithoutXmp)
{
    QTemporaryDir dir;
    const QString source = taggedJpeg(dir.filePath("cam.jpg"));
    const DecodedImage image = ImageDecoder::decode(source);
    ASSERT_FALSE(image.properties().xmp.isEmpty());

    const QString kept = dir.filePath("kept.webp");
    ImageWriter::write(image, ImageOutput::webp, kept, ImageWriter::destinationProperties(image.properties(), true), 0.85);
    EXPECT_EQ(vipsField(kept, "width"), "300");
    EXPECT_EQ(vipsField(kept, "height"), "400");
    const QByteArray tags = exivTags(kept);
    EXPECT_TRUE(tags.contains("Quorcam")) << tags.constData();
    EXPECT_TRUE(tags.contains("GPSLatitude"));
    EXPECT_TRUE(tags.contains("Exif.Image.Orientation") && tags.contains("top, left")) << tags.constData();
    EXPECT_FALSE(exivTags(kept, "-px").contains("Secret"));

    const QString bare = dir.filePath("bare.jpg");
    const DecodedImage again = ImageDecoder::decode(source);
    ImageWriter::write(again, ImageOutput::jpg, bare, ImageWriter::destinationProperties(again.properties(), false), 0.85);
    const QByteArray none = exivTags(bare);
    EXPECT_FALSE(none.contains("Quorcam"));
    EXPECT_FALSE(none.contains("GPS"));
    EXPECT_FALSE(exivTags(bare, "-px").contains("Secret"));
    // The resolution passes either way.
    EXPECT_NEAR(vipsField(bare, "xres").toDouble() * 25.4, 300.0, 0.5);
}

TEST(ImageWriter, QualityRulesFollowTheSettings)
{
    SettingsSnapshot settings;
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::jpg, 70, settings), 0.70);
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::jpg, 95, settings), 0.85);
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::jp2, 50, settings), 0.85);
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::webp, {}, settings), 0.85);
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::avif, {}, settings), 0.70);
    EXPECT_DOUBLE_EQ(ImageWriter::outputQuality(ImageOutput::png, {}, settings), 1.0);
    EXPECT_EQ(ImageWriter::vipsQuality(0.0), 1);
    EXPECT_EQ(ImageWriter::vipsQuality(0.85), 85);
    EXPECT_EQ(ImageWriter::cannotWriteMessage(ImageOutput::heic), "This computer can't write HEIC images");
}

TEST(ImageWriter, TransformsTurnFlipFlattenAndSquare)
{
    QImage picture(30, 20, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    picture.setPixelColor(0, 0, QColor(255, 0, 0));
    const DecodedImage image = DecodedImage::fromPixels(picture);
    const QImage turned = ImageTransforms::transformed(image, 90, false, false).toQImage();
    EXPECT_EQ(turned.size(), QSize(20, 30));
    EXPECT_EQ(turned.pixelColor(19, 0).red(), 255); // top left went to top right
    const QImage back = ImageTransforms::transformed(image, -90, false, false).toQImage();
    EXPECT_EQ(back.pixelColor(0, 29).red(), 255);
    const QImage mirrored = ImageTransforms::transformed(image, 0, true, false).toQImage();
    EXPECT_EQ(mirrored.pixelColor(29, 0).red(), 255);
    const QImage flat = ImageTransforms::flatten(image, QColor(0, 255, 0)).toQImage();
    EXPECT_EQ(flat.format(), QImage::Format_RGB888);
    EXPECT_EQ(flat.pixelColor(10, 10), QColor(0, 255, 0));
    const DecodedImage square = ImageTransforms::squareCanvas(image);
    EXPECT_EQ(square.width(), 30);
    EXPECT_EQ(square.height(), 30);
    EXPECT_EQ(square.toQImage().pixelColor(0, 5).red(), 255);
    const DecodedImage scaled = ImageTransforms::scaledImage(square, 16, 16);
    EXPECT_EQ(scaled.width(), 16);
    EXPECT_EQ(scaled.height(), 16);
}

TEST(ImageWriter, FailuresLeaveNothing)
{
    QTemporaryDir dir;
    // WebP holds at most 16383 pixels a side.
    const QString wide = dir.filePath("wide.png");
    ASSERT_EQ(runProgram("vips", {"black", wide, "17000", "4"}), 0);
    const QString webp = dir.filePath("wide.webp");
    try {
        ImageWriter::write(ImageDecoder::decode(wide), ImageOutput::webp, webp, {}, 0.8);
        ADD_FAILURE() << "written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This picture is too large for WEBP: at most 16,383 pixels a side");
    }
    EXPECT_FALSE(QFileInfo::exists(webp));

    // Pixels that turn out damaged while being written.
    const QString good = writeOpaqueImage(dir.filePath("good.jpg"), 800, 600);
    QByteArray bytes = readFile(good);
    const QString cut = writeFile(dir.filePath("cut.jpg"), bytes.left(bytes.size() / 2));
    const QString out = dir.filePath("out.png");
    try {
        ImageWriter::write(ImageDecoder::decode(cut), ImageOutput::png, out, {}, 1.0);
        ADD_FAILURE() << "written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), ImageDecoder::damagedMessage());
    }
    EXPECT_FALSE(QFileInfo::exists(out));
}

TEST(ImageWriter, AStopReachesTheEncoderMidWrite)
{
    // libvips' savers and our own WebP writer alike.
    for (const auto& [output, side, name] : {std::tuple{ImageOutput::tiff, "6000", "out.tiff"},
                                             std::tuple{ImageOutput::webp, "3000", "out.webp"}}) {
        QTemporaryDir dir;
        const QString big = dir.filePath("big.v");
        ASSERT_EQ(runProgram("vips", {"gaussnoise", big, side, side}), 0);
        const QString out = dir.filePath(name);
        std::stop_source stop;
        ImageWork work;
        work.stop = stop.get_token();
        std::thread watcher([&] {
            // The writer has begun once its file exists.
            while (!QFileInfo::exists(out) && !stop.stop_requested())
                std::this_thread::yield();
            stop.request_stop();
        });
        bool cancelled = false;
        try {
            ImageWriter::write(ImageDecoder::decode(big), output, out, {}, output == ImageOutput::webp ? 0.85 : 1.0,
                               work);
        } catch (const CancellationError&) {
            cancelled = true;
        }
        stop.request_stop();
        watcher.join();
        EXPECT_TRUE(cancelled) << name;
        EXPECT_FALSE(QFileInfo::exists(out)) << name;
    }
}

// Savers writing through a libvips target used to spin on a refused write (JPEG 2000 for ever);
// every format now ends, says the disk is full, and leaves nothing. WebP, Photoshop and icons
// write through files of their own, whose refused writes Qt reports with no reason.
TEST(ImageWriter, AFullDiskFailsWithNothingLeft)
{
    QTemporaryDir dir;
    SmallDisk disk(16 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    const QString noisy = dir.filePath("noisy.v");
    ASSERT_EQ(runProgram("vips", {"gaussnoise", noisy, "1000", "1000"}), 0);
    const DecodedImage image = ImageDecoder::decode(noisy);
    for (ImageOutput output : {ImageOutput::png, ImageOutput::jpg, ImageOutput::tiff, ImageOutput::webp,
                               ImageOutput::bmp, ImageOutput::tga, ImageOutput::ico, ImageOutput::jp2,
                               ImageOutput::gif, ImageOutput::heic, ImageOutput::avif, ImageOutput::psd,
                               ImageOutput::icns}) {
        const std::string name = toString(output).toStdString();
        const bool icon = output == ImageOutput::ico || output == ImageOutput::icns;
        if (!icon && !ImageWriteSupport::current().canWrite(output))
            continue;
        const QString target = disk.filePath("out." + toString(output));
        try {
            ImageWriter::write(image, output, target, {}, 0.9);
            ADD_FAILURE() << name << " written";
        } catch (...) {
            EXPECT_EQ(jobFailure(std::current_exception()).message, "Not enough disk space") << name;
        }
        EXPECT_TRUE(QDir(disk.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) << name;
    }
}

// A TGA's first row is the picture's top for every reader, FFmpeg's among them, not only for
// the library that wrote it.
TEST(ImageWriter, ATgaStandsUprightForOtherReaders)
{
    QTemporaryDir dir;
    // White above, black below.
    const QString png = dir.filePath("halves.png");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=white:size=16x8,pad=16:16:0:0:black",
                                    "-frames:v", "1", png}),
              0);
    const QString tga = dir.filePath("halves.tga");
    ImageWriter::write(ImageDecoder::decode(png), ImageOutput::tga, tga, {}, 1.0);
    QByteArray grey;
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-i", tga, "-f", "rawvideo", "-pix_fmt", "gray", "-"}, &grey), 0);
    ASSERT_EQ(grey.size(), 256);
    EXPECT_EQ(uchar(grey[0]), 255) << "the top row is black: the picture is upside down";
    EXPECT_EQ(uchar(grey[255]), 0);
}

// A small picture of one colour keeps its colour in JPEG 2000 (lossy, OpenJPEG made white grey).
TEST(ImageWriter, ASmallFlatPictureKeepsItsColourInJpeg2000)
{
    QTemporaryDir dir;
    const QString png = dir.filePath("white.png");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "color=white:size=8x8", "-frames:v", "1", png}), 0);
    const QString jp2 = dir.filePath("white.jp2");
    ImageWriter::write(ImageDecoder::decode(png), ImageOutput::jp2, jp2, {}, 0.8);
    QByteArray grey;
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-i", jp2, "-f", "rawvideo", "-pix_fmt", "gray", "-"}, &grey), 0);
    ASSERT_EQ(grey.size(), 64);
    EXPECT_GE(uchar(grey[0]), 254);
    EXPECT_GE(uchar(grey[63]), 254);
}

// A two-pixel picture keeps both colours in HEIC and AVIF: lossy coding moved them by a tenth of
// the range, and a colour of one pixel bled into the other.
TEST(ImageWriter, ATinyPictureKeepsItsColoursInHeicAndAvif)
{
    QTemporaryDir dir;
    QImage tiny(2, 1, QImage::Format_RGB32);
    tiny.setPixel(0, 0, qRgb(200, 30, 90));
    tiny.setPixel(1, 0, qRgb(20, 160, 240));
    const QString png = dir.filePath("tiny.png");
    ASSERT_TRUE(tiny.save(png));
    for (const auto& [output, name] : {std::pair{ImageOutput::heic, "tiny.heic"}, std::pair{ImageOutput::avif, "tiny.avif"}}) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        ImageWriter::write(ImageDecoder::decode(png), output, path, {}, 0.8);
        for (const auto& [x, expected] : {std::pair{0, QList<int>{200, 30, 90}}, std::pair{1, QList<int>{20, 160, 240}}}) {
            QByteArray point;
            ASSERT_EQ(runProgram("vips", {"getpoint", path, QString::number(x), "0"}, &point), 0) << name;
            // The numbers' line; libheif's loader may warn beside it.
            QStringList values;
            static const QRegularExpression numbers(QStringLiteral("^[0-9 ]+$"));
            for (const QString& line : QString::fromLatin1(point).split(QLatin1Char('\n')))
                if (numbers.match(line.trimmed()).hasMatch())
                    values = line.simplified().split(QLatin1Char(' '));
            ASSERT_GE(values.size(), 3) << name;
            for (int band = 0; band < 3; ++band)
                EXPECT_NEAR(values[band].toInt(), expected[band], 3) << name << " pixel " << x << " band " << band;
        }
    }
}
