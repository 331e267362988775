#include "engines/image/ImageToolFixture.h"

#include "engines/image/conversion/ImageCompression.h"
#include "engines/image/conversion/ImageEdits.h"
#include "engines/image/conversion/ImageRotation.h"
#include "engines/image/foreign/TiffPageChain.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/metadata/ImageMetadataRemoval.h"
#include "engines/image/resample/ImageResize.h"
#include "engines/pdf/ImagesToPdf.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "support/SmallDisk.h"

#include <QStandardPaths>

using namespace qv;
using namespace qv::test;

namespace {

class TiffPagesTest : public ImageToolFixture {
protected:
    static QString field(const QString& path, const QString& name)
    {
        QByteArray out;
        runProgram("vipsheader", {"-f", name, path}, &out);
        return QString::fromUtf8(out.trimmed());
    }

    // Two pages of 200 x 100, uncompressed: a grey gradient, then the same turned dark.
    QString twoPages()
    {
        const QString tall = dir.filePath("tall.v");
        EXPECT_EQ(runProgram("vips", {"xyz", tall, "200", "200"}), 0);
        const QString band = dir.filePath("band.v");
        EXPECT_EQ(runProgram("vips", {"extract_band", tall, band, "0"}), 0);
        const QString grey = dir.filePath("grey.v");
        EXPECT_EQ(runProgram("vips", {"cast", band, grey, "uchar"}), 0);
        const QString path = in("scan.tif");
        EXPECT_EQ(runProgram("vips", {"tiffsave", grey, path, "--page-height", "100"}), 0);
        return path;
    }

    // A grey page of 200 x 100 and a noisy RGB page of 60 x 150 joined by libtiff's own tool,
    // with an artist named on each page. Empty when the tools are missing.
    QString mixedPages()
    {
        if (QStandardPaths::findExecutable("tiffcp").isEmpty() || QStandardPaths::findExecutable("tiffset").isEmpty())
            return {};
        const QString black = dir.filePath("black.v");
        EXPECT_EQ(runProgram("vips", {"black", black, "200", "100"}), 0);
        const QString grey = dir.filePath("grey.tif");
        EXPECT_EQ(runProgram("vips", {"linear", black, grey, "1", "80", "--uchar"}), 0);
        const QString colour = dir.filePath("colour.png");
        EXPECT_TRUE(noise(60, 150).save(colour));
        const QString second = dir.filePath("colour.tif");
        EXPECT_EQ(runProgram("vips", {"copy", colour, second, "--xres", "2.834645669", "--yres", "2.834645669"}), 0);
        const QString path = in("mixed.tif");
        EXPECT_EQ(runProgram("tiffcp", {grey, second, path}), 0);
        for (const char* page : {"0", "1"})
            EXPECT_EQ(runProgram("tiffset", {"-d", page, "-s", "315", "Jane Roe", path}), 0);
        return path;
    }

    static QColor secondPage(const QString& path, int x, int y)
    {
        return ImageDecoder::decode(path, std::nullopt, 1).toQImage().pixelColor(x, y);
    }

    // Each page's width x height, read page by page by libvips.
    static QStringList pageSizes(const QString& path)
    {
        QStringList sizes;
        const int pages = field(path, "n-pages").toInt();
        for (int page = 0; page < std::max(pages, 1); ++page) {
            const QString one = QStringLiteral("%1[page=%2]").arg(path).arg(page);
            sizes << field(one, "width") + "x" + field(one, "height");
        }
        return sizes;
    }
};

} // namespace

// The single-picture road decoded the first page only: a two-page scan came out of rotate, flip,
// resize, compress and To PDF with one page.
TEST_F(TiffPagesTest, EveryPageOfAMultiPageTiffIsKept)
{
    const QString scan = twoPages();
    ASSERT_EQ(field(scan, "n-pages"), "2");

    const QString turned = ImageRotation::rotate(input(scan), 90, false, false, context, work).toLocalFile();
    EXPECT_EQ(field(turned, "n-pages"), "2");
    EXPECT_EQ(field(turned, "width"), "100");
    EXPECT_EQ(field(turned, "height"), "200");

    const QString flipped = ImageRotation::rotate(input(scan), 0, true, false, context, work).toLocalFile();
    EXPECT_EQ(field(flipped, "n-pages"), "2");
    // The gradient runs left to right; flipped, the first column is the brightest.
    EXPECT_GT(pixel(flipped, 0, 10).red(), pixel(flipped, 199, 10).red());

    OperationContext sizing = context;
    sizing.options.maxDimension = 50;
    const QString resized = ImageResize::resize(input(scan), sizing, work).toLocalFile();
    EXPECT_EQ(field(resized, "n-pages"), "2");
    EXPECT_EQ(field(resized, "width"), "50");

    const QString compressed = ImageCompression::compress(input(scan), context, work).toLocalFile();
    EXPECT_EQ(field(compressed, "n-pages"), "2");

    const QString pdf = dir.filePath("out/scan.pdf");
    ImagesToPdf::makePDF({scan}, pdf, nullptr, {});
    QByteArray info;
    runProgram("pdfinfo", {pdf}, &info);
    EXPECT_TRUE(info.contains("Pages:           2")) << info.toStdString();
}

// Pages of different sizes were refused ("differ in size"), and Remove Meta kept the first page
// alone: each page now keeps its own size in every TIFF written, and the directories chain
// as libtiff reads them.
TEST_F(TiffPagesTest, PagesOfDifferentSizesKeepTheirOwnSizes)
{
    const QString scan = mixedPages();
    if (scan.isEmpty())
        GTEST_SKIP() << "needs tiffcp and tiffset (libtiff-tools)";
    ASSERT_EQ(pageSizes(scan), QStringList({"200x100", "60x150"}));

    const auto libtiffReads = [](const QString& path, int pages) {
        QByteArray info;
        EXPECT_EQ(runProgram("tiffinfo", {path}, &info), 0) << info.toStdString();
        EXPECT_EQ(info.count("TIFF Directory at offset"), pages) << info.toStdString();
        return info;
    };
    const QString turned = ImageRotation::rotate(input(scan), 90, false, false, context, work).toLocalFile();
    EXPECT_EQ(pageSizes(turned), QStringList({"100x200", "150x60"}));
    libtiffReads(turned, 2);

    const QString flipped = ImageRotation::rotate(input(scan), 0, false, true, context, work).toLocalFile();
    EXPECT_EQ(pageSizes(flipped), QStringList({"200x100", "60x150"}));
    // The noise page, flipped top to bottom, is the source's page read from the bottom up.
    EXPECT_EQ(secondPage(flipped, 5, 0), secondPage(scan, 5, 149));

    OperationContext sizing = context;
    sizing.options.maxDimension = 50;
    const QString resized = ImageResize::resize(input(scan), sizing, work).toLocalFile();
    EXPECT_EQ(pageSizes(resized), QStringList({"50x25", "20x50"}));

    const QString compressed = ImageCompression::compress(input(scan), context, work).toLocalFile();
    EXPECT_EQ(pageSizes(compressed), QStringList({"200x100", "60x150"}));

    const QString bare = ImageMetadataRemoval::removeMetadata(input(scan), context, work).toLocalFile();
    EXPECT_EQ(pageSizes(bare), QStringList({"200x100", "60x150"}));
    EXPECT_FALSE(libtiffReads(bare, 2).contains("Jane Roe"));
    EXPECT_EQ(secondPage(bare, 7, 9), secondPage(scan, 7, 9));

    // A cut and a turn from the editors go to every page; a page the cut misses stays whole.
    OperationContext cutting = context;
    cutting.options.cropRect = QRectF(10, 20, 50, 40);
    const QString cut = ImageEdits::applyEdits(input(scan), cutting, "crop", work).toLocalFile();
    EXPECT_EQ(pageSizes(cut), QStringList({"50x40", "50x40"}));
    EXPECT_EQ(secondPage(cut, 0, 0), secondPage(scan, 10, 20));
    cutting.options.cropRect = QRectF(100, 10, 50, 50);
    cutting.options.rotation = 180;
    const QString edited = ImageEdits::applyEdits(input(scan), cutting, "edit", work).toLocalFile();
    EXPECT_EQ(pageSizes(edited), QStringList({"50x50", "60x150"}));

    const QString pdf = dir.filePath("out/mixed.pdf");
    ImagesToPdf::makePDF({scan}, pdf, nullptr, {});
    QByteArray info;
    runProgram("pdfinfo", {"-f", "1", "-l", "2", pdf}, &info);
    EXPECT_TRUE(info.contains("Page    1 size:  200 x 100 pts")) << info.toStdString();
    EXPECT_TRUE(info.contains("Page    2 size:  60 x 150 pts")) << info.toStdString();
    EXPECT_TRUE(leftovers().isEmpty());
}

// Three pages of three sizes, each naming its maker, artist, software, owner and a description:
// Remove Meta leaves none of it on any page, as exiftool reads every directory, and every page
// keeps its own size and pixels.
TEST_F(TiffPagesTest, RemoveMetaCleansEveryPage)
{
    if (QStandardPaths::findExecutable("tiffcp").isEmpty() || QStandardPaths::findExecutable("tiffset").isEmpty()
        || QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "needs tiffcp, tiffset (libtiff-tools) and exiftool";
    QStringList single;
    for (const auto& [width, height] : QList<std::pair<int, int>>{{30, 20}, {50, 40}, {20, 30}}) {
        const QString png = dir.filePath(QStringLiteral("page %1.png").arg(single.size()));
        EXPECT_TRUE(noise(width, height).save(png));
        const QString tif = dir.filePath(QStringLiteral("page %1.tif").arg(single.size()));
        ASSERT_EQ(runProgram("vips", {"copy", png, tif}), 0);
        single << tif;
    }
    const QString scan = in("three.tif");
    ASSERT_EQ(runProgram("tiffcp", QStringList(single) << scan), 0);
    const QList<std::pair<const char*, const char*>> tags{{"271", "Acme Cameras"}, {"272", "Model Seven"},
                                                          {"305", "Snapshot Studio 4"}, {"315", "Jane Roe"},
                                                          {"33432", "Jane Roe 2026"}, {"270", "Harbour at dusk"}};
    for (const char* page : {"0", "1", "2"})
        for (const auto& [tag, value] : tags)
            ASSERT_EQ(runProgram("tiffset", {"-d", page, "-s", tag, value, scan}), 0);
    const auto identifying = [](const QString& path) {
        QByteArray out;
        EXPECT_EQ(runProgram("exiftool", {"-a", "-G1", "-s", "-Make", "-Model", "-Software", "-Artist", "-Copyright",
                                          "-ImageDescription", path},
                             &out),
                  0);
        return QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    ASSERT_EQ(identifying(scan).size(), 18) << identifying(scan).join('\n').toStdString();
    ASSERT_TRUE(identifying(scan).join('\n').contains("[IFD2]"));

    const QString bare = ImageMetadataRemoval::removeMetadata(input(scan), context, work).toLocalFile();
    EXPECT_EQ(identifying(bare), QStringList()) << identifying(bare).join('\n').toStdString();
    QByteArray info;
    EXPECT_EQ(runProgram("tiffinfo", {bare}, &info), 0);
    EXPECT_EQ(info.count("TIFF Directory at offset"), 3) << info.toStdString();
    for (const char* word : {"Acme", "Seven", "Snapshot", "Jane", "Harbour"})
        EXPECT_FALSE(info.contains(word)) << word;
    EXPECT_EQ(pageSizes(bare), QStringList({"30x20", "50x40", "20x30"}));
    for (int page = 0; page < 3; ++page)
        EXPECT_EQ(ImageDecoder::decode(bare, std::nullopt, page).toQImage().pixelColor(3, 4),
                  ImageDecoder::decode(scan, std::nullopt, page).toQImage().pixelColor(3, 4))
            << page;
}

// The pages go to the file one by one; a full disk ends the write with its reason and nothing left.
TEST_F(TiffPagesTest, AFullDiskLeavesNoPartOfThePages)
{
    const QString scan = mixedPages();
    if (scan.isEmpty())
        GTEST_SKIP() << "needs tiffcp and tiffset (libtiff-tools)";
    SmallDisk disk(8 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    try {
        TiffPages::write(scan, 2, disk.filePath("out.tif"), [](const DecodedImage& page) { return page; }, work);
        ADD_FAILURE() << "written";
    } catch (...) {
        EXPECT_EQ(jobFailure(std::current_exception()).message, "Not enough disk space");
    }
    EXPECT_TRUE(QDir(disk.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// The chain moves every offset of each page it adds, in either byte order, classic or BigTIFF,
// and refuses pages of another kind than the first instead of writing a file no reader opens.
TEST_F(TiffPagesTest, PagesChainInEitherByteOrderAndInBigTiff)
{
    if (QStandardPaths::findExecutable("tiffcp").isEmpty())
        GTEST_SKIP() << "needs tiffcp (libtiff-tools)";
    const QString black = dir.filePath("black.v");
    ASSERT_EQ(runProgram("vips", {"black", black, "30", "20"}), 0);
    const QString wide = dir.filePath("wide.tif");
    ASSERT_EQ(runProgram("vips", {"linear", black, wide + "[compression=lzw]", "1", "60", "--uchar"}), 0);
    const QString colour = dir.filePath("colour.png");
    ASSERT_TRUE(noise(12, 40).save(colour));
    const QString tall = dir.filePath("tall.tif");
    ASSERT_EQ(runProgram("vips", {"copy", colour, tall}), 0);
    for (const QStringList& kind : {QStringList{}, QStringList{"-B"}, QStringList{"-8"}, QStringList{"-B", "-8"}}) {
        const std::string name = kind.join(" ").toStdString();
        QStringList pages;
        for (const QString& page : {wide, tall}) {
            const QString copy = dir.filePath(QString("%1-%2").arg(pages.size()).arg(kind.join("")) + ".tif");
            ASSERT_EQ(runProgram("tiffcp", kind + QStringList{page, copy}), 0);
            pages << copy;
        }
        const QString joined = dir.filePath("joined" + kind.join("") + ".tif");
        {
            TiffPageChain chain(joined);
            for (const QString& page : pages)
                chain.append(readFile(page));
            chain.finish();
        }
        QByteArray info;
        EXPECT_EQ(runProgram("tiffinfo", {joined}, &info), 0) << name << info.toStdString();
        EXPECT_EQ(info.count("TIFF Directory at offset"), 2) << name;
        EXPECT_EQ(pageSizes(joined), QStringList({"30x20", "12x40"})) << name;
        EXPECT_EQ(secondPage(joined, 5, 30), pixel(tall, 5, 30)) << name;
    }
    // A BigTIFF page after a classic one cannot join it.
    TiffPageChain mixed(dir.filePath("mixed-kinds.tif"));
    mixed.append(readFile(dir.filePath("0-.tif")));
    EXPECT_THROW(mixed.append(readFile(dir.filePath("1-8.tif"))), EngineError);
    EXPECT_THROW(mixed.append("II*\0 not a directory"), EngineError);
}
