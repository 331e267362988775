#include "engines/media/probe/MediaProbe.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/FFmpegInvocation.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <chrono>
#include <thread>

using namespace qv;

namespace {

class MediaProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
    }

    // Makes a file with ffmpeg from lavfi sources; tiny, so the tests stay quick.
    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = dir.filePath(name);
        const int status = test::runProgram(QStringLiteral("ffmpeg"),
                                            QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"}
                                                + arguments + QStringList{"file:" + path});
        EXPECT_EQ(status, 0) << name.toStdString();
        return path;
    }

    QString movie(const QString& name = QStringLiteral("clip.mov"))
    {
        return make(name, {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5", "-f", "lavfi", "-i",
                           "sine=duration=0.5", "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest"});
    }

    QString script(const QString& name, const QByteArray& body)
    {
        const QString path = test::writeFile(dir.filePath(name), "#!/bin/sh\n" + body);
        chmod(QFile::encodeName(path).constData(), 0755);
        return path;
    }

    // An MP3 behind 100 kB of bytes that look like raw AMR frames to FFmpeg's guess.
    QString mp3AfterJunk(const QString& name)
    {
        const QString song = make("plain.mp3", {"-f", "lavfi", "-i", "sine=frequency=440:duration=3", "-c:a",
                                                "libmp3lame"});
        QByteArray junk;
        quint32 seed = 7;
        while (junk.size() < 100000) {
            junk.append(char(0x3C));
            for (int i = 0; i < 31; ++i) {
                seed = seed * 1103515245u + 12345u;
                const char byte = char(seed >> 16);
                junk.append(byte == char(0x3C) ? char(0x3D) : byte);
            }
        }
        return test::writeFile(dir.filePath(name), junk.left(100000) + test::readFile(song));
    }

    static MediaInfo probe(const QString& path)
    {
        return probeMediaInfo(QUrl::fromLocalFile(path), {});
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(MediaProbe, DescribesRealFiles)
{
    const MediaInfo clip = probe(movie());
    ASSERT_TRUE(clip.video);
    ASSERT_TRUE(clip.audio);
    EXPECT_EQ(clip.video->codec, "h264");
    EXPECT_EQ(clip.video->width, 64);
    EXPECT_EQ(clip.video->height, 48);
    EXPECT_EQ(clip.video->fps, 10.0);
    EXPECT_EQ(clip.video->pixelFormat, "yuv420p");
    EXPECT_EQ(clip.audio->codec, "aac");
    EXPECT_EQ(clip.audio->sampleRate, 44100);
    EXPECT_EQ(clip.audioStreamCount, 1);
    EXPECT_NEAR(clip.duration.value_or(0), 0.5, 0.05);
    EXPECT_EQ(clip.container, "mov,mp4,m4a,3gp,3g2,mj2");

    const MediaInfo flac = probe(make("deep.flac", {"-f", "lavfi", "-i", "sine=duration=0.3:sample_rate=48000", "-c:a",
                                                    "flac", "-sample_fmt", "s32", "-bits_per_raw_sample", "24"}));
    EXPECT_FALSE(flac.video);
    ASSERT_TRUE(flac.audio);
    EXPECT_EQ(flac.audio->bitDepth, 24);

    const QString source = movie(QStringLiteral("upright.mov"));
    // 5.1 writes rotate=270 as the display matrix of a clockwise quarter turn, as phones do.
    const MediaInfo phone = probe(make("phone.mp4", {"-i", "file:" + source, "-map", "0", "-c", "copy",
                                                     "-metadata:s:v:0", "rotate=270"}));
    ASSERT_TRUE(phone.video);
    EXPECT_EQ(phone.video->rotation, 90);
    EXPECT_EQ(phone.video->width, 64);

    const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1"});
    const MediaInfo song = probe(make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=0.3", "-i", "file:" + cover,
                                                   "-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "png",
                                                   "-disposition:v", "attached_pic"}));
    EXPECT_FALSE(song.video);
    ASSERT_TRUE(song.audio);
    EXPECT_EQ(song.audio->codec, "mp3");
}

TEST_F(MediaProbe, AFileFFmpegCannotDescribeIsRefusedWithItsText)
{
    const QString text = test::writeFile(dir.filePath("notes.mp4"), "hello, this is no movie\n");
    try {
        probe(text);
        FAIL() << "a text file passed for a movie";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "This file is damaged or not in a supported format");
        EXPECT_TRUE(e.log().contains("Invalid data found when processing input")) << e.log().toStdString();
    }
    EXPECT_EQ(test::readFile(text), "hello, this is no movie\n");

    const QString srt = test::writeFile(dir.filePath("words.srt"), "1\n00:00:00,000 --> 00:00:01,000\nHello\n");
    const QString subtitlesOnly = make("words.mkv", {"-i", "file:" + srt, "-c:s", "srt"});
    EXPECT_THROW(probe(subtitlesOnly), EngineError);
}

// A Speex file of its headers alone is whole and holds no sound; the same pages cut short, or
// with a byte changed, are damaged. The oracle: ffprobe finds no stream in any of them.
TEST_F(MediaProbe, AnOggOfHeadersAloneHoldsNoSoundAndIsNoDamage)
{
    const QString empty = make("empty.spx", {"-f", "lavfi", "-i", "anullsrc=r=16000:cl=mono", "-t", "0", "-c:a", "libspeex"});
    const QByteArray pages = test::readFile(empty);
    QByteArray changed = pages;
    changed[changed.size() - 10] = char(changed[changed.size() - 10] ^ 0x20);
    const QString cut = test::writeFile(dir.filePath("cut.spx"), pages.left(pages.size() - 10));
    const QString flipped = test::writeFile(dir.filePath("flipped.spx"), changed);
    for (const QString& path : {empty, cut, flipped})
        EXPECT_NE(test::runProgram("ffprobe", {"-v", "error", "-show_streams", "file:" + path}), 0) << path.toStdString();

    EXPECT_EQ(test::failureOf([&] { probe(empty); }), "This file has no usable audio or video");
    EXPECT_EQ(test::failureOf([&] { probe(cut); }), "This file is damaged or not in a supported format");
    EXPECT_EQ(test::failureOf([&] { probe(flipped); }), "This file is damaged or not in a supported format");
}

TEST_F(MediaProbe, AWeakGuessThatDisagreesWithTheNameIsOverruled)
{
    const QString junk = mp3AfterJunk("junk.mp3");
    QByteArray guessed;
    test::runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=format_name", "-of", "csv=p=0",
                                                 "file:" + junk}, &guessed);
    if (guessed.trimmed() == "mp3")
        GTEST_SKIP() << "this FFmpeg reads the junk as MP3 by itself";
    const MediaInfo info = probe(junk);
    EXPECT_EQ(info.container, "mp3");
    EXPECT_EQ(info.demuxer, "mp3");
    EXPECT_TRUE(info.guessOverruled);
    ASSERT_TRUE(info.audio);
    EXPECT_EQ(info.audio->codec, "mp3");
    EXPECT_EQ(info.audio->sampleRate, 44100);
    // Three seconds of tone, not the six more the junk would add to a length guessed from the
    // bitrate.
    ASSERT_TRUE(info.duration);
    EXPECT_NEAR(*info.duration, 3.0, 0.6);

    // A real header wins over the name: an M4A called .mp3 is read as what it is.
    const QString m4a = make("tone.m4a", {"-f", "lavfi", "-i", "sine=duration=1", "-c:a", "aac"});
    const QString misnamed = dir.filePath("misnamed.mp3");
    ASSERT_TRUE(QFile::copy(m4a, misnamed));
    const MediaInfo real = probe(misnamed);
    EXPECT_EQ(real.demuxer, "mov");
    EXPECT_FALSE(real.guessOverruled);
    ASSERT_TRUE(real.audio);
    EXPECT_EQ(real.audio->codec, "aac");

    // A file whose name agrees is read as FFmpeg found it, and every run is told so.
    const MediaInfo clip = probe(movie());
    EXPECT_EQ(clip.demuxer, "mov");
    EXPECT_FALSE(clip.guessOverruled);
}

// A recorder's header that makes FFmpeg sure of AMR (its magic, then 100 kB of its own) before
// an MP3: the chain of MPEG audio frames further in says the name is right, and the file lasts
// what its frames last.
TEST_F(MediaProbe, AConfidentGuessGivesWayToTheFramesAnMp3Holds)
{
    const QString plain = mp3AfterJunk("plain-junk.mp3");
    QByteArray bytes = test::readFile(plain);
    bytes.replace(0, 6, "#!AMR\n");
    const QString junk = test::writeFile(dir.filePath("recorder.mp3"), bytes);
    QByteArray guessed;
    test::runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=format_name", "-of", "csv=p=0",
                                                 "file:" + junk}, &guessed);
    EXPECT_EQ(guessed.trimmed(), "amr");
    const MediaInfo info = probe(junk);
    EXPECT_EQ(info.demuxer, "mp3");
    EXPECT_TRUE(info.guessOverruled);
    ASSERT_TRUE(info.duration);
    EXPECT_NEAR(*info.duration, 3.0, 0.6);
}

TEST(MediaProbeNames, DemuxersOfExtensions)
{
    EXPECT_EQ(demuxerForExtension("mp3"), "mp3");
    EXPECT_EQ(demuxerForExtension("m4b"), "mov");
    EXPECT_EQ(demuxerForExtension("3g2"), "mov");
    EXPECT_EQ(demuxerForExtension("webm"), "matroska");
    EXPECT_EQ(demuxerForExtension("oga"), "ogg");
    EXPECT_EQ(demuxerForExtension("asf"), "asf");
    EXPECT_EQ(demuxerForExtension("eac3"), "eac3");
    EXPECT_EQ(demuxerForExtension("jpg"), std::nullopt);
    EXPECT_EQ(demuxerForExtension(""), std::nullopt);
    EXPECT_TRUE(containerIs(QStringLiteral("matroska,webm"), "matroska"));
    EXPECT_FALSE(containerIs(QStringLiteral("amrnb"), "amr"));
    EXPECT_FALSE(containerIs(std::nullopt, "mp3"));
}

TEST_F(MediaProbe, NamesFilesSoNoNameIsAnOption)
{
    const QString dashed = movie(QStringLiteral("-i clip:1.mov"));
    const MediaInfo info = probe(dashed);
    EXPECT_TRUE(info.video);

    // The probe's exact command line, environment and folder, as a stand-in program sees them.
    const QString echo = script("echo-ffmpeg", "printf '%s|' \"$@\" >&2; echo >&2; /usr/bin/env >&2; echo \"cwd=$(pwd -P)\" >&2\n");
    const QString seen = probeWithFFmpeg(QUrl::fromLocalFile(echo), QUrl::fromLocalFile(dashed), {});
    const QStringList lines = seen.split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines.first(), "-nostdin|-hide_banner|-i|file:" + dashed + "|");
    EXPECT_FALSE(seen.contains("PATH=")) << seen.toStdString();
    EXPECT_FALSE(seen.contains("HOME=")) << seen.toStdString();
    EXPECT_TRUE(seen.contains("cwd=" + QDir(appTemporaryRoot().toLocalFile()).canonicalPath())) << seen.toStdString();
}

TEST_F(MediaProbe, WithoutFFmpegNothingRuns)
{
    const QString clip = movie();
    try {
        probeMediaInfo(std::nullopt, QUrl::fromLocalFile(clip), {});
        FAIL() << "probed without ffmpeg";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "FFmpeg is missing from this copy of Quorvenda");
        EXPECT_TRUE(e.log().isEmpty());
    }
    EXPECT_THROW(runFFmpeg(std::nullopt, {"-version"}, {}), EngineError);
    EXPECT_FALSE(ffmpegVersion(std::nullopt, {}));
}

TEST_F(MediaProbe, ACancelledProbeStopsFFmpeg)
{
    // FFmpeg waits for a writer to open the pipe, so it is surely running when the stop comes.
    const QString fifo = dir.filePath("never.mp4");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::stop_source stop;
    std::jthread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    EXPECT_THROW(probeMediaInfo(QUrl::fromLocalFile(fifo), stop.get_token()), CancellationError);

    std::stop_source before;
    before.request_stop();
    EXPECT_THROW(probeMediaInfo(QUrl::fromLocalFile(movie()), before.get_token()), CancellationError);
}

TEST_F(MediaProbe, VersionIsTheFirstLineOrNothing)
{
    const auto version = ffmpegVersion({});
    ASSERT_TRUE(version);
    EXPECT_TRUE(version->startsWith("ffmpeg version")) << version->toStdString();
    EXPECT_FALSE(ffmpegVersion(QUrl::fromLocalFile(script("silent", "exit 0\n")), {}));
    EXPECT_FALSE(ffmpegVersion(QUrl::fromLocalFile(dir.filePath("absent")), {}));
}

TEST(FFmpegProgress, FillsItsStretchFromOutTimeLines)
{
    Progress progress(1000);
    const FFmpegProgressContext context{&progress, 10.0, 0.2, 0.6};
    ffmpegProgress("out_time_us=N/A", context);
    ffmpegProgress("out_time_us=-5", context);
    ffmpegProgress("frame=12", context);
    EXPECT_EQ(progress.completedUnitCount(), 0);
    ffmpegProgress("out_time_ms=5000000", context);
    EXPECT_EQ(progress.completedUnitCount(), 400);
    ffmpegProgress("out_time_us=99000000", context);
    EXPECT_EQ(progress.completedUnitCount(), 600);

    Progress still(1000);
    ffmpegProgress("out_time_us=5000000", {&still, 0.0, 0.0, 1.0});
    ffmpegProgress("out_time_us=5000000", {&still, std::nullopt, 0.0, 1.0});
    ffmpegProgress("out_time_us=5000000", {nullptr, 10.0, 0.0, 1.0});
    EXPECT_EQ(still.completedUnitCount(), 0);
}

TEST_F(MediaProbe, ARunReportsLiveProgress)
{
    const QString clip = movie();
    Progress progress(100);
    const auto output = runFFmpeg({"-i", ffmpegFileOperand(clip), "-f", "null", "-"}, {},
                                  {&progress, 0.5, 0.0, 0.5});
    EXPECT_EQ(output.status, 0) << output.stderrText().toStdString();
    // Never beyond the stretch given; how near its end the last report comes is FFmpeg's affair.
    EXPECT_GT(progress.completedUnitCount(), 0);
    EXPECT_LE(progress.completedUnitCount(), 50);
    EXPECT_TRUE(output.stderrText().trimmed().isEmpty()) << output.stderrText().toStdString();
}

TEST_F(MediaProbe, AFailedRunBecomesAnFFmpegErrorWithItsLog)
{
    const QString clip = movie();
    const auto success = runFFmpeg({"-i", ffmpegFileOperand(clip), "-f", "null", "-"}, {});
    EXPECT_NO_THROW(checkFFmpegRun(success));

    const QString text = test::writeFile(dir.filePath("notes.mp4"), "no movie\n");
    const auto damaged = runFFmpeg({"-i", ffmpegFileOperand(text), "-f", "null", "-"}, {});
    try {
        checkFFmpegRun(damaged);
        FAIL() << "a failed run passed";
    } catch (const FFmpegError& e) {
        EXPECT_NE(e.status(), 0);
        EXPECT_EQ(e.localizedDescription(), "This file is damaged or not in a supported format");
        EXPECT_EQ(e.log(), e.log().trimmed());
        EXPECT_TRUE(e.log().contains("Invalid data found")) << e.log().toStdString();
    }

    test::SmallDisk disk(256 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    const auto full = runFFmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-c:v", "rawvideo",
                                 "-f", "nut", ffmpegFileOperand(disk.filePath("big.nut"))},
                                {});
    try {
        checkFFmpegRun(full);
        FAIL() << "a run that filled the disk passed";
    } catch (const FFmpegError& e) {
        EXPECT_EQ(e.localizedDescription(), "Not enough disk space") << e.log().toStdString();
    }

    // A MOV's index is written last: when that write fails FFmpeg still ends with status 0.
    ASSERT_TRUE(QFile::remove(disk.filePath("big.nut")));
    ASSERT_TRUE(disk.fillLeaving(96 * 1024));
    const auto unfinished = runFFmpeg({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=4", "-c:v", "mpeg4",
                                       "-q:v", "2", "-f", "mov", ffmpegFileOperand(disk.filePath("clip.mov"))},
                                      {});
    EXPECT_EQ(unfinished.status, 0);
    EXPECT_TRUE(ffmpegLogTellsOfAWriteFailure(unfinished.stderrText())) << unfinished.stderrText().toStdString();
    try {
        checkFFmpegRun(unfinished);
        FAIL() << "a run that could not write its index passed";
    } catch (const FFmpegError& e) {
        EXPECT_EQ(e.localizedDescription(), "Not enough disk space") << e.log().toStdString();
    }
}
