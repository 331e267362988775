#include "MediaToolFixture.h"

#include "engines/media/MediaSplit.h"
#include "model/EngineError.h"

using namespace qv;

namespace {
class MediaSplit : public test::MediaTool {
protected:
    QString refusal(const FileInfo& file)
    {
        try {
            splitMedia(file, context, work);
        } catch (const EngineError& error) {
            return error.message();
        }
        return QStringLiteral("<no refusal>");
    }
};
} // namespace

TEST(MediaSplitOrder, PiecesFollowTheirNumbersPastAThousand)
{
    EXPECT_EQ(orderedPieces({"part1000.mp4", "part999.mp4", "part000.mp4", "list.txt", "part010.mp4"}),
              (QStringList{"part000.mp4", "part010.mp4", "part999.mp4", "part1000.mp4"}));
}

TEST_F(MediaSplit, PartsOfAVideoArriveAsOneFolder)
{
    const FileInfo file = input(clip("long.mp4", 30.0, "160x120", {"-g", "10"}));
    context.options.split = SplitMode::parts(3);
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(folder, out("long (parts)"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"long 1.mp4", "long 2.mp4", "long 3.mp4"}));
    for (const QString& piece : QDir(folder).entryList(QDir::Files))
        EXPECT_NEAR(duration(folder + "/" + piece), 10.0, 0.6) << piece.toStdString();
}

TEST_F(MediaSplit, SoundSplitsAtItsPoints)
{
    const FileInfo file = input(tone("song.m4a", 30.0, {"-c:a", "aac"}));
    context.options.split = SplitMode::at({20.0, 10.0});
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"song 1.m4a", "song 2.m4a", "song 3.m4a"}));
    EXPECT_NEAR(duration(folder + "/song 1.m4a"), 10.0, 0.1);
}

TEST_F(MediaSplit, RefusalsLeaveNoFolder)
{
    const FileInfo file = input(tone("tone.wav", 30.0));
    context.options.split = SplitMode::at({29.95, 0.05});
    EXPECT_EQ(refusal(file), "Add at least one split point");
    context.options.split = SplitMode::every(60.0);
    EXPECT_EQ(refusal(file), "The file was too short to split there");
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(MediaSplit, AFileWithoutALengthIsRefused)
{
    // Matroska written live carries no duration.
    const FileInfo file = input(tone("live.mka", 2.0, {"-c:a", "flac", "-live", "1"}));
    EXPECT_EQ(refusal(file), "This file has no duration to split");
    EXPECT_TRUE(QDir(dir.filePath("work")).isEmpty());
}
