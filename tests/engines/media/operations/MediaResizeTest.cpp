#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaResize.h"

using namespace qv;

namespace {
class MediaResize : public test::MediaTool {};
} // namespace

TEST_F(MediaResize, TheShorterSideComesDownAndTheSoundIsCopied)
{
    const QString source = clip("hd.mov", 1.0, "1280x720");
    context.options.maxResolution = 360;
    const QString placed = resizeVideo(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("hd (360p).mov"));
    EXPECT_EQ(stream(placed, "v", "width,height"), "640,360");
    EXPECT_EQ(packets(placed, "a"), packets(source, "a"));
}

TEST_F(MediaResize, NothingIsScaledUp)
{
    const QString placed = resizeVideo(input(clip("small.mp4", 1.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out("small (720p).mp4"));
    EXPECT_EQ(stream(placed, "v", "width,height"), "160,120");
}

TEST_F(MediaResize, SoundAnMP4CannotHoldIsEncodedAgain)
{
    // H.264 with FLAC, as Matroska files often are: the result is an MP4.
    const QString source = clip("flac.mkv", 1.0, "320x240", {"-c:a", "flac"});
    context.options.maxResolution = 120;
    const QString placed = resizeVideo(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("flac (120p).mp4"));
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
    EXPECT_EQ(stream(placed, "v", "width,height"), "160,120");
}
