#include "engines/image/ImageToolFixture.h"

#include "engines/image/conversion/AnnotationRenderer.h"
#include "engines/image/conversion/ImageCompression.h"
#include "engines/image/conversion/ImageEdits.h"
#include "engines/image/conversion/ImageRotation.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/metadata/ImageMetadataRemoval.h"
#include "engines/image/resample/ImageResize.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>

#include <functional>

using namespace qv;
using namespace qv::test;

namespace {

using Tool = std::function<void(const FileInfo&)>;
using Tools = QList<std::pair<std::string, Tool>>;

class ImageEditsTest : public ImageToolFixture {
protected:
    QString edit(const QString& path, const QString& operation = "edit")
    {
        return ImageEdits::applyEdits(input(path), context, operation, work).toLocalFile();
    }

    // Each tool that `applies` to a file refuses it as damaged, and nothing is left behind.
    void expectRefused(const QStringList& damaged, const Tools& tools,
                       const std::function<bool(const QString&, const std::string&)>& applies = {})
    {
        for (const QString& path : damaged) {
            for (const auto& [name, tool] : tools) {
                if (applies && !applies(path, name))
                    continue;
                const std::string what = name + " of " + QFileInfo(path).fileName().toStdString();
                try {
                    tool(input(path));
                    ADD_FAILURE() << what << " finished";
                } catch (const EngineError& error) {
                    EXPECT_EQ(error.message(), ImageDecoder::damagedMessage()) << what;
                }
            }
        }
        EXPECT_TRUE(outputs().isEmpty()) << outputs().join(' ').toStdString();
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    }
};

QString cropMessage(const DecodedImage& image, const QRectF& rect)
{
    try {
        ImageEdits::cropped(image, rect);
    } catch (const EngineError& error) {
        return error.message();
    }
    return {};
}

} // namespace

TEST_F(ImageEditsTest, CropIsClippedAndAnEmptyOneRefused)
{
    const DecodedImage image = DecodedImage::fromPixels(halves(200, 100)).materialized();
    const DecodedImage cut = ImageEdits::cropped(image, QRectF(50, 50, 100, 50));
    EXPECT_EQ(cut.width(), 100);
    EXPECT_EQ(cut.height(), 50);
    const QImage pixels = cut.toQImage();
    EXPECT_EQ(pixels.pixelColor(10, 10), QColor(Qt::red));
    EXPECT_EQ(pixels.pixelColor(90, 10), QColor(Qt::blue));

    const DecodedImage clipped = ImageEdits::cropped(image, QRectF(150, 80, 100, 100));
    EXPECT_EQ(clipped.width(), 50);
    EXPECT_EQ(clipped.height(), 20);
    EXPECT_EQ(cropMessage(image, QRectF(300, 300, 10, 10)), "The crop area is empty");
    EXPECT_EQ(cropMessage(image, QRectF()), "The crop area is empty");
}

TEST_F(ImageEditsTest, CropAppliesToTheTurnedPicture)
{
    const QString source = in("wide.png");
    ASSERT_TRUE(halves(200, 100).save(source));
    context.options.rotation = 90;
    context.options.cropRect = QRectF(0, 0, 100, 50);
    const QString result = edit(source);
    EXPECT_EQ(QFileInfo(result).fileName(), "wide (edited).png");
    EXPECT_EQ(ImageDecoder::pixelSize(result), QSize(100, 50));
    // Turned clockwise, the red half is on top.
    EXPECT_EQ(pixel(result, 50, 25), QColor(Qt::red));
}

TEST_F(ImageEditsTest, WarmthRaisesRedOverBlueOnGrey)
{
    QImage grey(40, 40, QImage::Format_RGB32);
    grey.fill(QColor(128, 128, 128));
    PhotoAdjustments warm;
    warm.warmth = 0.4;
    const QImage result = ImageEdits::applyAdjustments(DecodedImage::fromPixels(grey), warm).toQImage();
    const QColor c = result.pixelColor(20, 20);
    EXPECT_GT(c.red(), c.blue() + 10);

    PhotoAdjustments bright;
    bright.exposure = 1.0;
    EXPECT_GT(ImageEdits::applyAdjustments(DecodedImage::fromPixels(grey), bright).toQImage().pixelColor(5, 5).red(),
              160);
}

TEST_F(ImageEditsTest, QuarterTurnAloneKeepsJpegScanData)
{
    const QString source = in("photo.jpg");
    ASSERT_TRUE(halves(300, 200).save(source, "JPEG", 90));
    context.options.rotation = 90;
    EXPECT_TRUE(ImageEdits::isLosslessEdit(context.options, input(source)));
    const QString result = edit(source);
    EXPECT_EQ(scanData(result), scanData(source));
    EXPECT_EQ(ImageDecoder::sourceOrientation(result), 6);
    EXPECT_TRUE(context.notes->messages().isEmpty());

    context.options.flipHorizontal = true;
    EXPECT_FALSE(ImageEdits::isLosslessEdit(context.options, input(source)));
}

TEST_F(ImageEditsTest, AnnotationsDrawAnArrowAndReadBadColoursAsRed)
{
    QImage white(200, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    Annotation arrow;
    arrow.kind = Annotation::Kind::arrow;
    arrow.points = {QPointF(10, 50), QPointF(190, 50)};
    arrow.colorHex = "#00FF00";
    arrow.lineWidth = 5;
    Annotation box;
    box.kind = Annotation::Kind::rectangle;
    box.points = {QPointF(60, 90), QPointF(20, 70)};
    box.colorHex = "not a colour";
    box.lineWidth = 4;
    const QImage drawn = AnnotationRenderer::renderAnnotations({arrow, box}, white);
    ASSERT_EQ(drawn.size(), white.size());
    EXPECT_EQ(drawn.pixelColor(100, 50), QColor(0, 255, 0));
    EXPECT_EQ(drawn.pixelColor(186, 50), QColor(0, 255, 0)); // inside the head
    EXPECT_EQ(drawn.pixelColor(40, 70), QColor(Qt::red));
    EXPECT_EQ(drawn.pixelColor(40, 80), QColor(Qt::white));
    EXPECT_EQ(AnnotationRenderer::arrowHeadLength(2), 12);
    EXPECT_EQ(AnnotationRenderer::arrowHeadLength(5), 20);

    Annotation dot;
    dot.kind = Annotation::Kind::arrow;
    dot.points = {QPointF(5, 5)};
    EXPECT_EQ(AnnotationRenderer::renderAnnotations({dot}, white).pixelColor(5, 5), QColor(Qt::white));
}

TEST_F(ImageEditsTest, AnnotateNamesItsResult)
{
    const QString source = in("page.png");
    QImage white(100, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    ASSERT_TRUE(white.save(source));
    Annotation pen;
    pen.kind = Annotation::Kind::pen;
    pen.points = {QPointF(10, 10), QPointF(90, 10)};
    pen.colorHex = "0000FF";
    pen.lineWidth = 6;
    context.options.annotations = QList<Annotation>{pen};
    const QString result = edit(source, "annotate");
    EXPECT_EQ(QFileInfo(result).fileName(), "page (annotated).png");
    EXPECT_EQ(pixel(result, 50, 10), QColor(Qt::blue));
    EXPECT_FALSE(ImageDecoder::decode(result).hasAlpha());
}

TEST_F(ImageEditsTest, EmptyCutOrScrambledJpegsAreRefusedByEveryTool)
{
    const QString whole = writeNoisyImage(dir.filePath("whole.jpg"));
    ASSERT_FALSE(whole.isEmpty());
    // The GIF's first frame decodes, its later ones do not: the tools that keep every frame fail.
    const QString laterFrame = in("frames.gif");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/damaged/second-frame-damaged.gif"), laterFrame));
    const QStringList damaged{writeFile(in("zero.jpg"), {}), writeCutCopy(whole, in("cut.jpg")),
                              writeScrambledCopy(whole, in("scrambled.jpg")), laterFrame};
    const QStringList everyFrame{"rotate", "flip", "remove metadata", "resize"};
    context.settings.preserveMetadata = true;
    OperationOptions annotate;
    annotate.annotations = QList<Annotation>{};
    const Tools tools{
        {"edit", [&](const FileInfo& file) { ImageEdits::applyEdits(file, context, "edit", work); }},
        {"annotate",
         [&](const FileInfo& file) {
             OperationContext withNone = context;
             withNone.options = annotate;
             ImageEdits::applyEdits(file, withNone, "annotate", work);
         }},
        {"strip", [&](const FileInfo& file) {
             OperationContext stripping = context;
             stripping.options.stripMetadata = true;
             ImageEdits::applyEdits(file, stripping, "edit", work);
         }},
        {"quarter turn",
         [&](const FileInfo& file) {
             OperationContext turning = context;
             turning.options.rotation = 90;
             ImageEdits::applyEdits(file, turning, "edit", work);
         }},
        {"rotate", [&](const FileInfo& file) { ImageRotation::rotate(file, 90, false, false, context, work); }},
        {"flip", [&](const FileInfo& file) { ImageRotation::rotate(file, 0, true, false, context, work); }},
        {"remove metadata", [&](const FileInfo& file) { ImageMetadataRemoval::removeMetadata(file, context, work); }},
        {"compress", [&](const FileInfo& file) { ImageCompression::compress(file, context, work); }},
        {"resize",
         [&](const FileInfo& file) {
             OperationContext sizing = context;
             sizing.options.maxDimension = 100;
             ImageResize::resize(file, sizing, work);
         }},
    };
    expectRefused(damaged, tools, [&](const QString& path, const std::string& name) {
        return path != laterFrame || everyFrame.contains(QString::fromStdString(name));
    });

    // The same roads still pass a sound file on untouched.
    const QString sound = writeNoisyImage(in("sound.jpg"));
    const QString copied = edit(sound);
    EXPECT_EQ(readFile(copied), readFile(sound));
}

TEST_F(ImageEditsTest, JpegsDamagedInTheirLastRowsOrTailAreRefusedByTheTurnAndTheResizes)
{
    const QString whole = writeNoisyImage(dir.filePath("whole.jpg"), 1200, 800);
    ASSERT_FALSE(whole.isEmpty());
    const QByteArray bytes = readFile(whole);
    // Cut in the last rows: a decode that stops at the last pixel finds nothing wrong.
    const QString lastRows = writeFile(in("last rows.jpg"), bytes.left(bytes.size() - 200));
    // Bytes that belong to no scan before the end marker.
    const QString tail = writeFile(in("tail.jpg"), bytes.left(bytes.size() - 2) + QByteArray(40, '\x11') + "\xFF\xD9");
    const QStringList damaged{lastRows, tail, writeCutCopy(whole, in("cut.jpg")),
                              writeScrambledCopy(whole, in("scrambled.jpg"), 0.9, 50)};
    const Tools tools{
        {"rotate", [&](const FileInfo& file) { ImageRotation::rotate(file, 90, false, false, context, work); }},
        {"remove metadata", [&](const FileInfo& file) { ImageMetadataRemoval::removeMetadata(file, context, work); }},
        {"compress",
         [&](const FileInfo& file) {
             OperationContext smaller = context;
             smaller.options.maxDimension = 600;
             ImageCompression::compress(file, smaller, work);
         }},
        {"resize",
         [&](const FileInfo& file) {
             OperationContext sizing = context;
             sizing.options.maxDimension = 300;
             ImageResize::resize(file, sizing, work);
         }},
        {"resize to a third",
         [&](const FileInfo& file) {
             OperationContext sizing = context;
             sizing.options.maxDimension = 400;
             ImageResize::resize(file, sizing, work);
         }},
    };
    expectRefused(damaged, tools);
    // The sound file goes through each road (the two resizes give one name).
    for (qsizetype i = 0; i + 1 < tools.size(); ++i)
        EXPECT_NO_THROW(tools[i].second(input(whole))) << tools[i].first;
}
