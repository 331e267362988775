#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaTrim.h"
#include "model/errors/EngineError.h"
#include "support/FlacFixtures.h"

using namespace qv;

namespace {
class MediaTrim : public test::MediaTool {};
} // namespace

TEST_F(MediaTrim, KeepsTheRangeExactlyInItsOwnContainer)
{
    const FileInfo file = input(clip("clip.mov", 7.0));
    context.options.trimStart = 2.5;
    context.options.trimEnd = 6.0;
    const QString placed = trimMedia(file, context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (trimmed).mov"));
    EXPECT_NEAR(duration(placed), 3.5, 0.12);
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
}

TEST_F(MediaTrim, AFastTrimCopiesAndKeepsMatroska)
{
    const FileInfo file = input(clip("clip.mkv", 3.0, "160x120", {"-g", "5"}));
    context.options.trimStart = 1.0;
    context.options.fastTrim = true;
    const QString placed = trimMedia(file, context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (trimmed).mkv"));
    // A copy starts on the key frame at or before the start.
    EXPECT_GE(duration(placed), 1.9);
    EXPECT_LE(duration(placed), 2.6);
    EXPECT_EQ(packets(placed, "v").isEmpty(), false);
}

TEST_F(MediaTrim, SoundStaysInItsFormat)
{
    const FileInfo file = input(tone("tone.mp3", 3.0));
    context.options.trimEnd = 1.0;
    const QString placed = trimMedia(file, context, work).toLocalFile();
    EXPECT_EQ(placed, out("tone (trimmed).mp3"));
    EXPECT_EQ(stream(placed, "a", "codec_name"), "mp3");
    EXPECT_NEAR(duration(placed), 1.0, 0.1);
}

TEST_F(MediaTrim, AnEmptyRangeIsRefusedBeforeAnyEncode)
{
    const FileInfo file = input(clip("clip.mov", 1.0));
    context.options.trimStart = 0.5;
    context.options.trimEnd = 0.5;
    try {
        trimMedia(file, context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "The trimmed part is empty");
    }
    EXPECT_TRUE(QDir(dir.filePath("work")).isEmpty());
    EXPECT_TRUE(outputs().isEmpty());
}

// FFmpeg cannot seek into a FLAC of one frame (a short sound; 65,535 samples make 1.5 s at 44.1
// kHz), which it decodes whole: the start of a trim is then reached by decoding, and the kept
// second is the source's own samples.
TEST_F(MediaTrim, ASoundFFmpegCannotSeekInIsTrimmedByDecoding)
{
    const FileInfo file = input(test::writeFile(dir.filePath("in/long-frames.flac"), test::verbatimFlac(16, 1, 16384)));
    context.options.trimStart = 0.5;
    context.options.trimEnd = 1.5;
    const QString placed = trimMedia(file, context, work).toLocalFile();
    EXPECT_NEAR(duration(placed), 1.0, 0.01);
    QByteArray kept, source;
    test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + placed, "-f", "md5", "-"}, &kept);
    test::runProgram(QStringLiteral("ffmpeg"),
                     {"-nostdin", "-v", "error", "-i", "file:" + file.path(), "-ss", "0.5", "-t", "1", "-f", "md5", "-"},
                     &source);
    EXPECT_EQ(kept, source);
}
