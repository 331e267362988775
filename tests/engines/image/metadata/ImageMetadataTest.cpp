#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/metadata/ImageMetadata.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(ImageMetadata, LosslessCopiesEditOnlyTheMetadata)
{
    QTemporaryDir dir;
    const QString source = writeOpaqueImage(dir.filePath("cam.jpg"), 64, 48);
    ASSERT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Orientation 6", "-M", "set Exif.Image.Make Quorcam",
                                   "-M", "set Xmp.dc.title Secret", source}),
              0);
    const QByteArray before = readFile(source);

    const QString upright = dir.filePath("upright.jpg");
    ImageMetadata::CopyOptions turn;
    turn.orientation = 1;
    ASSERT_TRUE(ImageMetadata::losslessCopy(source, upright, ImageOutput::jpg, turn));
    EXPECT_EQ(ImageDecoder::sourceOrientation(upright), 1);
    EXPECT_TRUE(exivTags(upright).contains("Quorcam"));
    // The picture itself is untouched: the same scan follows the new header.
    const QByteArray scan = before.mid(before.indexOf("\xFF\xDA"));
    EXPECT_TRUE(readFile(upright).endsWith(scan));

    const QString bare = dir.filePath("bare.jpg");
    ImageMetadata::CopyOptions strip;
    strip.removeMetadata = true;
    ASSERT_TRUE(ImageMetadata::losslessCopy(source, bare, ImageOutput::jpg, strip));
    EXPECT_FALSE(exivTags(bare).contains("Quorcam"));
    EXPECT_FALSE(exivTags(bare, "-px").contains("Secret"));
    EXPECT_EQ(readFile(source), before);

    // Formats Exiv2 cannot write leave the caller to re-encode, with nothing left behind.
    EXPECT_FALSE(ImageMetadata::losslessCopy(source, dir.filePath("out.heic"), ImageOutput::heic, turn));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.heic")));
    const QString text = writeFile(dir.filePath("words.png"), "not a png");
    EXPECT_FALSE(ImageMetadata::losslessCopy(text, dir.filePath("copy.png"), ImageOutput::png, turn));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("copy.png")));
}

TEST(ImageMetadata, UprightExifSaysOneAndDropsThePixelSize)
{
    QTemporaryDir dir;
    const QString source = writeOpaqueImage(dir.filePath("cam.jpg"), 64, 48);
    ASSERT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Orientation 8", "-M", "set Exif.Photo.PixelXDimension 4000",
                                   source}),
              0);
    const QByteArray exif = ImageDecoder::decode(source).properties().exif;
    ASSERT_TRUE(exif.startsWith(QByteArray("Exif\0\0", 6)));
    const QByteArray upright = ImageMetadata::uprightExif(exif);
    ASSERT_TRUE(upright.startsWith(QByteArray("Exif\0\0", 6)));
    // The PixelXDimension tag (0xA002) in either byte order.
    const auto hasPixelWidth = [](const QByteArray& block) {
        return block.contains(QByteArray::fromHex("02a0")) || block.contains(QByteArray::fromHex("a002"));
    };
    EXPECT_TRUE(hasPixelWidth(exif));
    EXPECT_FALSE(hasPixelWidth(upright));
    EXPECT_TRUE(ImageMetadata::uprightExif("garbage").isEmpty());
}
