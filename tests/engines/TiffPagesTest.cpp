#include "ImageToolFixture.h"

#include "engines/image/ImageCompression.h"
#include "engines/image/ImageResize.h"
#include "engines/image/ImageRotation.h"
#include "engines/pdf/ImagesToPdf.h"
#include "model/EngineError.h"

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
