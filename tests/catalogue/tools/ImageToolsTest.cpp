#include "catalogue/lists/ImageCatalogue.h"
#include "catalogue/tools/ImageTools.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QPainter>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

const OperationDescriptor& byID(const QString& id)
{
    for (const OperationDescriptor& d : imageTools())
        if (d.id == id)
            return d;
    throw std::runtime_error("no " + id.toStdString());
}

FileInfo inspected(const QString& path)
{
    return fileInfoForURL(QUrl::fromLocalFile(path));
}

QList<QUrl> run(const QString& id, const QStringList& paths, OperationContext context = {})
{
    QList<QUrl> urls;
    for (const QString& path : paths) {
        urls << QUrl::fromLocalFile(path);
        context.files << inspected(path);
    }
    if (!context.notes)
        context.notes = std::make_shared<JobNotes>();
    OutputPlanner planner(urls.first(), context.settings, context.notes);
    Progress progress(100);
    return byID(id).make(context)->run(urls, planner, progress);
}

QString failure(const QString& id, const QStringList& paths, const OperationContext& context = {})
{
    try {
        run(id, paths, context);
    } catch (const EngineError& error) {
        return error.message();
    }
    return {};
}

QImage redDiscOnGrey(bool disc = true)
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(QColor(128, 128, 128));
    if (disc) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(220, 20, 20));
        painter.drawEllipse(QPointF(200, 150), 80, 80);
    }
    return image;
}

QImage pixels(const QUrl& url)
{
    return ImageDecoder::decode(url.toLocalFile()).toQImage();
}

} // namespace

TEST(ImageTools, RowsInWheelOrderWithTheirFields)
{
    QStringList ids;
    for (const OperationDescriptor& d : imageTools())
        ids << d.id;
    const QStringList mine{"tool.image.compress", "tool.image.resize", "tool.image.crop",
                           "tool.image.rotate", "tool.image.removeBackground", "tool.image.removeMetadata",
                           "tool.image.edit", "tool.image.flip", "tool.image.addBackground",
                           "tool.image.toPDF", "tool.image.merge", "tool.image.annotate"};
    qsizetype last = -1;
    for (const QString& id : mine) {
        EXPECT_GT(ids.indexOf(id), last) << id.toStdString();
        last = ids.indexOf(id);
    }
    EXPECT_EQ(byID("tool.image.removeBackground").title, "Remove BG");
    EXPECT_EQ(byID("tool.image.removeBackground").outputExtension, "png");
    EXPECT_EQ(byID("tool.image.merge").minimumFiles, 2);
    EXPECT_EQ(byID("tool.image.merge").multiFile, MultiFileMode::combine);
    EXPECT_EQ(byID("tool.image.crop").multiFile, MultiFileMode::single);
    EXPECT_EQ(byID("tool.image.compress").optionFields,
              (QList<OptionField>{OptionField::compressPreset, OptionField::imageQuality}));

    QTemporaryDir dir;
    const FileInfo jpeg = inspected(writeOpaqueImage(dir.filePath("a.jpg"), 8, 8));
    EXPECT_TRUE(byID("tool.image.compress").accepts(jpeg));
    FileInfo unknown = jpeg;
    unknown.format.reset();
    EXPECT_FALSE(byID("tool.image.compress").accepts(unknown));
    EXPECT_EQ(byID("tool.image.removeBackground").accepts(jpeg), Capabilities::shared().subjectLifting());
    EXPECT_EQ(byID("tool.image.addBackground").accepts(jpeg), Capabilities::shared().subjectLifting());
}

TEST(ImageTools, CropCutsTheAreaClipsAndRefusesAnEmptyOne)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("photo.png");
    ASSERT_TRUE(redDiscOnGrey().save(path));
    OperationContext context;
    context.options.cropRect = QRectF(50, 50, 100, 50);
    const QList<QUrl> cut = run("tool.image.crop", {path}, context);
    ASSERT_EQ(cut.size(), 1);
    EXPECT_EQ(cut.first().fileName(), "photo (cropped).png");
    EXPECT_EQ(ImageDecoder::pixelSize(cut.first().toLocalFile()), QSize(100, 50));

    context.options.cropRect = QRectF(350, 250, 100, 100);
    EXPECT_EQ(ImageDecoder::pixelSize(run("tool.image.crop", {path}, context).first().toLocalFile()), QSize(50, 50));
    context.options.cropRect = QRectF(500, 500, 10, 10);
    EXPECT_EQ(failure("tool.image.crop", {path}, context), "The crop area is empty");
}

// The crop of a scan of two pages cut the first and dropped the second: every page is cut.
TEST(ImageTools, CropCutsEveryPageOfATiff)
{
    QTemporaryDir dir;
    const QString picture = dir.filePath("page.v");
    ASSERT_EQ(runProgram("vips", {"xyz", picture, "200", "100"}), 0);
    const QString path = dir.filePath("scan.tif");
    ASSERT_EQ(runProgram("vips", {"tiffsave", picture, path, "--page-height", "50"}), 0);
    OperationContext context;
    context.options.cropRect = QRectF(10, 10, 30, 20);
    const QList<QUrl> cut = run("tool.image.crop", {path}, context);
    ASSERT_EQ(cut.size(), 1);
    QByteArray pages;
    runProgram("vipsheader", {"-f", "n-pages", cut.first().toLocalFile()}, &pages);
    EXPECT_EQ(pages.trimmed(), "2");
    EXPECT_EQ(ImageDecoder::pixelSize(cut.first().toLocalFile()), QSize(30, 20));
}

TEST(ImageTools, RotateAndFlipDefaults)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.png");
    ASSERT_TRUE(redDiscOnGrey().save(path));
    const QList<QUrl> turned = run("tool.image.rotate", {path});
    EXPECT_EQ(turned.first().fileName(), "wide (rotated).png");
    EXPECT_EQ(ImageDecoder::pixelSize(turned.first().toLocalFile()), QSize(300, 400));
    EXPECT_EQ(run("tool.image.flip", {path}).first().fileName(), "wide (flipped).png");
}

TEST(ImageTools, BackgroundsComeOffAndGoOn)
{
    if (!Capabilities::shared().subjectLifting())
        GTEST_SKIP() << "subjects cannot be lifted here";
    QTemporaryDir dir;
    const QString disc = dir.filePath("disc.jpg");
    ASSERT_TRUE(redDiscOnGrey().save(disc, "JPEG", 95));
    const QList<QUrl> lifted = run("tool.image.removeBackground", {disc});
    ASSERT_EQ(lifted.size(), 1);
    EXPECT_EQ(lifted.first().fileName(), "disc (no background).png");
    const QImage cut = pixels(lifted.first());
    EXPECT_EQ(cut.pixelColor(5, 5).alpha(), 0);
    EXPECT_EQ(cut.pixelColor(395, 295).alpha(), 0);
    EXPECT_EQ(cut.pixelColor(200, 150).alpha(), 255);

    OperationContext green;
    green.options.backgroundColor = "#00FF00";
    const QList<QUrl> placed = run("tool.image.addBackground", {disc}, green);
    EXPECT_EQ(placed.first().fileName(), "disc (background).jpg");
    const QImage onGreen = pixels(placed.first());
    EXPECT_GT(onGreen.pixelColor(5, 5).green(), 200);
    EXPECT_LT(onGreen.pixelColor(5, 5).red(), 60);
    EXPECT_GT(onGreen.pixelColor(200, 150).red(), 180);

    const QString flat = dir.filePath("flat.png");
    ASSERT_TRUE(redDiscOnGrey(false).save(flat));
    EXPECT_EQ(failure("tool.image.removeBackground", {flat}), "No subject found in this image");
    EXPECT_FALSE(QFile::exists(dir.filePath("flat (no background).png")));
}
