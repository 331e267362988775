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

// atempo kept back the end of a short sound: a tenth of a second of floating-point silence at
// twice the speed came out as 4 ms. At every factor the whole sound comes out at its new pace.
TEST_F(MediaSpeed, AShortFloatingPointSoundKeepsItsTail)
{
    const QString silence =
        make("silence.wav", {"-f", "lavfi", "-i", "anullsrc=r=8000:cl=stereo:d=0.1", "-c:a", "pcm_f32le"});
    const QString beep = make("beep.wav", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=8000:duration=0.1",
                                           "-c:a", "pcm_f32le"});
    for (const QString& source : {silence, beep}) {
        for (const double factor : {0.25, 0.5, 1.5, 2.0, 4.0}) {
            SCOPED_TRACE(QString("%1 at %2").arg(source).arg(factor).toStdString());
            context.options.speed = factor;
            const QString placed = changeSpeed(input(source), context, work).toLocalFile();
            EXPECT_NEAR(duration(placed), 0.1 / factor, 0.002);
            ASSERT_TRUE(QFile::remove(placed));
        }
    }
}

TEST_F(MediaSpeed, FactorsAreHeldBetweenAQuarterAndFour)
{
    context.options.speed = 10;
    const QString placed = changeSpeed(input(clip("silent.mp4", 2.0, "160x120", {"-an"})), context, work).toLocalFile();
    EXPECT_EQ(placed, out(QString("silent (4") + QChar(0x00D7) + ").mp4"));
    EXPECT_NEAR(duration(placed), 0.5, 0.1);
    EXPECT_EQ(stream(placed, "a", "codec_name"), "");
}
