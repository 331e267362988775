#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaSplit.h"
#include "model/errors/EngineError.h"
#include "support/FlacFixtures.h"

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

TEST(MediaSplitPlan, CutsOfEachMode)
{
    const SplitPlan thirds = splitPlan(SplitMode::parts(3), 90.0);
    EXPECT_EQ(thirds.times, (QList<double>{30.0, 60.0}));
    EXPECT_EQ(thirds.pieces, 3);
    EXPECT_EQ(splitPlan(SplitMode::parts(1), 10.0).times, QList<double>{5.0});
    EXPECT_EQ(splitPlan(std::nullopt, 10.0).times, QList<double>{5.0});
    EXPECT_EQ(splitPlan(SplitMode::parts(1), 10.0).pieces, 2);

    const SplitPlan every = splitPlan(SplitMode::every(0.5), 3.0);
    EXPECT_EQ(every.segmentLength, 1.0);
    EXPECT_FALSE(every.times);
    EXPECT_EQ(every.pieces, 3);
    EXPECT_EQ(splitPlan(SplitMode::every(30.0), 60.05).pieces, 2);
    EXPECT_EQ(splitPlan(SplitMode::every(60.0), 30.0).pieces, 1);

    const SplitPlan at = splitPlan(SplitMode::at({50, 10, 10, 0.05}), 60.0);
    EXPECT_EQ(at.times, (QList<double>{10, 10, 50}));
    EXPECT_EQ(at.pieces, 4);
    EXPECT_THROW(splitPlan(SplitMode::at({59.95}), 60.0), EngineError);
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

// Copied FLAC frames kept the whole file's STREAMINFO in every piece: each said it lasted the
// whole second and carried its checksum. Each piece states its own.
TEST_F(MediaSplit, EveryFlacPieceStatesItsOwnLength)
{
    const FileInfo file = input(tone("tone.flac", 1.0, {"-c:a", "flac", "-metadata", "title=Harbour at dusk"}));
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"tone 1.flac", "tone 2.flac"}));
    double total = 0;
    for (const QString& piece : {QStringLiteral("tone 1.flac"), QStringLiteral("tone 2.flac")}) {
        const QString path = folder + "/" + piece;
        EXPECT_NEAR(duration(path), 0.5, 0.03) << piece.toStdString();
        total += duration(path);
        // flac -t would say the same: the samples decode to the checksum the piece keeps.
        EXPECT_EQ(stream(path, "a:0", "codec_name"), "flac");
        QByteArray decoded;
        ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + path, "-c:a",
                                                              "pcm_s16le", "-f", "md5", "-"},
                                   &decoded),
                  0);
        const QByteArray bytes = test::readFile(path);
        EXPECT_EQ(decoded.trimmed(), "MD5=" + bytes.mid(8 + 18, 16).toHex()) << piece.toStdString();
        // Each piece keeps the source's tags.
        QByteArray title;
        ASSERT_EQ(test::runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format_tags=title", "-of",
                                                               "default=nw=1:nk=1", "file:" + path},
                                   &title),
                  0);
        EXPECT_EQ(title.trimmed(), "Harbour at dusk") << piece.toStdString();
    }
    EXPECT_NEAR(total, 1.0, 0.01);
}

// A FLAC streamed without its total of samples states no length: its sound is counted.
TEST_F(MediaSplit, AFlacWithoutItsLengthIsCountedAndSplit)
{
    QByteArray bytes = test::verbatimFlac(16, 16);
    bytes[8 + 13] = char(bytes[8 + 13] & 0xF0);
    for (int i = 14; i < 18; ++i)
        bytes[8 + i] = 0;
    const FileInfo file = input(test::writeFile(dir.filePath("in/streamed.flac"), bytes));
    ASSERT_EQ(format(file.path(), "duration"), "N/A");
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"streamed 1.flac", "streamed 2.flac"}));
    double total = 0;
    for (const QString& piece : QDir(folder).entryList(QDir::Files))
        total += duration(folder + "/" + piece);
    EXPECT_NEAR(total, 16 * 1024 / 8000.0, 0.01);
}

// A split copies packets without decoding them: an MP3 with a span of scrambled frames would
// pass its holes into the pieces. It is refused with the damage sentence; the whole MP3 splits.
TEST_F(MediaSplit, DamagedMpegAudioIsRefusedRatherThanCopied)
{
    const QString song = tone("song.mp3", 3.0, {"-c:a", "libmp3lame", "-b:a", "64k"});
    QByteArray bytes = test::readFile(song);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 1500; ++i)
        bytes[i] = char(bytes[i] ^ 0x5A);
    const FileInfo holed = input(test::writeFile(dir.filePath("in/holed.mp3"), bytes));
    EXPECT_EQ(refusal(holed), "This file is damaged or not in a supported format");
    EXPECT_EQ(outputs(), QStringList());
    const QString folder = splitMedia(input(song), context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"song 1.mp3", "song 2.mp3"}));
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
    // Matroska written live carries no duration; of its pictures, none is counted.
    const FileInfo file = input(clip("live.mkv", 2.0, "160x120", {"-an", "-live", "1"}));
    ASSERT_EQ(format(file.path(), "duration"), "N/A");
    EXPECT_EQ(refusal(file), "This file has no duration to split");
    EXPECT_TRUE(QDir(dir.filePath("work")).isEmpty());
}

// Its sound is counted, and FLAC out of Matroska is cut into pieces that each state their own
// length, as a FLAC file's are.
TEST_F(MediaSplit, ASoundWithoutALengthIsCountedAndItsFlacPiecesStateTheirs)
{
    const FileInfo file = input(tone("live.mka", 2.0, {"-c:a", "flac", "-live", "1"}));
    ASSERT_EQ(format(file.path(), "duration"), "N/A");
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"live 1.flac", "live 2.flac"}));
    for (const QString& piece : QDir(folder).entryList(QDir::Files))
        EXPECT_NEAR(duration(folder + "/" + piece), 1.0, 0.06) << piece.toStdString();
}

TEST_F(MediaSplit, WhereCopyingCannotCutThePictureIsEncodedAgain)
{
    // One key frame: a copy could only give the whole clip back.
    const FileInfo file = input(clip("one key.mkv", 6.0, "160x120", {"-g", "1000"}));
    context.options.split = SplitMode::at({2.0, 4.0});
    const QString folder = splitMedia(file, context, work).toLocalFile();
    const QStringList pieces = QDir(folder).entryList(QDir::Files);
    ASSERT_EQ(pieces, (QStringList{"one key 1.mp4", "one key 2.mp4", "one key 3.mp4"}));
    for (const QString& piece : pieces) {
        EXPECT_NEAR(duration(folder + "/" + piece), 2.0, 0.25) << piece.toStdString();
        EXPECT_EQ(stream(folder + "/" + piece, "a", "codec_name"), "aac");
    }
}

TEST_F(MediaSplit, HalvesOfAnMp3AreTwoPieces)
{
    // Cut at the middle, not every half a duration: no sliver of a last frame makes a third.
    const FileInfo file = input(tone("tone.mp3", 13.6, {"-c:a", "libmp3lame"}));
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"tone 1.mp3", "tone 2.mp3"}));
}

TEST_F(MediaSplit, OpusAloneInWebmIsCutAsOpus)
{
    const FileInfo file = input(tone("voice.webm", 4.0, {"-c:a", "libopus"}));
    ASSERT_EQ(file.category, FileCategory::audio);
    const QString folder = splitMedia(file, context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"voice 1.opus", "voice 2.opus"}));
    EXPECT_EQ(stream(folder + "/voice 1.opus", "a", "codec_name"), "opus");
}

// No container FFmpeg writes holds DSD as it is ("This combination of codec and format isn't
// supported"): the pieces are encoded again, in the format Trim gives the same file.
TEST_F(MediaSplit, SoundOfACodecNoContainerHoldsIsEncodedInPieces)
{
    const QString source = test::writeFile(dir.filePath("in/tone.dsf"), dsfTone(2.0));
    context.options.split = SplitMode::parts(2);
    const QString folder = splitMedia(input(source), context, work).toLocalFile();
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"tone 1.m4a", "tone 2.m4a"}));
    for (const QString& piece : QDir(folder).entryList(QDir::Files))
        EXPECT_NEAR(duration(folder + "/" + piece), 1.0, 0.1) << piece.toStdString();
}
