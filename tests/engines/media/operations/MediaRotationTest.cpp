#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaRotation.h"

using namespace qv;

namespace {
class MediaRotation : public test::MediaTool {
protected:
    static QByteArray rotation(const QString& path)
    {
        return probe({"-select_streams", "v", "-show_entries", "stream_side_data=rotation", "-of", "csv=p=0",
                      "file:" + path});
    }
};
} // namespace

TEST_F(MediaRotation, AnMp4TurnsByItsDisplayRotationAlone)
{
    const QString source = clip("clip.mp4", 1.0);
    const QString placed = rotateVideo(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (rotated).mp4"));
    EXPECT_EQ(packets(placed, "v"), packets(source, "v"));
    EXPECT_EQ(packets(placed, "a"), packets(source, "a"));
    // FFmpeg counts anticlockwise: a clockwise quarter turn reads -90.
    EXPECT_EQ(rotation(placed), "-90");

    // Turning the turned clip adds up.
    const QString again = rotateVideo(input(placed), context, work).toLocalFile();
    EXPECT_EQ(again, out("clip (rotated) (rotated).mp4"));
    EXPECT_TRUE(rotation(again) == "180" || rotation(again) == "-180") << rotation(again).toStdString();
}

TEST_F(MediaRotation, MatroskaIsTurnedForRealIntoAnMp4)
{
    const QString placed = rotateVideo(input(clip("clip.mkv", 1.0, "320x240")), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (rotated).mp4"));
    EXPECT_EQ(stream(placed, "v", "width,height"), "240,320");
    EXPECT_EQ(rotation(placed), "");
}

TEST_F(MediaRotation, AFlipAloneIsAFlip)
{
    context.options.rotation = 0;
    context.options.flipHorizontal = true;
    const QString placed = rotateVideo(input(clip("clip.mp4", 1.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (flipped).mp4"));
    EXPECT_EQ(stream(placed, "v", "width,height"), "160,120");
}
