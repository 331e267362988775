#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/AudioExtraction.h"
#include "model/errors/EngineError.h"

using namespace qv;

namespace {
class MediaExtractAudio : public test::MediaTool {};
} // namespace

TEST_F(MediaExtractAudio, AacIsCopiedIntoAnM4aOfTheVideosName)
{
    const QString source = clip("clip.mov", 1.0);
    const QString placed = extractAudio(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip.m4a"));
    EXPECT_EQ(packets(placed, "a"), packets(source, "a"));
    EXPECT_EQ(stream(placed, "v", "codec_name"), "");
}

TEST_F(MediaExtractAudio, SoundWithoutACopyContainerBecomesAac)
{
    const QString source = clip("clip.mkv", 1.0, "160x120", {"-c:a", "mp2"});
    const QString placed = extractAudio(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip.m4a"));
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
}

TEST_F(MediaExtractAudio, ASilentVideoIsRefused)
{
    try {
        extractAudio(input(clip("silent.mp4", 1.0, "160x120", {"-an"})), context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file has no audio");
    }
}
