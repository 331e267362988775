#include "engines/pdf/ImagesToPdf.h"
#include "model/errors/EngineError.h"
#include "model/operations/Progress.h"
#include "support/ImageTestImages.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
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

namespace {

// The page as poppler draws it, at one pixel per point.
QImage renderedPage(const QString& pdf, int page)
{
    const QString base = pdf + ".page";
    if (runProgram("pdftoppm", {"-r", "72", "-png", "-singlefile", "-f", QString::number(page), "-l",
                                QString::number(page), pdf, base})
        != 0)
        return {};
    return QImage(base + ".png");
}

// The page as MuPDF draws it, at one pixel per point.
QImage renderedByMuPdf(const QString& pdf, int page)
{
    const QString png = pdf + ".mupdf.png";
    if (runProgram("mutool", {"draw", "-q", "-r", "72", "-o", png, pdf, QString::number(page)}) != 0)
        return {};
    return QImage(png);
}

// pdfimages -list rows of the document's images, without the two heading lines.
QStringList imageRows(const QString& pdf)
{
    return QString::fromUtf8(programOutput("pdfimages", {"-list", pdf})).split('\n', Qt::SkipEmptyParts).mid(2);
}

} // namespace

TEST(ImagesToPdf, GreyAndCmykPicturesKeepTheirColours)
{
    QTemporaryDir dir;
    const QString grey = writeGreyPng(dir.filePath("grey.png"), 64, 48, 90);
    const QString cmyk = writeCmykJpeg(dir.filePath("cmyk.jpg"), 64, 48, QColor(200, 30, 30));
    ASSERT_FALSE(grey.isEmpty());
    ASSERT_FALSE(cmyk.isEmpty());
    ASSERT_EQ(vipsField(cmyk, "bands"), "4");
    const QString greyJpeg = dir.filePath("grey.jpg");
    ASSERT_EQ(runProgram("vips", {"copy", grey, greyJpeg}), 0);
    ASSERT_EQ(vipsField(greyJpeg, "bands"), "1");
    const QString pdf = dir.filePath("all.pdf");
    ImagesToPdf::makePDF({grey, cmyk, greyJpeg}, pdf);
    EXPECT_EQ(runProgram("qpdf", {"--check", pdf}), 0);

    // page type width height color comp bpc enc ...
    const QStringList rows = imageRows(pdf);
    ASSERT_EQ(rows.size(), 3);
    auto columns = [&](int row) { return rows[row].split(' ', Qt::SkipEmptyParts); };
    EXPECT_EQ(columns(0).mid(5, 3), (QStringList{"gray", "1", "8"})) << rows[0].toStdString();
    // The CMYK JPEG goes in as its own bytes, not as a second generation in RGB.
    EXPECT_EQ(columns(1).mid(5, 4), (QStringList{"cmyk", "4", "8", "jpeg"})) << rows[1].toStdString();
    EXPECT_EQ(columns(2).mid(5, 4), (QStringList{"gray", "1", "8", "jpeg"})) << rows[2].toStdString();
    ASSERT_EQ(runProgram("pdfimages", {"-j", "-f", "3", "-l", "3", pdf, dir.filePath("passed")}), 0);
    EXPECT_EQ(readFile(dir.filePath("passed-000.jpg")), readFile(greyJpeg));
    EXPECT_TRUE(readFile(pdf).contains(readFile(cmyk)));
    // ImageMagick stores CMYK inverted under Adobe's marker, as Photoshop does.
    EXPECT_TRUE(ImagesToPdf::hasAdobeMarker(cmyk));
    EXPECT_FALSE(ImagesToPdf::hasAdobeMarker(greyJpeg));
    EXPECT_FALSE(ImagesToPdf::hasAdobeMarker(grey));
    // Every picture asks to be smoothed when scaled.
    EXPECT_EQ(readFile(pdf).count("/Interpolate true"), 3);

    for (int page : {1, 3}) {
        const QColor seen = renderedPage(pdf, page).pixelColor(30, 20);
        EXPECT_NEAR(seen.red(), 90, 3) << page;
        EXPECT_NEAR(seen.green(), 90, 3) << page;
        EXPECT_NEAR(seen.blue(), 90, 3) << page;
    }
    // The CMYK picture's colour profile is the libvips fallback, not ImageMagick's plain
    // arithmetic, so it comes back a red near, not at, the one it was made from.
    // Poppler and MuPDF alike.
    for (const QImage& page : {renderedPage(pdf, 2), renderedByMuPdf(pdf, 2)}) {
        ASSERT_FALSE(page.isNull());
        const QColor red = page.pixelColor(30, 20);
        EXPECT_GT(red.red(), 160);
        EXPECT_LT(red.green(), 90);
        EXPECT_LT(red.blue(), 90);
    }
}

TEST(ImagesToPdf, ADamagedJpegIsNotPassedThrough)
{
    QTemporaryDir dir;
    const QString whole = writeNoisyImage(dir.filePath("whole.jpg"));
    ASSERT_FALSE(whole.isEmpty());
    const QString cut = writeCutCopy(whole, dir.filePath("cut.jpg"));
    const QString scrambled = writeScrambledCopy(whole, dir.filePath("scrambled.jpg"));
    const QString empty = writeFile(dir.filePath("empty.jpg"), {});
    for (const QString& bad : {cut, scrambled, empty}) {
        const QString pdf = dir.filePath("out.pdf");
        try {
            ImagesToPdf::makePDF({whole, bad}, pdf);
            ADD_FAILURE() << "written from " << bad.toStdString();
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "This file is damaged or not in a supported format") << bad.toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(pdf));
    }
}

TEST(ImagesToPdf, PicturesInAWiderProfileShowTheirOwnColours)
{
    QTemporaryDir dir;
    const QString red = dir.filePath("red.png");
    QImage plain(64, 48, QImage::Format_RGB888);
    plain.fill(QColor(200, 30, 30));
    ASSERT_TRUE(plain.save(red));
    // The same red in Display P3 numbers, with the profile that says so.
    const QString jpeg = dir.filePath("p3.jpg");
    const QString png = dir.filePath("p3.png");
    ASSERT_EQ(runProgram("vips", {"icc_transform", red, jpeg + "[Q=95]", "p3"}), 0);
    ASSERT_EQ(runProgram("vips", {"icc_transform", red, png, "p3"}), 0);
    const QString pdf = dir.filePath("p3.pdf");
    ImagesToPdf::makePDF({jpeg, png}, pdf);
    EXPECT_EQ(runProgram("qpdf", {"--check", pdf}), 0);
    const QStringList rows = imageRows(pdf);
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].split(' ', Qt::SkipEmptyParts).value(5), "icc") << rows[0].toStdString();
    EXPECT_EQ(rows[1].split(' ', Qt::SkipEmptyParts).value(5), "rgb") << rows[1].toStdString();
    for (int page : {1, 2}) {
        const QColor seen = renderedPage(pdf, page).pixelColor(30, 20);
        EXPECT_NEAR(seen.red(), 200, 6) << page;
        EXPECT_NEAR(seen.green(), 30, 6) << page;
        EXPECT_NEAR(seen.blue(), 30, 6) << page;
    }
}
