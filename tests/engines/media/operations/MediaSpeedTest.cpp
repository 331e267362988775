#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaSpeed.h"

using namespace qv;

namespace {
// At 30 fps a dropped frame moves the length by little.
class MediaSpeed : public test::MediaTool {
protected:
    void SetUp() override
    {
        MediaTool::SetUp();
        clipRate = 30;
    }
};
} // namespace

TEST_F(MediaSpeed, TwiceAsFastHalvesAVideo)
{
    const QString placed = changeSpeed(input(clip("clip.mov", 3.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out(QString("clip (2") + QChar(0x00D7) + ").mov"));
    EXPECT_NEAR(duration(placed), 1.5, 0.15);
    EXPECT_EQ(stream(placed, "v", "codec_name"), "h264");
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
}

TEST_F(MediaSpeed, HalfSpeedDoublesASoundInItsFormat)
{
    context.options.speed = 0.5;
    const QString placed = changeSpeed(input(tone("tone.mp3", 1.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out(QString("tone (0.5") + QChar(0x00D7) + ").mp3"));
    EXPECT_NEAR(duration(placed), 2.0, 0.15);
}

TEST_F(MediaSpeed, FactorsAreHeldBetweenAQuarterAndFour)
{
    context.options.speed = 10;
    const QString placed = changeSpeed(input(clip("silent.mp4", 2.0, "160x120", {"-an"})), context, work).toLocalFile();
    EXPECT_EQ(placed, out(QString("silent (4") + QChar(0x00D7) + ").mp4"));
    EXPECT_NEAR(duration(placed), 0.5, 0.1);
    EXPECT_EQ(stream(placed, "a", "codec_name"), "");
}
