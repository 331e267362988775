#include "engines/media/MediaCategory.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace qv;
using namespace std::chrono_literals;

namespace {

class MediaCategory : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
    }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = dir.filePath(name);
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments
                                                                 + QStringList{"file:" + path}),
                  0);
        return path;
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(MediaCategory, StreamsDecide)
{
    const MediaStreams soundAlone{false, true};
    EXPECT_EQ(mediaStreamsOfFile(make("voice.webm", {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "libopus"})),
              soundAlone);
    EXPECT_EQ(mediaStreamsOfFile(make("tone.mkv", {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "flac"})),
              soundAlone);
    EXPECT_EQ(mediaStreamsOfFile(make("clip.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1",
                                                   "-c:v", "libx264", "-pix_fmt", "yuv420p"})),
              (MediaStreams{true, false}));
    EXPECT_EQ(mediaStreamsOfFile(make("film.avi", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1",
                                                   "-f", "lavfi", "-i", "sine=duration=1", "-c:v", "mpeg4"})),
              (MediaStreams{true, true}));
    const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1"});
    EXPECT_EQ(mediaStreamsOfFile(make("song.mp4", {"-f", "lavfi", "-i", "sine=duration=1", "-i", "file:" + cover,
                                                   "-map", "0", "-map", "1", "-c:a", "aac", "-c:v", "png",
                                                   "-disposition:v", "attached_pic"})),
              soundAlone);
    // Boxes FFmpeg reads with no stream in them offer nothing; bytes it cannot read leave it to the name.
    EXPECT_EQ(mediaStreamsOfFile(QStringLiteral(QV_SOURCE_DIR "/tests/files/smallest/boxes-without-streams.mp4")),
              (MediaStreams{false, false}));
    EXPECT_EQ(mediaStreamsOfFile(QStringLiteral(QV_SOURCE_DIR "/tests/files/smallest/one-pixel.mng")),
              (MediaStreams{true, false}));
    EXPECT_EQ(mediaStreamsOfFile(test::writeFile(dir.filePath("notes.webm"), "no media here\n")), std::nullopt);
    EXPECT_EQ(mediaStreamsOfFile(dir.filePath("missing.webm")), std::nullopt);
}

// FFmpeg's probe lists the sound of a floating-point ALS file, which its decoder gives up on
// after the first frame: no sound entry could do anything with it.
TEST_F(MediaCategory, ASoundTheDecoderCannotReadWholeIsNoSound)
{
    const QString integer = dir.filePath("integer.mp4");
    const QString floating = dir.filePath("floating.mp4");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/als-integer.mp4"), integer));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/als-float.mp4"), floating));
    EXPECT_EQ(mediaStreamsOfFile(integer), (MediaStreams{false, true}));
    EXPECT_EQ(mediaStreamsOfFile(floating), (MediaStreams{false, false}));
    // A sound file by its name is told so from its boxes alone, and said nothing of otherwise.
    ASSERT_TRUE(QFile::copy(integer, dir.filePath("integer.m4a")));
    ASSERT_TRUE(QFile::copy(floating, dir.filePath("floating.m4b")));
    EXPECT_EQ(mediaStreamsOfFile(dir.filePath("integer.m4a")), std::nullopt);
    EXPECT_EQ(mediaStreamsOfFile(dir.filePath("floating.m4b")), (MediaStreams{false, false}));
}

TEST_F(MediaCategory, AnswersAreRememberedWhileTheFileStaysAsItWas)
{
    const QString clip = make("clip.webm", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=5:duration=1",
                                            "-c:v", "libvpx", "-b:v", "100k"});
    EXPECT_EQ(rememberedMediaStreams(clip), std::nullopt);
    EXPECT_EQ(mediaStreamsOfFile(clip), (MediaStreams{true, false}));
    EXPECT_EQ(rememberedMediaStreams(clip), (MediaStreams{true, false}));

    // Written anew under the same name, with sound alone: the old answer no longer holds.
    const QString voice = make("voice.webm", {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "libopus"});
    ASSERT_TRUE(QFile::remove(clip));
    ASSERT_TRUE(QFile::rename(voice, clip));
    EXPECT_EQ(rememberedMediaStreams(clip), std::nullopt);
    EXPECT_EQ(mediaStreamsOfFile(clip), (MediaStreams{false, true}));
    EXPECT_EQ(rememberedMediaStreams(clip), (MediaStreams{false, true}));
    EXPECT_EQ(rememberedMediaStreams(dir.filePath("missing.webm")), std::nullopt);
}

TEST_F(MediaCategory, AnFFmpegThatHangsIsStoppedAndTellsNothing)
{
    const QString hanging = test::writeFile(dir.filePath("ffmpeg"), "#!/bin/sh\nsleep 60\n");
    chmod(QFile::encodeName(hanging).constData(), 0755);
    const QString clip = test::writeFile(dir.filePath("clip.webm"), "x");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(mediaStreamsOfFile(QUrl::fromLocalFile(hanging), clip, 300ms), std::nullopt);
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_EQ(mediaStreamsOfFile(std::nullopt, clip, 300ms), std::nullopt);
}
