#include "engines/image/ImageToolFixture.h"

#include "engines/image/conversion/ImageCompression.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>
#include <QImageReader>

using namespace qv;
using namespace qv::test;

namespace {

class ImageCompressionTest : public ImageToolFixture {
protected:
    QString compress(const QString& path)
    {
        return ImageCompression::compress(input(path), context, work).toLocalFile();
    }

    QString refusal(const QString& path)
    {
        try {
            compress(path);
        } catch (const EngineError& error) {
            return error.message();
        }
        return {};
    }
};

} // namespace

TEST_F(ImageCompressionTest, PaletteGraphReservesTransparencyOnlyWithAlpha)
{
    EXPECT_EQ(ImageCompression::paletteGraph(QualityPreset::medium, false),
              "split[a][b];[a]palettegen=max_colors=256:reserve_transparent=0[p];"
              "[b][p]paletteuse=dither=sierra2_4a");
    EXPECT_EQ(ImageCompression::paletteGraph(QualityPreset::small, true),
              "split[a][b];[a]palettegen=max_colors=128:reserve_transparent=1[p];"
              "[b][p]paletteuse=dither=sierra2_4a:alpha_threshold=128");
}

TEST_F(ImageCompressionTest, LargestSideFollowsTheOptionThenTheSettingsAndZeroKeepsThePixels)
{
    OperationOptions options;
    EXPECT_FALSE(ImageCompression::maxDimension(options, 0));
    EXPECT_EQ(ImageCompression::maxDimension(options, 1920), 1920);
    options.maxDimension = 0;
    EXPECT_FALSE(ImageCompression::maxDimension(options, 1920));
    options.maxDimension = 1280;
    EXPECT_EQ(ImageCompression::maxDimension(options, 0), 1280);

    // A 4032 x 3024 photo under the default settings and the medium preset keeps its size.
    const QString source = in("large.jpg");
    ASSERT_TRUE(noise(4032, 3024).save(source, "JPEG", 98));
    context.options.videoPreset = QualityPreset::medium;
    const QString result = compress(source);
    EXPECT_EQ(QImageReader(result).size(), QSize(4032, 3024));
}

TEST_F(ImageCompressionTest, JpegShrinksWithANoteFromTheTwoSizes)
{
    const QString source = in("photo.jpg");
    ASSERT_TRUE(noise(1200, 900).save(source, "JPEG", 95));
    const qint64 before = QFileInfo(source).size();
    const QString result = compress(source);
    EXPECT_EQ(QFileInfo(result).fileName(), "photo (compressed).jpg");
    const qint64 after = QFileInfo(result).size();
    ASSERT_LT(after, before);
    const int percent = int((1.0 - double(after) / double(before)) * 100.0);
    EXPECT_EQ(context.notes->messages(), QStringList{QString::number(percent) + " % smaller"});
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageCompressionTest, TinyPngIsAlreadySmallAndNothingIsDelivered)
{
    const QString tiny = in("dot.png");
    QImage image(1, 1, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0)});
    image.fill(0);
    ASSERT_TRUE(image.save(tiny));
    EXPECT_EQ(refusal(tiny), "Already as small as it gets");
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
    EXPECT_TRUE(context.notes->messages().isEmpty());
}

TEST_F(ImageCompressionTest, TransparentPngBecomesATransparentPalettePng)
{
    const QString source = in("clear.png");
    ASSERT_TRUE(noise(600, 400, true).save(source));
    const QString result = compress(source);
    EXPECT_EQ(QFileInfo(result).fileName(), "clear (compressed).png");
    EXPECT_EQ(vipsField(result, "palette-bit-depth"), "8");
    const QImage image = ImageDecoder::decode(result).toQImage();
    EXPECT_EQ(image.pixelColor(500, 200).alpha(), 0);
    EXPECT_EQ(image.pixelColor(100, 200).alpha(), 255);
}

TEST_F(ImageCompressionTest, TiffComesOutLzw)
{
    const QString source = in("scan.tif");
    ASSERT_EQ(runProgram("vips", {"black", source + "[compression=none]", "800", "600", "--bands", "3"}), 0);
    const QString result = compress(source);
    EXPECT_EQ(QFileInfo(result).suffix(), "tiff");
    QByteArray info;
    runProgram("tiffinfo", {result}, &info);
    if (!info.isEmpty()) {
        EXPECT_TRUE(info.contains("LZW")) << info.constData();
    }
}

TEST_F(ImageCompressionTest, TgaWithAlphaIsFlattenedBeforeJpeg)
{
    const QString png = writeHalfTransparentPng(in("half.png"), 400, 300, 72);
    const QString tga = in("half.tga");
    ASSERT_EQ(runProgram("convert", {png, tga}), 0);
    context.settings.alphaBackground = "#00FF00";
    const QString result = compress(tga);
    EXPECT_EQ(QFileInfo(result).fileName(), "half (compressed).jpg");
    const QColor background = pixel(result, 350, 150);
    EXPECT_GT(background.green(), 200);
    EXPECT_LT(background.red(), 60);
}

TEST_F(ImageCompressionTest, AnimatedWebPKeepsItsThreeFrames)
{
    const QString gif = in("anim.gif");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=10:duration=0.3",
                                    "-loop", "0", gif}),
              0);
    const QString webp = in("anim.webp");
    ASSERT_EQ(runProgram("vips", {"copy", gif + "[n=-1]", webp + "[Q=100]"}), 0);
    const QString result = compress(webp);
    EXPECT_EQ(QFileInfo(result).fileName(), "anim (compressed).webp");
    EXPECT_EQ(vipsField(result, "n-pages"), "3");
}

TEST_F(ImageCompressionTest, FFmpegWebPRoadIsSizeCheckedToo)
{
    const QString source = in("dot.webp");
    ASSERT_EQ(runProgram("vips", {"black", source + "[Q=10]", "8", "8", "--bands", "3"}), 0);
    work.writableTypes = QSet<QString>{};
    // However small FFmpeg makes it, it is not smaller than this.
    FileInfo file = input(source);
    file.size = 10;
    try {
        ImageCompression::compress(file, context, work);
        ADD_FAILURE() << "delivered";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Already as small as it gets");
    }
    EXPECT_TRUE(leftovers().isEmpty());
    EXPECT_TRUE(outputs().isEmpty());
}
