#include "engines/image/ImageEngine.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

using namespace qv;

namespace {

FileInfo imageFile(const QString& path, const QString& formatId)
{
    FileInfo file;
    file.url = QUrl::fromLocalFile(path);
    file.format = formatForExtension(formatId);
    return file;
}

QByteArray dqt(QByteArray tables)
{
    const int length = int(tables.size()) + 2;
    return QByteArray("\xFF\xDB", 2) + char(length >> 8) + char(length & 0xFF) + tables;
}

} // namespace

TEST(ImageOutput, ReadsOnlyItsOwnFourteenNames)
{
    EXPECT_EQ(allCases<ImageOutput>().size(), 14);
    EXPECT_EQ(allCases<ImageOutput>().first(), ImageOutput::jpg);
    EXPECT_EQ(allCases<ImageOutput>().last(), ImageOutput::pdf);
    EXPECT_EQ(imageOutputFromString(QStringLiteral("pdf")), ImageOutput::pdf);
    for (const char* text : {"JPG", "jpeg", "tif", "heif", "", " png"})
        EXPECT_FALSE(imageOutputFromString(QString::fromLatin1(text))) << text;
    int lossy = 0;
    for (ImageOutput output : allCases<ImageOutput>())
        lossy += isLossy(output);
    EXPECT_EQ(lossy, 5);
    EXPECT_TRUE(lacksAlpha(ImageOutput::bmp));
    EXPECT_FALSE(lacksAlpha(ImageOutput::png));
}

TEST(ImageEngine, CompressionQualityFollowsPresetFormatAndSource)
{
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::png, QualityPreset::small, {}), 0.6);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::jpg, QualityPreset::medium, {}), 0.72);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::heic, QualityPreset::high, {}), 0.72);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::avif, QualityPreset::small, 40), 0.45);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::jpg, QualityPreset::high, 50), 0.44);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::jpg, QualityPreset::high, 30), 0.3);
    EXPECT_DOUBLE_EQ(ImageEngine::compressionQuality(ImageOutput::jpg, QualityPreset::small, 95), 0.6);
}

TEST(ImageEngine, SameFormatOutputKeepsWhatCanBeWritten)
{
    const ImageWriteSupport none{};
    const ImageWriteSupport ffmpegOnly{false, false, true};
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.jpg", "jpg"), none), ImageOutput::jpg);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.heif", "heif"), none), ImageOutput::heic);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.tga", "tga"), none), ImageOutput::tga);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.webp", "webp"), none), ImageOutput::png);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.avif", "avif"), none), ImageOutput::png);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.webp", "webp"), ffmpegOnly), ImageOutput::webp);
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.svg", "svg"), none), ImageOutput::png);
    EXPECT_EQ(ImageEngine::sameFormatOutput(FileInfo{}, none), ImageOutput::png);
    // This machine's libvips writes WebP itself.
    EXPECT_TRUE(vipsCanSave(ImageOutput::webp));
    EXPECT_EQ(ImageEngine::sameFormatOutput(imageFile("/a.webp", "webp")), ImageOutput::webp);
}

TEST(ImageEngine, TableSumsInvertTheStandardScaling)
{
    EXPECT_EQ(ImageEngine::qualityFromTableSum(3688), 50);
    EXPECT_EQ(ImageEngine::qualityFromTableSum(64), 99);
    EXPECT_EQ(ImageEngine::qualityFromTableSum(64 * 255), 11);

    QByteArray table1(65, char(2));
    table1[0] = char(0x01);
    EXPECT_FALSE(ImageEngine::luminanceTableSum(table1));
    QByteArray wide(129, char(0));
    wide[0] = char(0x10);
    for (int i = 0; i < 64; ++i)
        wide[2 + 2 * i] = char(3);
    EXPECT_EQ(ImageEngine::luminanceTableSum(table1 + wide), 192);
    EXPECT_FALSE(ImageEngine::luminanceTableSum(wide.left(100)));
}

TEST(ImageEngine, EstimatesTheQualityLibvipsSavedAJpegAt)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(120, 80, 200));
    ASSERT_TRUE(image.save(png));

    for (int quality : {30, 85, 95}) {
        const QString jpg = dir.filePath(QStringLiteral("q%1.jpg").arg(quality));
        ASSERT_EQ(test::runProgram(QStringLiteral("vips"),
                                   {QStringLiteral("copy"), png,
                                    jpg + QStringLiteral("[Q=%1]").arg(quality)}),
                  0);
        EXPECT_EQ(ImageEngine::estimatedJPEGQuality(imageFile(jpg, "jpg")), quality);
    }

    EXPECT_FALSE(ImageEngine::estimatedJPEGQuality(imageFile(png, "png")));
    EXPECT_FALSE(ImageEngine::estimatedJPEGQuality(dir.filePath(QStringLiteral("missing.jpg"))));

    QFile whole(dir.filePath(QStringLiteral("q85.jpg")));
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString cut = test::writeFile(dir.filePath(QStringLiteral("cut.jpg")), bytes.left(30));
    EXPECT_FALSE(ImageEngine::estimatedJPEGQuality(cut));

    // A first table segment holding only table 1 is skipped for a later table 0.
    QByteArray table1(65, char(9));
    table1[0] = char(0x01);
    QByteArray table0(65, char(1));
    table0[0] = char(0x00);
    const QByteArray soi("\xFF\xD8", 2);
    const QString two = test::writeFile(dir.filePath(QStringLiteral("two.jpg")),
                                        soi + dqt(table1) + dqt(table0) + QByteArray("\xFF\xDA\x00\x02", 4));
    EXPECT_EQ(ImageEngine::estimatedJPEGQuality(two), 99);
    const QString scanFirst = test::writeFile(dir.filePath(QStringLiteral("scan.jpg")),
                                              soi + QByteArray("\xFF\xDA\x00\x02", 4) + dqt(table0));
    EXPECT_FALSE(ImageEngine::estimatedJPEGQuality(scanFirst));
}
