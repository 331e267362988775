#include "support/DevDriver.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QJsonObject runTool(const QString& id, const QStringList& files, const QString& home, int* code,
                    const QString& options = {})
{
    QStringList arguments{"run", id};
    if (!options.isEmpty())
        arguments += QStringList{"--options", options};
    arguments += files;
    return lastJsonLine(runDevDriver(arguments, home, code));
}

} // namespace

TEST(ImageToolsRun, RotateResizeAndMergeLandBesideThePhoto)
{
    QTemporaryDir dir;
    const QString photo = writeOpaqueImage(dir.filePath("photo.jpeg"), 400, 300);
    int code = -1;
    QJsonObject result = runTool("tool.image.rotate", {photo}, dir.path(), &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), dir.filePath("photo (rotated).jpeg"));
    QByteArray orientation;
    runProgram("exiv2", {"-g", "Exif.Image.Orientation", "-Pv", dir.filePath("photo (rotated).jpeg")}, &orientation);
    EXPECT_EQ(orientation.trimmed(), "6");

    result = runTool("tool.image.resize", {photo}, dir.path(), &code, R"({"maxDimension":1200})");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(vipsField(dir.filePath("photo (resized).jpg"), "width"), "1200");

    const QString other = writeOpaqueImage(dir.filePath("second.jpg"), 200, 300);
    result = runTool("tool.image.merge", {photo, other}, dir.path(), &code, R"({"mergeLayout":"vertical"})");
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), dir.filePath("photo (merged).jpg"));
    EXPECT_EQ(vipsField(dir.filePath("photo (merged).jpg"), "height"), "900");
}

TEST(ImageToolsRun, CompressRefusesWhatCannotShrinkAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString dot = dir.filePath("dot.png");
    QImage image(1, 1, QImage::Format_Indexed8);
    image.setColorTable({qRgb(0, 0, 0)});
    image.fill(0);
    ASSERT_TRUE(image.save(dot));
    int code = -1;
    const QJsonObject result = runTool("tool.image.compress", {dot}, dir.path(), &code);
    EXPECT_NE(code, 0);
    EXPECT_TRUE(QJsonDocument(result).toJson().contains("Already as small as it gets"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"dot.png"});
}

TEST(ImageToolsRun, AnEmptyJpegIsRefusedByEditAndAnnotateAsByEveryTool)
{
    QTemporaryDir dir;
    const QString zero = writeFile(dir.filePath("zero.jpg"), {});
    for (const QString id : {"tool.image.edit", "tool.image.annotate", "tool.image.rotate", "tool.image.compress",
                             "tool.image.removeMetadata", "tool.image.toPDF", "convert.image.png"}) {
        int code = -1;
        const QJsonObject result = runTool(id, {zero}, dir.path(), &code);
        EXPECT_NE(code, 0) << id.toStdString();
        EXPECT_EQ(result.value("state").toString(), "failed") << id.toStdString();
        EXPECT_TRUE(QJsonDocument(result).toJson().contains("This file is damaged or not in a supported format"))
            << id.toStdString();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"zero.jpg"});
}

TEST(ImageToolsRun, GreyAndCmykPicturesMakeAPdfInTheirOwnColours)
{
    QTemporaryDir dir;
    const QString grey = writeGreyPng(dir.filePath("grey.png"), 64, 48, 90);
    const QString cmyk = writeCmykJpeg(dir.filePath("cmyk.jpg"), 64, 48, QColor(200, 30, 30));
    ASSERT_FALSE(grey.isEmpty());
    ASSERT_FALSE(cmyk.isEmpty());
    int code = -1;
    const QJsonObject result = runTool("tool.image.toPDF", {cmyk, grey}, dir.path(), &code);
    ASSERT_EQ(code, 0);
    const QString pdf = result.value("outputs").toArray().first().toString();
    ASSERT_EQ(runProgram("pdftoppm", {"-r", "72", "-png", pdf, dir.filePath("page")}), 0);
    const QColor greyPage = QImage(dir.filePath("page-2.png")).pixelColor(30, 20);
    EXPECT_NEAR(greyPage.red(), 90, 3);
    EXPECT_NEAR(greyPage.green(), 90, 3);
    const QColor redPage = QImage(dir.filePath("page-1.png")).pixelColor(30, 20);
    EXPECT_GT(redPage.red(), 160);
    EXPECT_LT(redPage.green(), 90);

    const QJsonObject single = runTool("convert.image.pdf", {grey}, dir.path(), &code);
    ASSERT_EQ(code, 0);
    EXPECT_TRUE(programOutput("pdfimages", {"-list", single.value("outputs").toArray().first().toString()})
                    .contains(" gray "));
}

TEST(ImageToolsRun, AnUndecodableWebpIsCalledDamagedNotUnwritable)
{
    QTemporaryDir dir;
    const QString webp = writeUndecodableWebp(dir.filePath("broken.webp"));
    ASSERT_FALSE(webp.isEmpty());
    int code = -1;
    const QJsonObject result = runTool("convert.image.jpg", {webp}, dir.path(), &code);
    EXPECT_NE(code, 0);
    const QByteArray json = QJsonDocument(result).toJson();
    EXPECT_TRUE(json.contains("This file is damaged or not in a supported format")) << json.toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"broken.webp"});
}
