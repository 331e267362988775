#include "engines/image/ImageToolFixture.h"

#include "engines/image/conversion/ImageMerge.h"
#include "model/errors/EngineError.h"

using namespace qv;
using namespace qv::test;

namespace {

class ImageMergeTest : public ImageToolFixture {
protected:
    QString merge(const QStringList& paths, MergeLayout layout)
    {
        QList<FileInfo> files;
        for (const QString& path : paths)
            files << fileInfoForURL(QUrl::fromLocalFile(path));
        work.baseName = files.first().baseName;
        return ImageMerge::merge(files, layout, context, work).toLocalFile();
    }
};

} // namespace

TEST_F(ImageMergeTest, CanvasScalesEveryPictureToTheCommonSide)
{
    EXPECT_EQ(ImageMerge::canvasSize({{1000, 500}, {400, 800}}, MergeLayout::horizontal), QSize(2000, 800));
    EXPECT_EQ(ImageMerge::canvasSize({{1000, 500}, {400, 800}}, MergeLayout::vertical), QSize(1000, 2500));
    EXPECT_TRUE(ImageMerge::fits({65535, 10}, ImageOutput::jpg));
    EXPECT_FALSE(ImageMerge::fits({65536, 10}, ImageOutput::jpg));
}

TEST_F(ImageMergeTest, JpegsJoinSideBySideOrStacked)
{
    const QString first = in("first.jpg");
    const QString second = in("second.jpg");
    ASSERT_TRUE(halves(1000, 500).save(first, "JPEG", 90));
    ASSERT_TRUE(noise(400, 800).save(second, "JPEG", 90));
    const QString across = merge({first, second}, MergeLayout::horizontal);
    EXPECT_EQ(QFileInfo(across).fileName(), "first (merged).jpg");
    EXPECT_EQ(ImageDecoder::pixelSize(across), QSize(2000, 800));
    EXPECT_GT(pixel(across, 100, 400).red(), 200);
    ASSERT_TRUE(QFile::remove(across));
    EXPECT_EQ(ImageDecoder::pixelSize(merge({first, second}, MergeLayout::vertical)), QSize(1000, 2500));
}

TEST_F(ImageMergeTest, TransparentInputMakesAPngWithAlpha)
{
    const QString first = in("first.jpg");
    ASSERT_TRUE(halves(400, 300).save(first, "JPEG", 90));
    const QString clear = writeHalfTransparentPng(in("clear.png"));
    const QString merged = merge({first, clear}, MergeLayout::horizontal);
    EXPECT_EQ(QFileInfo(merged).fileName(), "first (merged).png");
    const QImage image = ImageDecoder::decode(merged).toQImage();
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixelColor(750, 150).alpha(), 0);
    EXPECT_EQ(image.pixelColor(100, 150).alpha(), 255);
}

TEST_F(ImageMergeTest, TooWideForJpegIsRefused)
{
    QStringList paths;
    for (int i = 0; i < 12; ++i) {
        paths << in(QString("strip%1.jpg").arg(i));
        ASSERT_TRUE(halves(6000, 10).save(paths.last(), "JPEG", 50));
    }
    try {
        merge(paths, MergeLayout::horizontal);
        FAIL() << "no error";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "The merged image would be too large");
    }
    EXPECT_TRUE(outputs().isEmpty());
}
