#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/WebPWriter.h"
#include "model/errors/CancellationError.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include <thread>

using namespace qv;
using namespace qv::test;

namespace {

// The mean absolute difference of two pictures' pixels over every band, by vips.
double meanDifference(const QString& a, const QString& b, const QString& scratch)
{
    const QString difference = scratch + QStringLiteral(".diff.v");
    const QString absolute = scratch + QStringLiteral(".abs.v");
    if (runProgram("vips", {"subtract", a, b, difference}) != 0
        || runProgram("vips", {"abs", difference, absolute}) != 0)
        return -1.0;
    bool ok = false;
    const double mean = programOutput("vips", {"avg", absolute}).trimmed().toDouble(&ok);
    return ok ? mean : -1.0;
}

void writeWebP(const QString& source, const QString& target, bool lowMemory)
{
    ImageWork work;
    work.lowMemory = lowMemory;
    ImageWriter::write(ImageDecoder::decode(source), ImageOutput::webp, target, {}, 0.85, work);
}

} // namespace

TEST(WebPWriter, StripsMakeThePictureLibvipsWouldInBothModes)
{
    QTemporaryDir dir;
    // An odd size: the last strip is short and the chroma planes round up.
    const QString source = writeNoisyImage(dir.filePath("noisy.jpg"), 333, 217);
    ASSERT_FALSE(source.isEmpty());
    const QString peer = dir.filePath("peer.webp");
    ASSERT_EQ(runProgram("vips", {"copy", source, peer + "[Q=85]"}), 0);
    const double peerDifference = meanDifference(source, peer, dir.filePath("peer"));
    ASSERT_GT(peerDifference, 0.0);

    for (const bool lowMemory : {false, true}) {
        SCOPED_TRACE(lowMemory ? "low memory" : "full");
        const QString ours = dir.filePath(lowMemory ? "low.webp" : "full.webp");
        writeWebP(source, ours, lowMemory);
        EXPECT_EQ(vipsField(ours, "width"), "333");
        EXPECT_EQ(vipsField(ours, "height"), "217");
        EXPECT_EQ(vipsField(ours, "bands"), "3");
        // The same encoder at the same quality: as close to the source as libvips' own, and
        // about as large.
        const double difference = meanDifference(source, ours, dir.filePath("ours"));
        EXPECT_GE(difference, 0.0);
        EXPECT_LT(difference, peerDifference * 1.05 + 0.2);
        EXPECT_NEAR(double(QFileInfo(ours).size()), double(QFileInfo(peer).size()), QFileInfo(peer).size() * 0.06);
    }
    // Without metadata the file is the encoder's own: RIFF, WEBP and the VP8 chunk.
    const QByteArray head = readFile(dir.filePath("full.webp")).left(16);
    EXPECT_EQ(head.mid(0, 4), "RIFF");
    EXPECT_EQ(head.mid(8, 8), "WEBPVP8 ");
}

TEST(WebPWriter, AlphaStaysAndGreyBecomesRgb)
{
    QTemporaryDir dir;
    const QString clear = writeHalfTransparentPng(dir.filePath("half.png"), 101, 63);
    ASSERT_FALSE(clear.isEmpty());
    const QString withAlpha = dir.filePath("half.webp");
    writeWebP(clear, withAlpha, false);
    EXPECT_EQ(vipsField(withAlpha, "bands"), "4");
    // libwebp flattens the colour under clear pixels; libvips' own encode shows how much.
    const QString peer = dir.filePath("peer.webp");
    ASSERT_EQ(runProgram("vips", {"copy", clear, peer + "[Q=85]"}), 0);
    EXPECT_LT(meanDifference(clear, withAlpha, dir.filePath("alpha")),
              meanDifference(clear, peer, dir.filePath("peer")) * 1.05 + 0.2);
    // The clear half stays clear, the opaque half opaque.
    const QString alpha = dir.filePath("alpha.v");
    ASSERT_EQ(runProgram("vips", {"extract_band", withAlpha, alpha, "3"}), 0);
    EXPECT_NEAR(programOutput("vips", {"avg", alpha}).trimmed().toDouble(), 255.0 * 50 / 101, 1.0);

    const QString grey = writeGreyPng(dir.filePath("grey.png"), 50, 30, 90);
    ASSERT_FALSE(grey.isEmpty());
    const QString fromGrey = dir.filePath("grey.webp");
    writeWebP(grey, fromGrey, true);
    EXPECT_EQ(vipsField(fromGrey, "bands"), "3");
    EXPECT_NEAR(programOutput("vips", {"avg", fromGrey}).trimmed().toDouble(), 90.0, 2.0);
}

// A TIFF in CIELAB (Pillow's lab-red.tif) reaches the writer coded in four Lab bands: taken as
// RGBA they made a see-through brown of a red.
TEST(WebPWriter, APictureInAnotherColourSpaceIsTurnedToRgbFirst)
{
    QTemporaryDir dir;
    const QString source = writeNoisyImage(dir.filePath("noisy.jpg"), 120, 80);
    ASSERT_FALSE(source.isEmpty());
    const QString lab = dir.filePath("lab.tif");
    ASSERT_EQ(runProgram("vips", {"colourspace", source, lab, "labq"}), 0);
    ASSERT_TRUE(vipsField(lab, "coding").contains("LABQ"));
    const QString peer = dir.filePath("peer.webp");
    ASSERT_EQ(runProgram("vips", {"copy", lab, peer + "[Q=85]"}), 0);
    const QString ours = dir.filePath("ours.webp");
    writeWebP(lab, ours, false);
    EXPECT_EQ(vipsField(ours, "bands"), "3");
    EXPECT_LT(meanDifference(source, ours, dir.filePath("ours")),
              meanDifference(source, peer, dir.filePath("peer")) * 1.05 + 0.5);
}

TEST(WebPWriter, ProfileAndExifTravelInTheirChunks)
{
    QTemporaryDir dir;
    const QString plain = writeOpaqueImage(dir.filePath("plain.png"), 64, 48);
    const QString tagged = dir.filePath("tagged.jpg");
    // libvips attaches the profile it converts to, and writes EXIF of its own.
    ASSERT_EQ(runProgram("vips", {"icc_transform", plain, tagged, "srgb"}), 0);
    ASSERT_EQ(runProgram("exiv2", {"-M", "set Exif.Image.Make Quorcam", tagged}), 0);
    const DecodedImage image = ImageDecoder::decode(tagged);
    const QString out = dir.filePath("tagged.webp");
    ImageWriter::write(image, ImageOutput::webp, out, ImageWriter::destinationProperties(image.properties(), true),
                       0.85);
    EXPECT_EQ(vipsField(out, "width"), "64");
    EXPECT_GT(vipsField(out, "icc-profile-data").size(), 1000);
    EXPECT_TRUE(exivTags(out).contains("Quorcam"));
    // The RIFF size covers the file exactly.
    const QByteArray bytes = readFile(out);
    const quint32 riff = quint8(bytes[4]) | quint8(bytes[5]) << 8 | quint8(bytes[6]) << 16 | quint32(quint8(bytes[7])) << 24;
    EXPECT_EQ(qint64(riff) + 8, bytes.size());
    EXPECT_EQ(bytes.mid(12, 4), "VP8X");
}

TEST(WebPWriter, NeedFollowsTheSourcesBusyness)
{
    const qint64 w = 6000, h = 4000;
    // Gaussian noise and an enlarged photo at JPEG quality 90, as the batch bench makes them.
    const qint64 noise = WebPWriter::memoryNeed(w, h, false, 15'400'000, false);
    const qint64 photo = WebPWriter::memoryNeed(w, h, false, 3'490'000, false);
    const qint64 unknown = WebPWriter::memoryNeed(w, h, false, 0, false);
    // A noise encode kept about 300 MB besides its worker, a photo's about 80.
    EXPECT_GT(noise, qint64(300) << 20);
    EXPECT_LT(photo, qint64(120) << 20);
    EXPECT_NEAR(double(unknown), double(noise), noise * 0.02);
    const qint64 noiseLow = WebPWriter::memoryNeed(w, h, false, 15'400'000, true);
    // Without tokens, noise needs about what a photo does in full.
    EXPECT_LT(noiseLow, noise / 3);
    EXPECT_NEAR(double(noiseLow), double(photo), photo * 0.25);
    EXPECT_GT(WebPWriter::memoryNeed(w, h, true, 3'490'000, false), photo);

    const qint64 budget = qint64(600) << 20;
    // Noise: one full encode fits the budget, eight slower ones do.
    EXPECT_TRUE(WebPWriter::lowMemoryPays(w, h, false, 15'400'000, budget, 8));
    EXPECT_FALSE(WebPWriter::lowMemoryPays(w, h, false, 15'400'000, budget, 1));
    EXPECT_FALSE(WebPWriter::lowMemoryPays(w, h, false, 15'400'000, qint64(6) << 30, 8));
    EXPECT_FALSE(WebPWriter::lowMemoryPays(w, h, false, 15'400'000, 0, 8));
    // Photos: several full encodes fit already.
    EXPECT_FALSE(WebPWriter::lowMemoryPays(w, h, false, 3'490'000, budget, 8));
}

TEST(WebPWriter, OnlyLossySourcesTellTheirBusyness)
{
    QTemporaryDir dir;
    const QString jpeg = writeOpaqueImage(dir.filePath("a.jpg"), 40, 30);
    const QString png = writeOpaqueImage(dir.filePath("a.png"), 40, 30);
    // libvips writes the extended header and the JPEG's EXIF before the picture's chunk.
    const QString lossy = dir.filePath("lossy.webp");
    const QString lossless = dir.filePath("lossless.webp");
    ASSERT_EQ(runProgram("vips", {"copy", jpeg, lossy}), 0);
    ASSERT_EQ(runProgram("vips", {"copy", jpeg, lossless + "[lossless]"}), 0);
    EXPECT_EQ(WebPWriter::sourceBytes(jpeg), QFileInfo(jpeg).size());
    EXPECT_EQ(WebPWriter::sourceBytes(lossy), QFileInfo(lossy).size());
    EXPECT_EQ(WebPWriter::sourceBytes(png), 0);
    EXPECT_EQ(WebPWriter::sourceBytes(lossless), 0);
    EXPECT_EQ(WebPWriter::sourceBytes(dir.filePath("missing.jpg")), 0);
}
