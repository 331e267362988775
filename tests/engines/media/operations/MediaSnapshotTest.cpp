#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaSnapshot.h"
#include "model/errors/EngineError.h"

using namespace qv;

namespace {
class MediaSnapshot : public test::MediaTool {
protected:
    static QByteArray rgb(const QStringList& input)
    {
        QByteArray output;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error"} + input
                                       + QStringList{"-frames:v", "1", "-pix_fmt", "rgb24", "-f", "md5", "-"},
                                   &output),
                  0);
        return output.trimmed();
    }
};
} // namespace

TEST_F(MediaSnapshot, TheMiddleFrameBecomesAPng)
{
    // Without sound the length is exactly 4 s, so the middle is the frame at 2 s.
    const QString source = clip("clip.mov", 4.0, "160x120", {"-an"});
    const QString placed = takeSnapshot(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (snapshot).png"));
    EXPECT_EQ(stream(placed, "v", "codec_name,width,height"), "png,160,120");
    EXPECT_EQ(rgb({"-i", "file:" + placed}), rgb({"-ss", "2.000", "-i", "file:" + source}));
    EXPECT_NE(rgb({"-i", "file:" + placed}), rgb({"-ss", "1.000", "-i", "file:" + source}));
}

TEST_F(MediaSnapshot, ATimePastTheEndHasNoFrame)
{
    context.options.snapshotTime = 99;
    try {
        takeSnapshot(input(clip("clip.mp4", 1.0)), context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "No frame at that time");
    }
    EXPECT_TRUE(outputs().isEmpty());
}
