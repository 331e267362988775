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
