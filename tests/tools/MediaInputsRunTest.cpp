// Media files that are not what they seem at first sight, run through the application's own
// code: junk before an MP3, sound alone in a video container, chapters, Opus rates, a clip with
// one key frame. ffprobe says what came out.

#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

class MediaInputsRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(QDir(home.path()).mkpath("files"));
        folder = home.filePath("files");
    }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = folder + "/" + name;
        EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                             QStringList{"-nostdin", "-v", "error", "-y"} + arguments + QStringList{"file:" + path}),
                  0)
            << name.toStdString();
        return path;
    }

    static bool hasEncoder(const QString& name)
    {
        QByteArray output;
        runProgram(QStringLiteral("ffmpeg"), {"-hide_banner", "-encoders"}, &output);
        return QString::fromUtf8(output).contains(QRegularExpression(" " + name + " "));
    }

    DriverRun run(const QStringList& args) { return runDriverJob(args, home.path()); }

    static QByteArray probe(const QString& path, const QStringList& arguments)
    {
        QByteArray output;
        EXPECT_EQ(runProgram(QStringLiteral("ffprobe"),
                             QStringList{"-v", "error"} + arguments + QStringList{"file:" + path}, &output),
                  0)
            << path.toStdString();
        return output.trimmed();
    }

    static double duration(const QString& path)
    {
        return probe(path, {"-show_entries", "format=duration", "-of", "csv=p=0"}).toDouble();
    }

    // The end of the last chapter in seconds, 0 without chapters.
    static double lastChapterEnd(const QString& path)
    {
        double end = 0;
        for (const QByteArray& line : probe(path, {"-show_entries", "chapter=end_time", "-of", "csv=p=0"}).split('\n'))
            if (!line.trimmed().isEmpty())
                end = std::max(end, line.trimmed().toDouble());
        return end;
    }

    QStringList wheelIds(const QString& kind, const QString& file) const
    {
        QStringList found;
        static const QRegularExpression id(QStringLiteral("\"((tool|convert)\\.[a-z]+\\.[A-Za-z0-9]+)\""));
        const QString text = QString::fromUtf8(runDevDriver({"wheel", kind, file}, home.path()));
        for (auto it = id.globalMatch(text); it.hasNext();)
            found.append(it.next().captured(1));
        return found;
    }

    // 12 s of picture and sound with the chapters 0-4, 4-8 and 8-12.
    QString chaptered(const QString& name)
    {
        const QString metadata = writeFile(folder + "/chapters.txt",
                                           ";FFMETADATA1\n"
                                           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=4000\ntitle=One\n"
                                           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=4000\nEND=8000\ntitle=Two\n"
                                           "[CHAPTER]\nTIMEBASE=1/1000\nSTART=8000\nEND=12000\ntitle=Three\n");
        return make(name, {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=12", "-f", "lavfi", "-i",
                           "sine=duration=12", "-f", "ffmetadata", "-i", "file:" + metadata, "-map", "0:v", "-map",
                           "1:a", "-map_chapters", "2", "-c:v", "libx264", "-preset", "ultrafast", "-g", "10",
                           "-pix_fmt", "yuv420p", "-c:a", "aac"});
    }

    QTemporaryDir home;
    QString folder;
};

} // namespace

TEST_F(MediaInputsRun, AnMp3BehindJunkConvertsToItsOwnSound)
{
    const QString song = make("plain.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:duration=13.6", "-c:a",
                                            "libmp3lame", "-b:a", "128k"});
    const QString source = writeFile(folder + "/junk.mp3", amrLookingJunk(100000) + readFile(song));

    const DriverRun result = run({"convert.audio.m4a", source});
    ASSERT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    const QString placed = folder + "/junk.m4a";
    ASSERT_EQ(result.outputs(), QStringList{placed});
    EXPECT_EQ(probe(placed, {"-show_entries", "stream=codec_name,sample_rate", "-of", "csv=p=0"}), "aac,44100");
    EXPECT_NEAR(duration(placed), 13.6, 1.0);
}

TEST_F(MediaInputsRun, AnMp3BehindJunkSplitsIntoEqualParts)
{
    const QString song = make("plain.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:duration=12", "-c:a",
                                            "libmp3lame", "-b:a", "128k"});
    // Taken into a length guessed from the bitrate, the junk would make the last part a sliver.
    const QString source = writeFile(folder + "/junk.mp3", amrLookingJunk(100000) + readFile(song));
    const DriverRun result = run({"tool.audio.split", "--options", R"({"split":{"parts":{"_0":3}}})", source});
    ASSERT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    const QDir parts(result.outputs().value(0));
    const QStringList names = parts.entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3) << names.join(", ").toStdString();
    for (const QString& name : names) {
        // The first part starts with what is left of the junk, which FFmpeg reports on a line of its own.
        const QByteArray length =
            probe(parts.filePath(name), {"-show_entries", "format=duration", "-of", "csv=p=0"}).split('\n').last();
        EXPECT_NEAR(length.toDouble(), 4.0, 0.6) << name.toStdString();
    }
}

TEST_F(MediaInputsRun, ChaptersAreCutToWhatATrimKeeps)
{
    const QString source = chaptered("talk.mp4");
    for (const bool fast : {false, true}) {
        const QString options = QStringLiteral(R"({"trimStart":5,"trimEnd":7,"fastTrim":%1})")
                                    .arg(fast ? "true" : "false");
        const DriverRun result = run({"tool.video.trim", "--options", options, source});
        ASSERT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
        const QString placed = result.outputs().value(0);
        const double length = duration(placed);
        EXPECT_LT(length, 3.0) << fast;
        EXPECT_GT(lastChapterEnd(placed), 1.5) << fast;
        EXPECT_LE(lastChapterEnd(placed), length + 0.05) << fast;
        EXPECT_TRUE(QFile::remove(placed));
    }
}

TEST_F(MediaInputsRun, NoToolLeavesChaptersPastTheEnd)
{
    const QString source = chaptered("talk.mp4");
    const QString other = chaptered("more.mp4");
    const struct {
        QStringList args;
    } runs[] = {
        {{"tool.video.speed", "--options", R"({"speed":2})", source}},
        {{"tool.video.reverse", source}},
        {{"tool.video.merge", source, other}},
        {{"tool.video.split", "--options", R"({"split":{"parts":{"_0":2}}})", source}},
    };
    for (const auto& row : runs) {
        const DriverRun result = run(row.args);
        ASSERT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
        QStringList files = result.outputs();
        if (QFileInfo(files.value(0)).isDir()) {
            const QDir pieces(files.first());
            files.clear();
            for (const QString& piece : pieces.entryList(QDir::Files))
                files.append(pieces.filePath(piece));
        }
        ASSERT_FALSE(files.isEmpty()) << row.args.first().toStdString();
        for (const QString& file : files)
            EXPECT_LE(lastChapterEnd(file), duration(file) + 0.05) << file.toStdString();
    }
}

TEST_F(MediaInputsRun, SoundAloneInAVideoContainerIsSound)
{
    const QString webm = make("voice.webm", {"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libopus"});
    const QStringList tools = wheelIds("tools", webm);
    EXPECT_TRUE(tools.contains("tool.audio.normalize")) << tools.join(' ').toStdString();
    EXPECT_FALSE(tools.contains("tool.video.mute")) << tools.join(' ').toStdString();
    EXPECT_TRUE(wheelIds("convert", webm).contains("convert.audio.mp3"));

    // Every sound tool the wheel offers works on it.
    for (const QStringList& args : QList<QStringList>{{"tool.audio.normalize", webm},
                                                      {"tool.audio.trim", "--options", R"({"trimEnd":1})", webm},
                                                      {"tool.audio.split", webm},
                                                      {"tool.audio.removeMetadata", webm},
                                                      {"tool.audio.sampleRate", webm},
                                                      {"convert.audio.opus", webm}}) {
        const DriverRun result = run(args);
        EXPECT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    }

    // An MP4 that holds sound and its cover picture is sound too; a 3GP with AAC alone as well.
    const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1"});
    const QString song = make("song.mp4", {"-f", "lavfi", "-i", "sine=duration=1", "-i", "file:" + cover, "-map", "0",
                                           "-map", "1", "-c:a", "aac", "-c:v", "png", "-disposition:v",
                                           "attached_pic"});
    EXPECT_TRUE(wheelIds("tools", song).contains("tool.audio.fade"));
    const QString phone = make("memo.3gp", {"-f", "lavfi", "-i", "sine=duration=1", "-ar", "8000", "-ac", "1",
                                            "-c:a", "aac"});
    EXPECT_TRUE(wheelIds("tools", phone).contains("tool.audio.fade"));

    // A video stays a video.
    const QString movie = make("movie.webm", {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=5:duration=1", "-c:v",
                                              "libvpx", "-b:v", "200k"});
    EXPECT_TRUE(wheelIds("tools", movie).contains("tool.video.snapshot"));
}

TEST_F(MediaInputsRun, AVideoWithoutSoundIsOfferedNothingThatNeedsSound)
{
    const QStringList picture{"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=5:duration=1"};
    const QString mp4 = make("screen.mp4", picture + QStringList{"-c:v", "libx264", "-pix_fmt", "yuv420p"});
    const QString avi = make("screen.avi", picture + QStringList{"-c:v", "mpeg4"});
    const QStringList needSound{"convert.video.mp3", "convert.video.m4a", "convert.video.wav", "convert.video.flac",
                                "convert.video.ogg", "convert.video.opus", "convert.video.aiff",
                                "tool.video.extractAudio", "tool.video.mute"};
    for (const QString& file : {mp4, avi}) {
        const QStringList offered = wheelIds("convert", file) + wheelIds("tools", file);
        for (const QString& id : needSound)
            EXPECT_FALSE(offered.contains(id)) << id.toStdString() << " offered for " << file.toStdString();
        EXPECT_TRUE(offered.contains("convert.video.mov")) << file.toStdString();
        EXPECT_TRUE(offered.contains("tool.video.reverse")) << file.toStdString();
    }
    // What is offered works without sound.
    for (const QString& id : {QStringLiteral("convert.video.mov"), QStringLiteral("tool.video.reverse")}) {
        const DriverRun result = run({id, mp4});
        EXPECT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    }

    // The same video with sound is offered all of it, and its sound comes out.
    const QString voiced = make("talk.avi", picture + QStringList{"-f", "lavfi", "-i", "sine=duration=1", "-c:v",
                                                                  "mpeg4", "-c:a", "mp3"});
    const QStringList offered = wheelIds("convert", voiced) + wheelIds("tools", voiced);
    for (const QString& id : needSound)
        EXPECT_TRUE(offered.contains(id)) << id.toStdString() << " not offered";
    const DriverRun extracted = run({"tool.video.extractAudio", voiced});
    EXPECT_EQ(extracted.code, 0) << QJsonDocument(extracted.result).toJson().toStdString();
}

TEST_F(MediaInputsRun, AmrInA3gpIsSound)
{
    if (!hasEncoder("libopencore_amrnb"))
        GTEST_SKIP() << "this FFmpeg has no AMR encoder";
    const QString memo = make("memo.3gp", {"-f", "lavfi", "-i", "sine=duration=2", "-ar", "8000", "-ac", "1", "-c:a",
                                           "libopencore_amrnb", "-b:a", "12.2k"});
    EXPECT_TRUE(wheelIds("tools", memo).contains("tool.audio.fade"));
    for (const QStringList& args : QList<QStringList>{{"tool.audio.split", memo}, {"tool.audio.normalize", memo}}) {
        const DriverRun result = run(args);
        EXPECT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    }
}

TEST_F(MediaInputsRun, AnOpusRateOpusCannotHoldBecomesM4a)
{
    const QString voice = make("voice.opus", {"-f", "lavfi", "-i", "sine=duration=2", "-c:a", "libopus"});
    const DriverRun odd = run({"tool.audio.sampleRate", "--options", R"({"sampleRate":44100})", voice});
    ASSERT_EQ(odd.code, 0) << QJsonDocument(odd.result).toJson().toStdString();
    ASSERT_EQ(odd.outputs(), QStringList{folder + "/voice (44 kHz).m4a"});
    EXPECT_EQ(probe(odd.outputs().first(), {"-show_entries", "stream=codec_name,sample_rate", "-of", "csv=p=0"}),
              "aac,44100");
    EXPECT_EQ(odd.messages(), QStringList{"OPUS can't hold 44.1 kHz: saved as M4A"});

    const DriverRun fitting = run({"tool.audio.sampleRate", "--options", R"({"sampleRate":48000})", voice});
    ASSERT_EQ(fitting.code, 0) << QJsonDocument(fitting.result).toJson().toStdString();
    EXPECT_EQ(fitting.outputs(), QStringList{folder + "/voice (48 kHz).opus"});

    // A conversion keeps its format and takes the nearest rate it can write.
    const QString wav = make("tone.wav", {"-f", "lavfi", "-i", "sine=duration=1"});
    const DriverRun converted = run({"convert.audio.opus", "--options", R"({"sampleRate":22050})", wav});
    ASSERT_EQ(converted.code, 0) << QJsonDocument(converted.result).toJson().toStdString();
    EXPECT_EQ(converted.messages(), QStringList{"OPUS can't use 22.05 kHz: used 24 kHz"});
    EXPECT_EQ(probe(converted.outputs().value(0), {"-show_entries", "stream=codec_name", "-of", "csv=p=0"}), "opus");
}

TEST_F(MediaInputsRun, AClipWithOneKeyFrameStillSplits)
{
    const QString clip = make("one key.mp4", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=6", "-f",
                                              "lavfi", "-i", "sine=duration=6", "-c:v", "libx264", "-preset",
                                              "ultrafast", "-g", "1000", "-pix_fmt", "yuv420p", "-c:a", "aac",
                                              "-shortest"});
    const DriverRun result = run({"tool.video.split", "--options", R"({"split":{"parts":{"_0":2}}})", clip});
    ASSERT_EQ(result.code, 0) << QJsonDocument(result.result).toJson().toStdString();
    const QDir pieces(result.outputs().value(0));
    ASSERT_EQ(pieces.entryList(QDir::Files), (QStringList{"one key 1.mp4", "one key 2.mp4"}));
    for (const QString& piece : pieces.entryList(QDir::Files)) {
        EXPECT_NEAR(duration(pieces.filePath(piece)), 3.0, 0.3) << piece.toStdString();
        EXPECT_EQ(probe(pieces.filePath(piece), {"-select_streams", "v", "-show_entries", "stream=codec_name", "-of",
                                                 "csv=p=0"}),
                  "h264");
    }
}
