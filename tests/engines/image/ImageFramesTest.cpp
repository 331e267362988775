#include "engines/image/ImageFrames.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

using namespace qv;

namespace {

class ImageFramesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // An animation FFmpeg writes from its test pattern: `rate` frames a second, so 25 gives
    // 40 ms frames.
    QString animation(const QString& name, int frames, int rate, const QString& size = "120x80")
    {
        const QString path = dir.filePath(name);
        const QString codec = name.endsWith(".gif") ? "gif" : "libwebp_anim";
        const int status = test::runProgram(
            "ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                       "testsrc2=size=" + size + ":rate=" + QString::number(rate), "-frames:v",
                       QString::number(frames), "-c:v", codec, "-loop", "0", "file:" + path});
        EXPECT_EQ(status, 0);
        return path;
    }

    // Two solid frames shown 0.1 s and 0.25 s.
    QString twoFrameGIF()
    {
        const QString red = dir.filePath("red.png");
        const QString blue = dir.filePath("blue.png");
        const QString path = dir.filePath("two.gif");
        EXPECT_EQ(test::runProgram("convert", {"-size", "50x40", "xc:red", red}), 0);
        EXPECT_EQ(test::runProgram("convert", {"-size", "50x40", "xc:blue", blue}), 0);
        EXPECT_EQ(test::runProgram("convert", {"-delay", "10", red, "-delay", "25", blue, "-loop", "0", path}), 0);
        return path;
    }

    static QString header(const QString& path, const QString& field)
    {
        QByteArray output;
        EXPECT_EQ(test::runProgram("vipsheader", {"-f", field, path}, &output), 0) << field.toStdString();
        return QString::fromUtf8(output).trimmed();
    }

    QString out(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};

} // namespace

TEST(ImageFrameRules, DelaysUnder20MillisecondsOrMissingCountAsATenth)
{
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(std::nullopt), 0.1);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(0), 0.1);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(10), 0.1);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(19), 0.1);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(20), 0.02);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(40), 0.04);
    EXPECT_DOUBLE_EQ(ImageFrames::frameDelay(2000), 2.0);
}

TEST(ImageFrameRules, ScalingRoundsAndKeepsAPixel)
{
    using Size = std::pair<int, int>;
    EXPECT_EQ(ImageFrames::scaledSize(1200, 600, 480), Size(480, 240));
    EXPECT_EQ(ImageFrames::scaledSize(1200, 600, 0), Size(1200, 600));
    EXPECT_EQ(ImageFrames::scaledSize(1200, 600, -5), Size(1200, 600));
    EXPECT_EQ(ImageFrames::scaledSize(1200, 600, 1200), Size(1200, 600));
    EXPECT_EQ(ImageFrames::scaledSize(1200, 600, 5000), Size(1200, 600));
    EXPECT_EQ(ImageFrames::scaledSize(301, 201, 100), Size(100, 67));
    EXPECT_EQ(ImageFrames::scaledSize(1000, 1, 10), Size(10, 1));
}

TEST(ImageFrameRules, ConcatListNamesEveryFrameAndTheLastAgain)
{
    EXPECT_EQ(ImageFrames::concatList({{0, 0.1}, {1, 0.25}}),
              "ffconcat version 1.0\nfile 'frame00000.png'\nduration 0.1\nfile 'frame00001.png'\n"
              "duration 0.25\nfile 'frame00001.png'\n");
    EXPECT_EQ(ImageFrames::concatList({{0, 2.0}}),
              "ffconcat version 1.0\nfile 'frame00000.png'\nduration 2\nfile 'frame00000.png'\n");
    EXPECT_EQ(ImageFrames::concatList({{0, 0.02}, {1, 0.125}, {2, 1.0 / 3}}),
              "ffconcat version 1.0\nfile 'frame00000.png'\nduration 0.02\nfile 'frame00001.png'\n"
              "duration 0.125\nfile 'frame00002.png'\nduration 0.3333\nfile 'frame00002.png'\n");
    EXPECT_EQ(ImageFrames::frameFileName(12345), "frame12345.png");
}

TEST_F(ImageFramesTest, FramesComeFromTheHeaderWithTheirDelays)
{
    const QList<ImageFrames::Frame> frames = ImageFrames::frames(twoFrameGIF());
    ASSERT_EQ(frames.size(), 2);
    EXPECT_DOUBLE_EQ(frames[0].delay, 0.1);
    EXPECT_DOUBLE_EQ(frames[1].delay, 0.25);
    EXPECT_EQ(frames[1].index, 1);

    const QString still = out("still.png");
    ASSERT_EQ(test::runProgram("convert", {"-size", "30x20", "xc:green", still}), 0);
    const QList<ImageFrames::Frame> one = ImageFrames::frames(still);
    ASSERT_EQ(one.size(), 1);
    EXPECT_DOUBLE_EQ(one[0].delay, 0.1);
}

TEST_F(ImageFramesTest, AnAnimatedWebPBecomesAGIFOfTheSameTimingThatLoopsForever)
{
    const QString gif = out("anim.gif");
    ImageFrames::writeGIF(animation("anim.webp", 3, 25), gif, 0, {});
    EXPECT_EQ(header(gif, "n-pages"), "3");
    EXPECT_EQ(header(gif, "delay"), "40 40 40");
    EXPECT_EQ(header(gif, "loop"), "0");
    EXPECT_EQ(header(gif, "width"), "120");
    EXPECT_EQ(header(gif, "height"), "80");

    // Too short to be meant: shown a tenth of a second.
    const QString fast = out("fast.gif");
    ImageFrames::writeGIF(animation("fast.webp", 3, 100), fast, 0, {});
    EXPECT_EQ(header(fast, "delay"), "100 100 100");
}

TEST_F(ImageFramesTest, TheLimitScalesEveryFrame)
{
    const QString source = animation("big.webp", 3, 25, "120x80");
    const QString small = out("small.gif");
    ImageFrames::writeGIF(source, small, 60, {});
    const QString all = small + "[n=-1]";
    EXPECT_EQ(header(all, "width"), "60");
    EXPECT_EQ(header(all, "page-height"), "40");
    EXPECT_EQ(header(all, "height"), "120");
    EXPECT_EQ(header(small, "delay"), "40 40 40");

    // Odd sizes land on whole rows: 33 x 22 per frame.
    const QString odd = out("odd.gif");
    ImageFrames::writeGIF(source, odd, 33, {});
    EXPECT_EQ(header(odd + "[n=-1]", "width"), "33");
    EXPECT_EQ(header(odd + "[n=-1]", "page-height"), "22");
    EXPECT_EQ(header(odd + "[n=-1]", "height"), "66");

    const QString same = out("same.gif");
    ImageFrames::writeGIF(source, same, 120, {});
    EXPECT_EQ(header(same, "width"), "120");
}

TEST_F(ImageFramesTest, AStillImageIsAOneFrameGIF)
{
    const QString still = out("still.png");
    ASSERT_EQ(test::runProgram("convert", {"-size", "30x20", "xc:green", still}), 0);
    const QString gif = out("still.gif");
    ImageFrames::writeGIF(still, gif, 0, {});
    EXPECT_EQ(header(gif, "n-pages"), "1");
    EXPECT_EQ(header(gif, "width"), "30");
}

TEST_F(ImageFramesTest, AFrameSequenceIsNumberedPNGsAndASixLineList)
{
    const QString folder = out("frames");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString list = ImageFrames::writeFrameSequence(twoFrameGIF(), folder, {});
    EXPECT_EQ(list, QDir(folder).filePath("frames.ffconcat"));
    EXPECT_EQ(test::folderEntries(folder),
              (QStringList{"frame00000.png", "frame00001.png", "frames.ffconcat"}));
    EXPECT_EQ(test::readFile(list), "ffconcat version 1.0\nfile 'frame00000.png'\nduration 0.1\n"
                                    "file 'frame00001.png'\nduration 0.25\nfile 'frame00001.png'\n");
    // Full-size frames with their own pictures: red, then blue.
    EXPECT_EQ(header(QDir(folder).filePath("frame00001.png"), "width"), "50");
    QByteArray average;
    ASSERT_EQ(test::runProgram("vips", {"getpoint", QDir(folder).filePath("frame00001.png"), "10", "10"}, &average), 0);
    EXPECT_TRUE(average.trimmed().startsWith("0 0 2")) << average.toStdString();
}

TEST_F(ImageFramesTest, ADamagedAnimationLeavesNothingAtTheDestination)
{
    const QString source = animation("cut.webp", 20, 25, "320x240");
    QFile file(source);
    ASSERT_TRUE(file.resize(file.size() / 2));
    const QString gif = out("cut.gif");
    try {
        ImageFrames::writeGIF(source, gif, 0, {});
        FAIL() << "a cut file was written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }
    EXPECT_FALSE(QFile::exists(gif));

    const QString junk = test::writeFile(out("junk.gif"), "GIF89a not really");
    EXPECT_THROW(ImageFrames::frames(junk), EngineError);
    EXPECT_THROW(ImageFrames::writeFrameSequence(junk, dir.path(), {}), EngineError);
}

TEST_F(ImageFramesTest, AStoppedWriteLeavesNothing)
{
    const QString source = animation("anim.webp", 3, 25);
    std::stop_source stop;
    stop.request_stop();
    const QString gif = out("stopped.gif");
    EXPECT_THROW(ImageFrames::writeGIF(source, gif, 0, stop.get_token()), CancellationError);
    EXPECT_FALSE(QFile::exists(gif));
    EXPECT_THROW(ImageFrames::writeFrameSequence(source, dir.path(), stop.get_token()), CancellationError);
    EXPECT_FALSE(QFile::exists(out("frames.ffconcat")));
}

TEST_F(ImageFramesTest, AFullDiskIsAFailedWriteWithNothingLeft)
{
    test::SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    const QString source = animation("noise.webp", 40, 25, "640x480");
    const QString gif = disk.filePath("noise.gif");
    try {
        ImageFrames::writeGIF(source, gif, 0, {});
        FAIL() << "a full disk went unnoticed";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Couldn't write the GIF");
    }
    EXPECT_FALSE(QFile::exists(gif));

    try {
        ImageFrames::writeFrameSequence(source, disk.path(), {});
        FAIL() << "a full disk went unnoticed";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Couldn't write the PNG file");
    }
    EXPECT_FALSE(QFile::exists(disk.filePath("frames.ffconcat")));
}

// A WebP whose last frame does not decode: a reader that decoded everything before writing
// would fail before the first frame file; one that goes frame by frame has written the others.
TEST_F(ImageFramesTest, FramesAreDecodedAndWrittenOneAtATime)
{
    const QString source = dir.filePath("late.webp");
    ASSERT_EQ(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                          "testsrc2=size=120x80:rate=25", "-frames:v", "5", "-c:v", "libwebp_anim",
                                          "-lossless", "1", "-loop", "0", "file:" + source}),
              0);
    // The last frame's lossless data after its header turned to ones: it parses, and fails to
    // decode.
    QByteArray bytes = test::readFile(source);
    const qsizetype last = bytes.lastIndexOf("VP8L");
    ASSERT_GT(last, 0);
    const qsizetype size = qFromLittleEndian<quint32>(bytes.constData() + last + 4);
    ASSERT_LE(last + 8 + size, bytes.size());
    for (qsizetype at = last + 8 + 5; at < last + 8 + size; ++at)
        bytes[at] = char(0xff);
    test::writeFile(source, bytes);

    const QString folder = out("late");
    ASSERT_TRUE(QDir().mkpath(folder));
    try {
        ImageFrames::writeFrameSequence(source, folder, {});
        FAIL() << "a broken frame was written";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }
    EXPECT_EQ(test::folderEntries(folder),
              (QStringList{"frame00000.png", "frame00001.png", "frame00002.png", "frame00003.png"}));
}

TEST_F(ImageFramesTest, AnAbsurdCanvasIsRefusedBeforeItIsAllocated)
{
    // The canvas of a small animation claimed as 60000 x 60000 (14 GB of RGBA).
    const QString source = animation("vast.webp", 3, 25);
    QByteArray bytes = test::readFile(source);
    const qsizetype header = bytes.indexOf("VP8X");
    ASSERT_GT(header, 0);
    const quint32 side = 60000 - 1;
    for (int at : {header + 12, header + 15}) {
        bytes[at] = char(side & 0xff);
        bytes[at + 1] = char((side >> 8) & 0xff);
        bytes[at + 2] = char((side >> 16) & 0xff);
    }
    test::writeFile(source, bytes);
    const QString gif = out("vast.gif");
    try {
        ImageFrames::writeGIF(source, gif, 0, {});
        FAIL() << "a 14 GB canvas was accepted";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Not enough memory for this image");
    }
    EXPECT_FALSE(QFile::exists(gif));
}

TEST_F(ImageFramesTest, PagesOfDifferentSizesShareTheFirstPagesCanvas)
{
    const QString tiff = out("pages.tif");
    ASSERT_EQ(test::runProgram("convert", {"-size", "60x40", "xc:red", "-size", "30x50", "xc:blue", tiff}), 0);
    const QString gif = out("pages.gif");
    ImageFrames::writeGIF(tiff, gif, 0, {});
    EXPECT_EQ(header(gif, "n-pages"), "2");
    EXPECT_EQ(header(gif + "[n=-1]", "height"), "80");
    EXPECT_EQ(header(gif + "[n=-1]", "width"), "60");

    const QString folder = out("pages");
    ASSERT_TRUE(QDir().mkpath(folder));
    ImageFrames::writeFrameSequence(tiff, folder, {});
    EXPECT_EQ(header(QDir(folder).filePath("frame00001.png"), "width"), "60");
    EXPECT_EQ(header(QDir(folder).filePath("frame00001.png"), "height"), "40");
}
