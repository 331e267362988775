#include "engines/pdf/ImagesToPdf.h"
#include "model/EngineError.h"
#include "model/Progress.h"
#include "support/ImageTestImages.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

// "W x H" of every page, in points, as pdfinfo reports them.
QStringList pageSizes(const QString& pdf, int pages)
{
    const QString info = QString::fromUtf8(
        programOutput("pdfinfo", {"-f", "1", "-l", QString::number(pages), pdf}));
    QStringList sizes;
    static const QRegularExpression line(QStringLiteral("Page +\\d+ size: +([\\d.]+) x ([\\d.]+) pts"));
    for (auto it = line.globalMatch(info); it.hasNext();) {
        const auto match = it.next();
        sizes << QString::number(match.captured(1).toDouble()) + " x " + QString::number(match.captured(2).toDouble());
    }
    return sizes;
}

} // namespace

TEST(ImagesToPdf, AJpegGoesInByteForByteOnAPageOfItsPhysicalSize)
{
    QTemporaryDir dir;
    const QString jpeg = writeOpaqueImage(dir.filePath("cam.jpg"), 3000, 2000, 300);
    const QString pdf = dir.filePath("cam.pdf");
    Progress progress(1000);
    ImagesToPdf::makePDF({jpeg}, pdf, &progress);
    EXPECT_EQ(runProgram("qpdf", {"--check", pdf}), 0);
    EXPECT_EQ(pageSizes(pdf, 1), QStringList{"720 x 480"});
    EXPECT_TRUE(programOutput("pdfinfo", {pdf}).contains("Quorvenda"));
    EXPECT_EQ(progress.completedUnitCount(), 1000);
    ASSERT_EQ(runProgram("pdfimages", {"-j", pdf, dir.filePath("out")}), 0);
    EXPECT_EQ(readFile(dir.filePath("out-000.jpg")), readFile(jpeg));
}

TEST(ImagesToPdf, EveryImageBecomesAnUprightPageOfItsOwn)
{
    QTemporaryDir dir;
    const QString cam = writeOpaqueImage(dir.filePath("cam.jpg"), 3000, 2000, 300);
    const QString flat = writeOpaqueImage(dir.filePath("flat.png"), 320, 240, 72);
    const QString turned = writeOpaqueImage(dir.filePath("turned.jpg"), 144, 96, 72);
    ASSERT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Orientation 6", turned}), 0);
    const QString clear = writeHalfTransparentPng(dir.filePath("clear.png"), 100, 50, 72);
    const QString pdf = dir.filePath("all.pdf");
    ImagesToPdf::makePDF({cam, flat, turned, clear}, pdf);
    EXPECT_EQ(runProgram("qpdf", {"--check", pdf}), 0);
    EXPECT_EQ(pageSizes(pdf, 4), (QStringList{"720 x 480", "320 x 240", "96 x 144", "100 x 50"}));
    const QString list = QString::fromUtf8(programOutput("pdfimages", {"-list", pdf}));
    const QStringList rows = list.split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_EQ(rows.size(), 5) << list.toStdString();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(rows[i].contains(" jpeg ")) << rows[i].toStdString();
    EXPECT_TRUE(rows[3].contains(" image ") && rows[3].contains(" image ")) << rows[3].toStdString();
    EXPECT_TRUE(rows[4].contains(" smask ")) << rows[4].toStdString();
}

TEST(ImagesToPdf, ADamagedImageEndsTheDocumentWithNothingLeft)
{
    QTemporaryDir dir;
    const QString good = writeOpaqueImage(dir.filePath("good.png"), 40, 30);
    const QString bad = writeFile(dir.filePath("bad.png"), "not a picture");
    const QString pdf = dir.filePath("out.pdf");
    try {
        ImagesToPdf::makePDF({good, bad}, pdf);
        ADD_FAILURE() << "written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }
    EXPECT_FALSE(QFileInfo::exists(pdf));
    EXPECT_DOUBLE_EQ(ImagesToPdf::pagePoints(3000, 300), 720.0);
    EXPECT_DOUBLE_EQ(ImagesToPdf::pagePoints(100, 30), 100.0);
}

TEST(ImagesToPdf, AFullDiskFailsWithNothingLeft)
{
    QTemporaryDir dir;
    SmallDisk disk(128 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    const QString png = writeHalfTransparentPng(dir.filePath("clear.png"), 800, 600, 72);
    const QString noisy = dir.filePath("noisy.png");
    ASSERT_EQ(runProgram("vips", {"gaussnoise", noisy, "800", "600"}), 0);
    const QString pdf = disk.filePath("out.pdf");
    try {
        ImagesToPdf::makePDF({png, noisy, noisy}, pdf);
        ADD_FAILURE() << "written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Couldn't create the PDF");
    }
    EXPECT_FALSE(QFileInfo::exists(pdf));
}
