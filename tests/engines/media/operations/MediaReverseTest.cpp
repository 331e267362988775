#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaReverse.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

using namespace qv;

namespace {

class MediaReverse : public test::MediaTool {
protected:
    // Frames whose brightness counts them: frame n has luma 16 + 5n.
    QString countingClip(const QString& name, double seconds)
    {
        return make(name, {"-f", "lavfi", "-i",
                           "color=c=black:s=160x120:r=10:d=" + QString::number(seconds)
                               + ",geq=lum='16+5*N':cb=128:cr=128",
                           "-f", "lavfi", "-i", "sine=duration=" + QString::number(seconds), "-c:v", "libx264",
                           "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    }

    static int luma(const QString& path, double seconds)
    {
        QByteArray raw;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                                   {"-nostdin", "-v", "error", "-ss", QString::number(seconds), "-i", "file:" + path,
                                    "-frames:v", "1", "-vf", "crop=8:8:76:56,format=gray", "-f", "rawvideo", "-"},
                                   &raw),
                  0);
        int sum = 0;
        for (char c : raw)
            sum += quint8(c);
        return raw.isEmpty() ? -1 : sum / int(raw.size());
    }
};

} // namespace

TEST_F(MediaReverse, PiecesJoinLastFirstIntoAClipOfTheSameLength)
{
    // 4 s: two pieces of 3 s and 1 s, so the join order matters.
    const QString source = countingClip("clip.mov", 4.0);
    const QString placed = reverseVideo(input(source), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (reversed).mp4"));
    EXPECT_NEAR(duration(placed), 4.0, 0.2);
    EXPECT_NEAR(luma(placed, 0), luma(source, 3.9), 4);
    EXPECT_NEAR(luma(placed, 3.9), luma(source, 0), 4);
    EXPECT_NEAR(luma(placed, 1.0), luma(source, 2.9), 4);
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
    const QString list = QString::fromUtf8(test::readFile(dir.filePath("work/reverse/list.txt")));
    EXPECT_EQ(list, "file 'piece00001.mp4'\nfile 'piece00000.mp4'\n");
}

TEST_F(MediaReverse, AStoppedReverseLeavesNothingPlaced)
{
    std::stop_source stop;
    stop.request_stop();
    context.stopToken = stop.get_token();
    EXPECT_THROW(reverseVideo(input(countingClip("clip.mp4", 1.0)), context, work), CancellationError);
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(MediaReverse, AVideoWithoutALengthIsRefusedBeforeAnyPiece)
{
    const QString source = clip("live.mkv", 1.0, "160x120", {"-live", "1"});
    try {
        reverseVideo(input(source), context, work);
        FAIL() << "reversed a video of unknown length";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This video has no duration");
    }
    EXPECT_TRUE(QDir(dir.filePath("work")).isEmpty());
}
