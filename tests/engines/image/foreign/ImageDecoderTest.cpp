#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/HeifStrictCheck.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/JpegStructure.h"
#include "engines/image/foreign/TiffStripDamage.h"
#include "engines/image/resample/ImageThumbnail.h"
#include "model/errors/EngineError.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>

using namespace qv;
using namespace qv::test;

namespace {

// A 400 x 300 JPEG that says it is turned a quarter clockwise (shown 300 x 400).
QString turnedJpeg(const QTemporaryDir& dir)
{
    const QString path = writeOpaqueImage(dir.filePath("turned.jpg"), 400, 300);
    EXPECT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Orientation 6", path}), 0);
    return path;
}

} // namespace

TEST(ImageDecoder, DecodesPixelsAlphaAndResolution)
{
    QTemporaryDir dir;
    const QString png = writeHalfTransparentPng(dir.filePath("half.png"));
    const DecodedImage image = ImageDecoder::decode(png);
    EXPECT_EQ(image.width(), 400);
    EXPECT_EQ(image.height(), 300);
    EXPECT_TRUE(image.hasAlpha());
    EXPECT_NEAR(image.dpi(), 300.0, 0.5);

    // No stated resolution reads as 72 dpi.
    const QString plain = dir.filePath("plain.png");
    ASSERT_EQ(runProgram("vips", {"black", plain, "20", "10"}), 0);
    const DecodedImage black = ImageDecoder::decode(plain);
    EXPECT_DOUBLE_EQ(black.dpi(), 72.0);
    EXPECT_FALSE(black.properties().dpiWidth);
    EXPECT_FALSE(black.hasAlpha());
}

TEST(ImageDecoder, LimitsShrinkTheLongerSideAndBelowOneMeansNone)
{
    QTemporaryDir dir;
    const QString big = dir.filePath("big.png");
    ASSERT_EQ(runProgram("vips", {"black", big, "4000", "3000"}), 0);
    const DecodedImage limited = ImageDecoder::decode(big, 1000);
    EXPECT_EQ(limited.width(), 1000);
    EXPECT_EQ(limited.height(), 750);
    const DecodedImage roomy = ImageDecoder::decode(big, 6000);
    EXPECT_EQ(roomy.width(), 4000);
    for (int none : {0, -5}) {
        const DecodedImage whole = ImageDecoder::decode(big, none);
        EXPECT_EQ(whole.width(), 4000) << none;
        EXPECT_EQ(whole.height(), 3000) << none;
    }
    const DecodedImage tiny = ImageDecoder::decode(big, 1);
    EXPECT_EQ(std::max(tiny.width(), tiny.height()), 1);
}

TEST(ImageDecoder, TurnsPicturesUprightButReportsTheStatedOrientation)
{
    QTemporaryDir dir;
    const QString jpeg = turnedJpeg(dir);
    const DecodedImage image = ImageDecoder::decode(jpeg);
    EXPECT_EQ(image.width(), 300);
    EXPECT_EQ(image.height(), 400);
    EXPECT_EQ(image.orientation(), 6);
    EXPECT_EQ(ImageDecoder::sourceOrientation(jpeg), 6);
    EXPECT_EQ(ImageDecoder::pixelSize(jpeg), QSize(300, 400));
    const DecodedImage limited = ImageDecoder::decode(jpeg, 200);
    EXPECT_EQ(limited.width(), 150);
    EXPECT_EQ(limited.height(), 200);
}

// The mean absolute difference of two pictures of one size, per channel.
double meanDifference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB888);
    const QImage y = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const uchar* p = x.constScanLine(row);
        const uchar* q = y.constScanLine(row);
        for (int i = 0; i < x.width() * 3; ++i)
            sum += std::abs(int(p[i]) - int(q[i]));
    }
    return sum / (double(x.width()) * x.height() * 3);
}

TEST(ImageDecoder, ShrunkJpegsComeOutAsLibvipsThumbnailMakesThem)
{
    QTemporaryDir dir;
    const QString gradient = writeOpaqueImage(dir.filePath("gradient.jpg"), 1700, 1100, 240);
    const QString grey = dir.filePath("grey.jpg");
    ASSERT_EQ(QProcess::execute("vips", {"colourspace", gradient, grey + "[Q=90]", "b-w"}), 0);
    const QString progressive = dir.filePath("progressive.jpg");
    ASSERT_EQ(QProcess::execute("vips", {"copy", gradient, progressive + "[interlace]"}), 0);
    const QString cmyk = writeCmykJpeg(dir.filePath("cmyk.jpg"), 900, 500, Qt::darkCyan);
    QStringList files{gradient, grey, progressive, turnedJpeg(dir)};
    if (!cmyk.isEmpty())
        files << cmyk;
    // Limits that load the file whole and shrunk by 2, 4 and 8.
    for (const QString& file : files) {
        for (const int size : {700, 400, 200, 100}) {
            const std::string what = QFileInfo(file).fileName().toStdString() + " at " + std::to_string(size);
            const QString peer = dir.filePath("peer.png");
            ASSERT_EQ(QProcess::execute("vips", {"thumbnail", file, peer, QString::number(size), "--size", "down"}), 0);
            const QImage expected(peer);
            const DecodedImage ours = ImageDecoder::decode(file, size);
            ASSERT_EQ(QSize(ours.width(), ours.height()), expected.size()) << what;
            EXPECT_LT(meanDifference(ours.toQImage(), expected), 1.5) << what;
            EXPECT_EQ(ImageDecoder::sourceFile(ours), file) << what;
        }
    }
    // The file's metadata travels with the shrunk picture; its resolution stays as stated.
    const DecodedImage shrunk = ImageDecoder::decode(gradient, 300);
    const DecodedImage whole = ImageDecoder::decode(gradient);
    EXPECT_EQ(shrunk.properties().exif, whole.properties().exif);
    EXPECT_EQ(shrunk.dpi(), whole.dpi());
    EXPECT_EQ(ImageDecoder::decode(turnedJpeg(dir), 200).orientation(), 6);
}

TEST(ImageDecoder, SvgDrawsAtTwiceItsSizeKeepingItsPhysicalSize)
{
    QTemporaryDir dir;
    const QString svg = writeFile(dir.filePath("shape.svg"),
                                  "<svg xmlns='http://www.w3.org/2000/svg' width='300' height='150'>"
                                  "<rect width='300' height='150' fill='blue'/></svg>");
    const DecodedImage image = ImageDecoder::decode(svg);
    EXPECT_EQ(image.width(), 600);
    EXPECT_EQ(image.height(), 300);
    EXPECT_DOUBLE_EQ(image.dpi(), 144.0);
    const DecodedImage limited = ImageDecoder::decode(svg, 200);
    EXPECT_EQ(limited.width(), 200);
    EXPECT_EQ(limited.height(), 100);
    EXPECT_NEAR(limited.dpi(), 48.0, 1e-9);
}

TEST(ImageDecoder, AnSvgDrawsNothingFromTheFilesBesideIt)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("secret-sibling.txt"), "WWWWWWWW");
    writeOpaqueImage(dir.filePath("sibling.png"), 40, 40);
    const QByteArray drawing = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xi='http://www.w3.org/2001/XInclude'"
                               " xmlns:xlink='http://www.w3.org/1999/xlink' width='300' height='100'>"
                               "<rect width='300' height='100' fill='white'/>"
                               "<text x='5' y='45' font-size='40' fill='black'>"
                               "<xi:include href='secret-sibling.txt' parse='text'/></text>"
                               "<image x='0' y='55' width='40' height='40' xlink:href='sibling.png'/></svg>";
    const auto darkPixels = [](const QImage& picture) {
        int dark = 0;
        for (int y = 0; y < picture.height(); ++y) {
            for (int x = 0; x < picture.width(); ++x)
                dark += qGray(picture.pixel(x, y)) < 128 ? 1 : 0;
        }
        return dark;
    };
    // Drawn by its path, librsvg takes both in: the check can fail.
    const QString svg = writeFile(dir.filePath("include.svg"), drawing);
    ASSERT_EQ(runProgram("vips", {"copy", svg, dir.filePath("by-path.png")}), 0);
    EXPECT_GT(darkPixels(QImage(dir.filePath("by-path.png"))), 100);
    EXPECT_EQ(darkPixels(ImageDecoder::decode(svg).toQImage()), 0);
    // Nor in a preview.
    const std::optional<QImage> preview = imageThumbnail(svg, QSize(150, 50));
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->width(), 150);
    EXPECT_EQ(darkPixels(*preview), 0);
    // Compressed, and by another name of the same kind.
    ASSERT_EQ(runProgram("gzip", {"-k", svg}), 0);
    ASSERT_TRUE(QFile::rename(svg + ".gz", dir.filePath("include.svgz")));
    const DecodedImage compressed = ImageDecoder::decode(dir.filePath("include.svgz"));
    EXPECT_EQ(compressed.width(), 600);
    EXPECT_EQ(darkPixels(compressed.toQImage()), 0);
    // Under a name of another kind, libvips would have found the SVG in it by its bytes.
    const QString disguised = writeFile(dir.filePath("include.png"), drawing);
    const QString failure = failureOf([&] { ImageDecoder::decode(disguised); });
    EXPECT_EQ(failure, ImageDecoder::damagedMessage());
}

TEST(ImageDecoder, BadInputIsDamagedOrUnsupported)
{
    QTemporaryDir dir;
    const QString damaged = ImageDecoder::damagedMessage();
    const QString png = writeHalfTransparentPng(dir.filePath("half.png"));
    QByteArray bytes = readFile(png);
    const QString cut = writeFile(dir.filePath("cut.png"), bytes.left(40));
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(cut); }), damaged);
    const QString text = writeFile(dir.filePath("notes.png"), "just words");
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(text); }), damaged);
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(dir.filePath("missing.png")); }), damaged);
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(png, std::nullopt, 1); }), damaged);
    EXPECT_EQ(failureOf([&] { ImageDecoder::pixelSize(text); }), damaged);
    const QString sizeless = writeFile(dir.filePath("empty.svg"), "<svg xmlns='http://www.w3.org/2000/svg'/>");
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(sizeless); }), damaged);
    // Cut short past its header: the damage shows once the pixels are read.
    const QByteArray jpeg = readFile(writeOpaqueImage(dir.filePath("whole.jpg"), 800, 600));
    const QString cutJpeg = writeFile(dir.filePath("cut.jpg"), jpeg.left(jpeg.size() / 2));
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(cutJpeg).materialized(); }), damaged);
    // Inputs are only read.
    EXPECT_EQ(readFile(png), bytes);
    // A header that claims a huge picture is not allocated when opened.
    QByteArray huge = bytes;
    huge[16] = char(0x7F); // width 0x7F0001.. far beyond what the file holds
    const QString liar = writeFile(dir.filePath("liar.png"), huge);
    try {
        ImageDecoder::decode(liar);
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), damaged);
    }
}

TEST(JpegStructure, FindsDamageAnywhereWithoutDecodingPixels)
{
    QTemporaryDir dir;
    const QString whole = writeNoisyImage(dir.filePath("whole.jpg"));
    ASSERT_FALSE(whole.isEmpty());
    EXPECT_EQ(JpegStructure::fault(whole), QString());
    EXPECT_NO_THROW(JpegStructure::check(whole));
    const QByteArray bytes = readFile(whole);
    const QList<std::pair<const char*, QByteArray>> damaged{
        {"empty", {}},
        {"header only", bytes.left(200)},
        {"cut in half", bytes.left(bytes.size() / 2)},
        {"cut in the last rows", bytes.left(bytes.size() - 100)},
        {"no end marker", bytes.left(bytes.size() - 2)},
        {"bytes before the end marker", bytes.left(bytes.size() - 2) + QByteArray(9, '\x22') + "\xFF\xD9"},
        {"a segment longer than the file", bytes.left(2) + "\xFF\xE1\xFF\xF0" + bytes.mid(2, 64)},
        {"not a JPEG", "GIF89a........"},
    };
    for (const auto& [what, content] : damaged) {
        const QString path = writeFile(dir.filePath("damaged.jpg"), content);
        EXPECT_FALSE(JpegStructure::fault(path).isEmpty()) << what;
        EXPECT_EQ(failureOf([&] { JpegStructure::check(path); }), ImageDecoder::damagedMessage()) << what;
        // verify() of a JPEG is this check; it refuses the same files.
        EXPECT_FALSE(ImageDecoder::decodes(path)) << what;
    }
    // Scrambled anywhere in its coded data.
    for (const double at : {0.2, 0.5, 0.8, 0.95}) {
        const QString path = writeScrambledCopy(whole, dir.filePath("scrambled.jpg"), at, 64);
        EXPECT_FALSE(JpegStructure::fault(path).isEmpty()) << at;
    }
    // Progressive, greyscale and CMYK files hold together as well.
    const QString progressive = dir.filePath("progressive.jpg");
    ASSERT_EQ(QProcess::execute("vips", {"copy", whole, progressive + "[interlace]"}), 0);
    EXPECT_EQ(JpegStructure::fault(progressive), QString());
    const QString cutProgressive = writeFile(dir.filePath("cut progressive.jpg"), readFile(progressive).left(readFile(progressive).size() * 3 / 4));
    EXPECT_FALSE(JpegStructure::fault(cutProgressive).isEmpty());
    const QString cmyk = writeCmykJpeg(dir.filePath("cmyk.jpg"), 64, 48, Qt::red);
    if (!cmyk.isEmpty()) {
        EXPECT_EQ(JpegStructure::fault(cmyk), QString());
    }
    EXPECT_EQ(JpegStructure::fault(writeOpaqueImage(dir.filePath("qt.jpg"), 97, 33)), QString());
    EXPECT_FALSE(JpegStructure::fault(dir.filePath("missing.jpg")).isEmpty());
}

TEST(DecodedImage, PixelsGoInAndComeBackOut)
{
    QImage picture(40, 30, QImage::Format_ARGB32);
    picture.fill(QColor(10, 200, 30, 128));
    const DecodedImage image = DecodedImage::fromPixels(picture, 150);
    EXPECT_EQ(image.width(), 40);
    EXPECT_EQ(image.height(), 30);
    EXPECT_TRUE(image.hasAlpha());
    EXPECT_DOUBLE_EQ(image.dpi(), 150.0);
    const QImage back = image.toQImage();
    ASSERT_EQ(back.format(), QImage::Format_RGBA8888);
    EXPECT_EQ(back.pixelColor(5, 5).green(), 200);
    EXPECT_EQ(back.pixelColor(5, 5).alpha(), 128);
    // Read twice: made from pixels, it does not stream.
    EXPECT_EQ(image.toQImage().size(), QSize(40, 30));

    QImage opaque(8, 8, QImage::Format_RGB32);
    opaque.fill(Qt::blue);
    const DecodedImage solid = DecodedImage::fromPixels(opaque);
    EXPECT_FALSE(solid.hasAlpha());
    EXPECT_EQ(solid.toQImage().format(), QImage::Format_RGB888);
    EXPECT_TRUE(DecodedImage::fromPixels(QImage()).isNull());
}

// libheif gives black pixels and a warning for what it cannot decode (here a mirror of 10-bit
// samples) unless it decodes strictly: the picture fails instead of passing for a black one.
TEST(ImageDecoder, AHeifFeatureLibheifLacksFailsRatherThanComingOutBlack)
{
    const QString unsupported = QStringLiteral(QV_SOURCE_DIR "/tests/files/damaged/clap_irot_imir_non_essential.avif");
    const std::optional<QString> problem = HeifStrictCheck::problem(unsupported);
    ASSERT_TRUE(problem.has_value());
    EXPECT_TRUE(problem->contains(QStringLiteral("Unsupported feature"))) << problem->toStdString();
    EXPECT_FALSE(ImageDecoder::decodes(unsupported));
    try {
        ImageDecoder::decode(unsupported);
        ADD_FAILURE() << "decoded";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), ImageDecoder::damagedMessage());
    }

    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good.avif"));
    writeOpaqueImage(dir.filePath(QStringLiteral("good.png")), 64, 48, 72);
    ASSERT_EQ(test::runProgram(QStringLiteral("vips"),
                               {QStringLiteral("heifsave"), dir.filePath(QStringLiteral("good.png")), good,
                                QStringLiteral("--compression"), QStringLiteral("av1")}),
              0);
    EXPECT_EQ(HeifStrictCheck::problem(good), std::nullopt);
    EXPECT_TRUE(ImageDecoder::decodes(good));
}

// An animated AVIF whose major brand is "avis" is no HEIF file to libvips' sniffing; its primary
// image is the picture every picture entry works on.
TEST(ImageDecoder, AnAvifSequenceGivesItsPrimaryImage)
{
    const QString sequence = QStringLiteral(QV_SOURCE_DIR "/tests/files/sequences/colors-animated-8bpc-audio.avif");
    EXPECT_TRUE(ImageDecoder::decodes(sequence));
    EXPECT_EQ(ImageDecoder::pixelSize(sequence), QSize(150, 150));
    const DecodedImage image = ImageDecoder::decode(sequence);
    EXPECT_EQ(image.width(), 150);
    EXPECT_EQ(image.height(), 150);
    EXPECT_EQ(ImageDecoder::decode(sequence, 64).width(), 64);
}

// libtiff's fax decoder says a strip it could not read whole only in a warning and fills the
// rest; such a TIFF is damaged for every road, and one that reads whole still decodes.
TEST(ImageDecoder, ATiffStripItsDecoderWarnsAboutIsDamage)
{
    QTemporaryDir dir;
    const QString noise = dir.filePath("noise.v");
    ASSERT_EQ(runProgram("vips", {"gaussnoise", noise, "400", "300", "--mean", "128", "--sigma", "30"}), 0);
    const QString bilevel = dir.filePath("bilevel.v");
    ASSERT_EQ(runProgram("vips", {"relational_const", noise, bilevel, "more", "128"}), 0);
    const QString fax = dir.filePath("fax.tif");
    ASSERT_EQ(runProgram("vips", {"tiffsave", bilevel, fax, "--compression", "ccittfax4", "--bitdepth", "1"}), 0);
    QByteArray bytes = readFile(fax);
    ASSERT_GT(bytes.size(), 4000);
    for (qsizetype i = 300; i < bytes.size() / 2; i += 5)
        bytes[i] = char(bytes[i] ^ 0x5a);
    const QString damagedFax = writeFile(dir.filePath("damaged fax.tif"), bytes);
    // The oracle: libvips itself makes a picture of it and only logs libtiff's words.
    ASSERT_EQ(runProgram("vips", {"copy", damagedFax, dir.filePath("made anyway.png")}), 0);

    const QString damaged = ImageDecoder::damagedMessage();
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(damagedFax).materialized(); }), damaged);
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(damagedFax, 100).materialized(); }), damaged);
    EXPECT_EQ(failureOf([&] { ImageDecoder::verify(damagedFax); }), damaged);
    EXPECT_FALSE(ImageDecoder::decodes(damagedFax));

    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(fax).materialized(); }), QStringLiteral("<no failure>"));
    EXPECT_TRUE(ImageDecoder::decodes(fax));
    const QString lzw = dir.filePath("lzw.tif");
    ASSERT_EQ(runProgram("vips", {"tiffsave", noise, lzw, "--compression", "lzw"}), 0);
    EXPECT_TRUE(ImageDecoder::decodes(lzw));
    EXPECT_TRUE(ImageDecoder::decodes(writeOpaqueImage(dir.filePath("plain.png"), 64, 48)));
}

// libnsgif reads a GIF's frames as far as the first it cannot, and says so only in a warning:
// libvips then gives the frames before it, and the picture passed for whole.
TEST(ImageDecoder, AGifWithAFrameItsDecoderCannotReadIsDamage)
{
    QTemporaryDir dir;
    const QString whole = dir.filePath("two.gif");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=32x32:rate=2", "-frames:v",
                                    "2", whole}),
              0);
    QByteArray bytes = readFile(whole);
    // The second frame's descriptor, after its control extension; its LZW code size made one
    // no GIF has.
    const qsizetype first = bytes.indexOf(QByteArray("\x00\x2c", 2), 13);
    const qsizetype second = bytes.indexOf(QByteArray("\x00\x2c", 2), first + 2);
    ASSERT_GT(second, first);
    const auto flags = quint8(bytes[second + 10]);
    const qsizetype codeSize = second + 11 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    ASSERT_LT(codeSize, bytes.size());
    bytes[codeSize] = char(0x0f);
    const QString damaged = writeFile(dir.filePath("two damaged.gif"), bytes);
    // The oracle: libvips loads it, one frame short, with only a warning.
    QByteArray said;
    EXPECT_EQ(runProgram("vipsheader", {"-f", "n-pages", damaged}, &said), 0);
    EXPECT_TRUE(said.contains("Invalid frame data")) << said.constData();
    EXPECT_TRUE(said.trimmed().endsWith("\n1") || said.trimmed().startsWith("1")) << said.constData();

    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(damaged).materialized(); }), ImageDecoder::damagedMessage());
    EXPECT_FALSE(ImageDecoder::decodes(damaged));
    EXPECT_TRUE(ImageDecoder::decodes(whole));
    EXPECT_EQ(failureOf([&] { ImageDecoder::decode(whole).materialized(); }), QStringLiteral("<no failure>"));
}

TEST(TiffStripDamage, OnlyWordsAboutCodedDataAreDamage)
{
    EXPECT_TRUE(TiffStripDamage::isDamageWarning("Premature EOL at line 2 of strip 0 (got 212, expected 400)"));
    EXPECT_TRUE(TiffStripDamage::isDamageWarning("Line length mismatch at line 0 of strip 1 (got 401, expected 400)"));
    EXPECT_TRUE(TiffStripDamage::isDamageWarning("LZWDecode: Strip 0 not terminated with EOI code"));
    EXPECT_FALSE(TiffStripDamage::isDamageWarning("Unknown field with tag 65000 (0xfde8) encountered"));
    EXPECT_FALSE(TiffStripDamage::isDamageWarning("Sum of Photometric type-related color channels and ExtraSamples doesn't match SamplesPerPixel"));
}

namespace {

// ImageMagick's reading of a picture as 8-bit RGB samples, row after row.
QByteArray magickRgb(const QString& path)
{
    QTemporaryDir dir;
    const QString samples = dir.filePath("samples.rgb");
    EXPECT_EQ(runProgram("convert", {path, "-depth", "8", "rgb:" + samples}), 0) << path.toStdString();
    return readFile(samples);
}

} // namespace

TEST(ImageDecoder, SamplesComeOutAtFullRangeWhateverTheFileStores)
{
    QTemporaryDir dir;
    const auto decodedAsPng = [&](const QString& path) {
        const QString png = path + QStringLiteral(".png");
        ImageWriter::write(ImageDecoder::decode(path), ImageOutput::png, png, {}, 1.0);
        return magickRgb(png);
    };
    const auto bytes = [](std::initializer_list<int> values) {
        QByteArray out;
        for (int value : values)
            out.append(char(value));
        return out;
    };
    // Maximum values other than the container's: red, cyan and a grey at half.
    EXPECT_EQ(decodedAsPng(writeFile(dir.filePath("one.ppm"), "P3\n2 1\n1\n1 0 0 0 1 1\n")),
              bytes({255, 0, 0, 0, 255, 255}));
    EXPECT_EQ(decodedAsPng(writeFile(dir.filePath("one.pgm"), "P2\n2 1\n1\n1 0\n")),
              bytes({255, 255, 255, 0, 0, 0}));
    EXPECT_EQ(decodedAsPng(writeFile(dir.filePath("hundred.ppm"), "P6\n2 1\n100\n" + bytes({100, 0, 0, 0, 50, 100}))),
              bytes({255, 0, 0, 0, 128, 255}));
    EXPECT_EQ(decodedAsPng(writeFile(dir.filePath("deep.ppm"), "P6\n1 1\n65535\n" + bytes({255, 255, 0, 0, 128, 0}))),
              bytes({255, 0, 127}));
    EXPECT_EQ(decodedAsPng(writeFile(dir.filePath("thousand.pgm"), "P5\n2 1\n1000\n" + bytes({3, 232, 1, 244}))),
              bytes({255, 255, 255, 127, 127, 127}));
    // The windows' thumbnails too.
    const std::optional<QImage> thumbnail = imageThumbnail(dir.filePath("one.ppm"), QSize(8, 8));
    ASSERT_TRUE(thumbnail);
    EXPECT_EQ(thumbnail->pixelColor(0, 0), QColor(255, 0, 0));
    // Shrunk on decoding, the same.
    const DecodedImage shrunk = ImageDecoder::decode(writeFile(dir.filePath("wide.pgm"), "P2\n4 1\n1\n1 1 1 1\n"), 2);
    ImageWriter::write(shrunk, ImageOutput::png, dir.filePath("shrunk.png"), {}, 1.0);
    EXPECT_EQ(magickRgb(dir.filePath("shrunk.png")), bytes({255, 255, 255, 255, 255, 255}));

    // sYCC: luma and chroma become RGB, as ImageMagick's reader of the file makes them.
    const QString sycc = QStringLiteral(QV_SOURCE_DIR "/tests/files/colour/issue134.jp2");
    const QByteArray ours = decodedAsPng(QFile::copy(sycc, dir.filePath("sycc.jp2")) ? dir.filePath("sycc.jp2") : sycc);
    const QByteArray theirs = magickRgb(sycc);
    ASSERT_EQ(ours.size(), 720 * 243 * 3);
    ASSERT_EQ(theirs.size(), ours.size());
    int far = 0;
    for (qsizetype i = 0; i < ours.size(); ++i)
        far += std::abs(int(quint8(ours[i])) - int(quint8(theirs[i]))) > 3;
    EXPECT_EQ(far, 0);
}
