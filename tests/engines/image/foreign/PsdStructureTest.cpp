#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/PsdStructure.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtEndian>

using namespace qv;
using namespace qv::test;

namespace {

void put16(QByteArray& bytes, quint16 value)
{
    bytes.append(char(value >> 8)).append(char(value));
}

void put32(QByteArray& bytes, quint32 value)
{
    put16(bytes, quint16(value >> 16));
    put16(bytes, quint16(value));
}

// A grey 4 x 2 picture, its rows run-length coded ("3 7 7 7" as a run and a literal), in a
// PSD or (big) a PSB, without resources or layers.
QByteArray greyPicture(bool big = false, const QList<QByteArray>& rows = {})
{
    QByteArray bytes("8BPS");
    put16(bytes, big ? 2 : 1);
    bytes.append(6, '\0');
    put16(bytes, 1);  // channels
    put32(bytes, 2);  // height
    put32(bytes, 4);  // width
    put16(bytes, 8);  // depth
    put16(bytes, 1);  // grey
    put32(bytes, 0);  // colour mode data
    put32(bytes, 0);  // resources
    if (big)
        put32(bytes, 0);
    put32(bytes, 0);  // layers
    put16(bytes, 1);  // run-length
    const QList<QByteArray> coded = rows.isEmpty()
        ? QList<QByteArray>{QByteArray("\x00\x03\xfe\x07", 4), QByteArray("\xfd\x05", 2)}
        : rows;
    for (const QByteArray& row : coded) {
        if (big)
            put32(bytes, quint32(row.size()));
        else
            put16(bytes, quint16(row.size()));
    }
    for (const QByteArray& row : coded)
        bytes.append(row);
    return bytes;
}

} // namespace

TEST(PsdStructure, RowsMustUnpackToTheirWidthFromTheirOwnBytes)
{
    EXPECT_FALSE(PsdStructure::fault(greyPicture()));
    EXPECT_FALSE(PsdStructure::fault(greyPicture(true)));
    EXPECT_TRUE(PsdStructure::isPsd(greyPicture()));
    EXPECT_FALSE(PsdStructure::isPsd("\x89PNG"));

    // A row one pixel short, one pixel long, a literal that runs past its count.
    EXPECT_TRUE(PsdStructure::fault(greyPicture(false, {QByteArray("\x00\x03\xff\x07", 4), QByteArray("\xfd\x05", 2)})));
    EXPECT_TRUE(PsdStructure::fault(greyPicture(false, {QByteArray("\x00\x03\xfd\x07", 4), QByteArray("\xfd\x05", 2)})));
    EXPECT_TRUE(PsdStructure::fault(greyPicture(false, {QByteArray("\x03\x03\xfe", 3), QByteArray("\xfd\x05", 2)})));
    // The no-op header (-128) adds nothing.
    EXPECT_FALSE(PsdStructure::fault(greyPicture(false, {QByteArray("\x80\x00\x03\xfe\x07", 5), QByteArray("\xfd\x05", 2)})));

    // Every cut of the file is a fault: the counts or the rows run past the end.
    const QByteArray whole = greyPicture();
    for (qsizetype size = 0; size < whole.size(); ++size)
        EXPECT_TRUE(PsdStructure::fault(whole.first(size))) << size;
    // A count that takes a byte of the next row.
    QByteArray counts = whole;
    counts[whole.size() - 6 - 3] = 5;
    EXPECT_TRUE(PsdStructure::fault(counts));
    // The header: reserved bytes, a depth grey pictures do not take, an unknown version.
    for (const auto& [at, value] : QList<std::pair<int, char>>{{7, 1}, {23, 1}, {5, 3}}) {
        QByteArray changed = whole;
        changed[at] = value;
        EXPECT_TRUE(PsdStructure::fault(changed)) << at;
    }
}

TEST(PsdStructure, SoundPhotoshopFilesPassAndTheirDamagedCopiesAreRefused)
{
    QTemporaryDir dir;
    QStringList sound{QStringLiteral(QV_SOURCE_DIR "/tests/files/psd/rgba.psd"),
                      QStringLiteral(QV_SOURCE_DIR "/tests/files/psd/negative_top_left_layer.psd")};
    // ImageMagick's own: layered, 16-bit with deflated layers, raw, CMYK, and a PSB.
    const QString red = dir.filePath("red.png");
    const QString noise = dir.filePath("noise.png");
    ASSERT_EQ(runProgram("convert", {"-size", "37x23", "gradient:red-blue", red}), 0);
    ASSERT_EQ(runProgram("convert", {"-size", "37x23", "-seed", "3", "plasma:fractal", noise}), 0);
    const QList<QStringList> made{{red, noise, dir.filePath("layered.psd")},
                                  {red, "-depth", "16", "-compress", "zip", dir.filePath("deep.psd")},
                                  {red, "-compress", "none", dir.filePath("raw.psd")},
                                  {red, "-colorspace", "cmyk", dir.filePath("cmyk.psd")},
                                  {red, noise, "PSB:" + dir.filePath("big.psb")}};
    for (const QStringList& args : made) {
        ASSERT_EQ(runProgram("convert", args), 0) << args.join(' ').toStdString();
        sound.append(QString(args.last()).remove(QStringLiteral("PSB:")));
    }
    for (const QString& file : sound) {
        SCOPED_TRACE(file.toStdString());
        const std::optional<QString> fault = PsdStructure::faultOfFile(file);
        EXPECT_FALSE(fault) << fault.value_or(QString()).toStdString();
        EXPECT_TRUE(ImageDecoder::decodes(file));
        EXPECT_EQ(failureOf([&] { ImageDecoder::decode(file).materialized(); }), QStringLiteral("<no failure>"));
    }

    // Damage in the coded rows, where ImageMagick fills what it cannot decode with whatever its
    // memory held: libvips (the oracle) makes a picture of each, we refuse each.
    const QByteArray bytes = readFile(sound.first());
    QList<QByteArray> damaged;
    damaged.append(bytes.first(bytes.size() - 300));
    QByteArray flipped = bytes;
    for (qsizetype i = bytes.size() - 900; i < bytes.size() - 700; ++i)
        flipped[i] = char(flipped[i] ^ 0x5a);
    damaged.append(flipped);
    QByteArray zeroed = bytes;
    for (qsizetype i = bytes.size() - 900; i < bytes.size() - 700; ++i)
        zeroed[i] = 0;
    damaged.append(zeroed);
    const QString damage = ImageDecoder::damagedMessage();
    for (qsizetype k = 0; k < damaged.size(); ++k) {
        SCOPED_TRACE(k);
        const QString file = writeFile(dir.filePath(QStringLiteral("damaged %1.psd").arg(k)), damaged[k]);
        EXPECT_EQ(runProgram("vips", {"copy", file, dir.filePath(QStringLiteral("made anyway %1.png").arg(k))}), 0);
        EXPECT_TRUE(PsdStructure::faultOfFile(file));
        EXPECT_EQ(failureOf([&] { ImageDecoder::verify(file); }), damage);
        EXPECT_EQ(failureOf([&] { ImageDecoder::decode(file).materialized(); }), damage);
        EXPECT_EQ(failureOf([&] { ImageDecoder::decode(file, 20).materialized(); }), damage);
    }
}
