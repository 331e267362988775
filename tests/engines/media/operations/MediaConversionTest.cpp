#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/MediaRun.h"
#include "engines/media/operations/MediaConversion.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"
#include "model/errors/JobFailure.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QTemporaryDir>
#include <QUuid>

#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <thread>

using namespace qv;

namespace {

class MediaConversion : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("in"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("work"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("out"));
        context.notes = std::make_shared<JobNotes>();
        work.progress = &progress;
        work.workFile = [this](const QString& extension) {
            return QUrl::fromLocalFile(dir.filePath("work/" + QUuid::createUuid().toString(QUuid::WithoutBraces)
                                                    + "." + extension));
        };
        work.place = [this](const QUrl& file, const QString& extension) {
            const QString target = dir.filePath("out/" + placedBase + "." + extension);
            EXPECT_TRUE(QFile::rename(file.toLocalFile(), target));
            return QUrl::fromLocalFile(target);
        };
    }

    // Three seconds of H.264 and AAC, over 128 KB.
    QString threeSecondClip(const QString& name)
    {
        return make(name, {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=3", "-f", "lavfi", "-i",
                           "sine=duration=3", "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "300k", "-c:a",
                           "aac", "-shortest"});
    }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = dir.filePath("in/" + name);
        const int status = test::runProgram(QStringLiteral("ffmpeg"),
                                            QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"}
                                                + arguments + QStringList{"file:" + path});
        EXPECT_EQ(status, 0) << name.toStdString();
        return path;
    }

    QString movie(const QString& name, double seconds = 1.0)
    {
        const QString d = QString::number(seconds);
        return make(name, {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=" + d, "-f", "lavfi", "-i",
                           "sine=duration=" + d, "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac",
                           "-shortest"});
    }

    static FileInfo file(const QString& path, FileCategory category)
    {
        FileInfo info;
        info.url = QUrl::fromLocalFile(path);
        info.category = category;
        return info;
    }

    static QByteArray run(const QStringList& arguments)
    {
        QByteArray output;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffprobe"), QStringList{"-v", "error"} + arguments, &output), 0);
        return output.trimmed();
    }

    static QByteArray packets(const QString& path, const QString& stream)
    {
        QByteArray output;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                                   {"-nostdin", "-v", "error", "-i", "file:" + path, "-map", "0:" + stream, "-c",
                                    "copy", "-f", "md5", "-"},
                                   &output),
                  0);
        return output.trimmed();
    }

    static QByteArray stream(const QString& path, const QString& select, const QString& entry)
    {
        return run({"-select_streams", select, "-show_entries", "stream=" + entry, "-of", "csv=p=0",
                    "file:" + path});
    }

    static double duration(const QString& path)
    {
        return run({"-show_entries", "format=duration", "-of", "csv=p=0", "file:" + path}).toDouble();
    }

    QStringList leftovers() const
    {
        return QDir(dir.filePath("out")).entryList(QDir::Files) + QDir(dir.filePath("work")).entryList(QDir::Files);
    }

    QTemporaryDir dir;
    OperationContext context;
    Progress progress{100};
    MediaWork work;
    QString placedBase = QStringLiteral("movie.final");
};

// The sentence a call fails with; empty when it succeeds.
template <typename Call>
QString message(Call call)
{
    try {
        call();
    } catch (const EngineError& error) {
        return error.message();
    }
    return QString();
}

} // namespace

TEST_F(MediaConversion, AFittingVideoIsRemuxedPacketForPacketWithItsIndexFirst)
{
    const QString source = movie("movie.final.mov");
    const QUrl placed = convertVideo(file(source, FileCategory::video), VideoTarget::mp4, context, work);
    const QString result = placed.toLocalFile();
    EXPECT_TRUE(result.endsWith("/movie.final.mp4"));
    EXPECT_EQ(packets(result, "v"), packets(source, "v"));
    EXPECT_EQ(packets(result, "a"), packets(source, "a"));
    const QByteArray bytes = test::readFile(result);
    ASSERT_GE(bytes.indexOf("mdat"), 0);
    EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
    EXPECT_DOUBLE_EQ(progress.fractionCompleted(), 1.0);
}

// The top-level boxes of a file, in order, with their sizes.
static QList<std::pair<QByteArray, qint64>> topBoxes(const QString& path)
{
    const QByteArray bytes = test::readFile(path);
    QList<std::pair<QByteArray, qint64>> boxes;
    for (qsizetype at = 0; at + 8 <= bytes.size();) {
        qint64 size = qFromBigEndian<quint32>(bytes.constData() + at);
        if (size == 1 && at + 16 <= bytes.size())
            size = qint64(qFromBigEndian<quint64>(bytes.constData() + at + 8));
        boxes.append({bytes.mid(at + 4, 4), size});
        if (size < 8)
            break;
        at += size;
    }
    return boxes;
}

// A copy keeps room for its index ahead of the samples instead of writing itself twice; an index
// that outgrows the room spoils the first samples, and the copy is made again with the rewrite.
TEST_F(MediaConversion, ACopyKeepsRoomForItsIndexAndIsMadeAgainWhenTheRoomFallsShort)
{
    const QString source = movie("room.mov", 3.0);
    const MediaInfo info = probeMediaInfo(QUrl::fromLocalFile(source), {});
    const std::optional<IsoMediaFile::SampleTables> tables = IsoMediaFile::sampleTables(source);
    ASSERT_TRUE(tables);
    const qint64 room = tables->movieBytes + 64 * tables->samples + 64 * 1024;
    const VideoSettings settings = effectiveVideoSettings(context.settings, context.options);
    for (const qint64 given : {room, qint64(64)}) {
        const QUrl output = work.workFile(QStringLiteral("mp4"));
        const QStringList arguments =
            videoConvertArgs(QUrl::fromLocalFile(source), output, VideoTarget::mp4, info, settings, true);
        ASSERT_TRUE(arguments.contains(QStringLiteral("+faststart")));
        runMediaCopyStep(arguments, given, info.duration, context, work);
        const QString result = output.toLocalFile();
        EXPECT_EQ(packets(result, "v"), packets(source, "v")) << given;
        EXPECT_EQ(packets(result, "a"), packets(source, "a")) << given;
        EXPECT_NEAR(duration(result), duration(source), 0.05) << given;
        const QList<std::pair<QByteArray, qint64>> boxes = topBoxes(result);
        QByteArrayList types;
        for (const auto& [type, size] : boxes)
            types.append(type);
        ASSERT_GE(types.size(), 4) << given;
        EXPECT_EQ(types.mid(0, 2), (QByteArrayList{"ftyp", "moov"})) << given;
        EXPECT_EQ(types.last(), "mdat") << given;
        // The room left over is an empty box; the rewrite leaves one of eight bytes at most.
        EXPECT_EQ(types[2] == "free" && boxes[2].second > 8, given == room) << types.join(' ').toStdString();
    }
}

// A full disk would refuse the copy made again just the same.
TEST_F(MediaConversion, ACopyWithRoomForItsIndexThatMeetsAFullDiskIsNotMadeAgain)
{
    const QString source = threeSecondClip("clip.mov");
    test::SmallDisk disk(1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_GT(QFileInfo(source).size(), 128 * 1024);
    ASSERT_TRUE(disk.fillLeaving(96 * 1024));
    // Counts the runs that write a file, then runs the real FFmpeg.
    const QString script = dir.filePath("ffmpeg");
    const QString runs = dir.filePath("runs");
    test::writeFile(script, QStringLiteral("#!/bin/sh\n"
                                           "case \" $* \" in *' -progress '*) echo \"$*\" >> '%1' ;; esac\n"
                                           "exec ffmpeg \"$@\"\n")
                                .arg(runs)
                                .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    work.ffmpeg = std::optional<QUrl>(QUrl::fromLocalFile(script));
    const MediaInfo info = probeMediaInfo(QUrl::fromLocalFile(source), {});
    const QUrl output = QUrl::fromLocalFile(disk.filePath(QStringLiteral("clip.mp4")));
    const QStringList arguments = videoConvertArgs(QUrl::fromLocalFile(source), output, VideoTarget::mp4, info,
                                                   effectiveVideoSettings(context.settings, context.options), true);
    try {
        runMediaCopyStep(arguments, 64 * 1024, info.duration, context, work);
        FAIL() << "a copy that did not fit finished";
    } catch (const FFmpegError& e) {
        EXPECT_EQ(e.localizedDescription(), "Not enough disk space") << e.log().toStdString();
    }
    const QByteArrayList made = test::readFile(runs).trimmed().split('\n');
    ASSERT_EQ(made.size(), 1) << test::readFile(runs).toStdString();
    EXPECT_TRUE(made.first().contains("-moov_size 65536"));
}

TEST_F(MediaConversion, RoomForTheIndexIsKeptWhereTheSourceTellsItAndItIsASmallPart)
{
    // Raw pictures: many bytes to each of few samples.
    const QString big = make("big.mov", {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=10", "-c:v",
                                         "rawvideo", "-pix_fmt", "yuv420p"});
    ASSERT_GT(QFileInfo(big).size(), 24 << 20);
    const std::optional<IsoMediaFile::SampleTables> tables = IsoMediaFile::sampleTables(big);
    ASSERT_TRUE(tables);
    EXPECT_EQ(tables->samples, 250);
    const qint64 one = tables->movieBytes + 64 * 250;
    const QUrl url = QUrl::fromLocalFile(big);
    EXPECT_EQ(movieBoxRoom({url}, 0), one + 64 * 1024);
    EXPECT_EQ(movieBoxRoom({url, url}, 0), 2 * one + 64 * 1024);
    EXPECT_FALSE(movieBoxRoom({url})) << "a copy this small is rewritten in moments";
    EXPECT_FALSE(movieBoxRoom({}, 0));
    // A small file's room would be a large part of it.
    const QUrl small = QUrl::fromLocalFile(movie("small.mov"));
    EXPECT_FALSE(movieBoxRoom({small}, 0));
    EXPECT_TRUE(movieBoxRoom({url, small}, 0)) << "together they are large";
    // Boxes that do not tell: another container, a fragmented file.
    const QUrl avi = QUrl::fromLocalFile(make("big.avi", {"-i", "file:" + big, "-c", "copy"}));
    EXPECT_FALSE(movieBoxRoom({avi}, 0));
    EXPECT_FALSE(movieBoxRoom({url, avi}, 0));
    const QUrl fragments =
        QUrl::fromLocalFile(make("fragments.mov", {"-i", "file:" + big, "-c", "copy", "-movflags", "frag_keyframe+empty_moov"}));
    EXPECT_FALSE(movieBoxRoom({fragments}, 0));

    const QStringList arguments{"-i", "x", "-c", "copy", "-movflags", "+faststart", "-f", "mp4", "file:y"};
    EXPECT_EQ(withMovieBoxRoom(arguments, 1234),
              (QStringList{"-i", "x", "-c", "copy", "-moov_size", "1234", "-f", "mp4", "file:y"}));
    const QStringList other{"-i", "x", "-movflags", "+frag_keyframe", "-f", "mp4", "file:y"};
    EXPECT_EQ(withMovieBoxRoom(other, 1234), other);
}

TEST_F(MediaConversion, ReEncodingTargetsHoldWhatTheirNamesSay)
{
    const QString source = movie("clip.mov");
    const FileInfo input = file(source, FileCategory::video);
    EXPECT_EQ(stream(convertVideo(input, VideoTarget::webm, context, work).toLocalFile(), "v", "codec_name"),
              "vp9");
    EXPECT_EQ(stream(convertVideo(input, VideoTarget::avi, context, work).toLocalFile(), "a", "codec_name"),
              "mp3");

    context.options.maxResolution = 24;
    placedBase = QStringLiteral("small");
    const QString small = convertVideo(input, VideoTarget::mkv, context, work).toLocalFile();
    EXPECT_EQ(stream(small, "v", "width,height"), "32,24");
}

TEST_F(MediaConversion, AOnePixelPictureGrowsToTheSmallestEvenSize)
{
    const FileInfo pixel = file(QStringLiteral(QV_SOURCE_DIR "/tests/files/smallest/one-pixel.mng"),
                                FileCategory::video);
    // libx265 takes nothing under 16 pixels a side.
    const QList<std::pair<VideoTarget, QByteArray>> targets{{VideoTarget::mp4, "2,2,1"},
                                                            {VideoTarget::hevc, "16,16,1"},
                                                            {VideoTarget::webm, "2,2,1"},
                                                            {VideoTarget::avi, "2,2,1"}};
    for (const auto& [target, expected] : targets) {
        placedBase = videoTargetLabel(target);
        const QString result = convertVideo(pixel, target, context, work).toLocalFile();
        EXPECT_EQ(run({"-count_packets", "-select_streams", "v:0", "-show_entries", "stream=width,height,nb_read_packets",
                       "-of", "csv=p=0", "file:" + result}),
                  expected)
            << result.toStdString();
    }
    context.options.maxResolution = 720;
    placedBase = QStringLiteral("bounded");
    EXPECT_EQ(stream(convertVideo(pixel, VideoTarget::mkv, context, work).toLocalFile(), "v", "width,height"), "2,2");
}

TEST_F(MediaConversion, TheWrongKindOfInputFailsBeforeAnyEncode)
{
    const QString sound = make("tone.mp3", {"-f", "lavfi", "-i", "sine=duration=0.5"});
    const QString silent = make("silent.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.5",
                                               "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    EXPECT_EQ(message([&] { convertVideo(file(sound, FileCategory::audio), VideoTarget::mp4, context, work); }),
              "This file has no video");
    EXPECT_EQ(message([&] { convertAudio(file(silent, FileCategory::video), AudioTarget::mp3, context, work); }),
              "This file has no audio");

    work.ffmpeg = std::optional<QUrl>();
    EXPECT_EQ(message([&] { convertAudio(file(sound, FileCategory::audio), AudioTarget::wav, context, work); }),
              "FFmpeg is missing from this copy of Quorvenda");
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
}

TEST_F(MediaConversion, ARingtoneKeepsTheFirstFortySecondsAndSaysSo)
{
    placedBase = QStringLiteral("song");
    const QString song = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=60:sample_rate=8000"});
    const QString result = convertAudio(file(song, FileCategory::audio), AudioTarget::m4r, context, work).toLocalFile();
    EXPECT_TRUE(result.endsWith("/song.m4r"));
    EXPECT_NEAR(duration(result), 40.0, 0.05);
    EXPECT_EQ(context.notes->messages(), QStringList{ringtoneLimitNote});

    const QString shortSong = make("short.mp3", {"-f", "lavfi", "-i", "sine=duration=1"});
    auto quiet = context;
    quiet.notes = std::make_shared<JobNotes>();
    placedBase = QStringLiteral("short");
    convertAudio(file(shortSong, FileCategory::audio), AudioTarget::m4r, quiet, work);
    EXPECT_TRUE(quiet.notes->messages().isEmpty());
}

TEST_F(MediaConversion, SoundTargetsCopyWhatFitsAndCarryCovers)
{
    const QString source = movie("clip.mp4");
    placedBase = QStringLiteral("clip");
    const QString m4a = convertAudio(file(source, FileCategory::video), AudioTarget::m4a, context, work).toLocalFile();
    EXPECT_EQ(packets(m4a, "a"), packets(source, "a"));
    placedBase = QStringLiteral("clip-wav");
    const QString wav = convertAudio(file(source, FileCategory::video), AudioTarget::wav, context, work).toLocalFile();
    EXPECT_EQ(stream(wav, "a", "codec_name"), "pcm_s16le");

    const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1"});
    const QString song = make("covered.mp3", {"-f", "lavfi", "-i", "sine=duration=0.5", "-i", "file:" + cover,
                                              "-map", "0:a", "-map", "1:v", "-c:v", "png", "-disposition:v",
                                              "attached_pic", "-id3v2_version", "3"});
    placedBase = QStringLiteral("covered");
    const QString flac = convertAudio(file(song, FileCategory::audio), AudioTarget::flac, context, work).toLocalFile();
    EXPECT_EQ(stream(flac, "v", "codec_name"), "png");
    placedBase = QStringLiteral("covered-wav");
    const QString wave = convertAudio(file(song, FileCategory::audio), AudioTarget::wav, context, work).toLocalFile();
    EXPECT_TRUE(stream(wave, "v", "codec_name").isEmpty());

    const QString deep = make("deep.flac", {"-f", "lavfi", "-i", "sine=duration=0.3:sample_rate=48000", "-c:a",
                                            "flac", "-sample_fmt", "s32"});
    placedBase = QStringLiteral("deep");
    EXPECT_EQ(stream(convertAudio(file(deep, FileCategory::audio), AudioTarget::wav, context, work).toLocalFile(),
                     "a", "codec_name"),
              "pcm_s24le");
    EXPECT_EQ(stream(convertAudio(file(deep, FileCategory::audio), AudioTarget::aiff, context, work).toLocalFile(),
                     "a", "codec_name"),
              "pcm_s24be");
}

TEST_F(MediaConversion, ACancelledEncodeLeavesNothing)
{
    const QString source = make("long.mov", {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=20", "-c:v",
                                             "mpeg4", "-q:v", "31"});
    std::stop_source stop;
    context.stopToken = stop.get_token();
    std::jthread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        stop.request_stop();
    });
    EXPECT_THROW(convertVideo(file(source, FileCategory::video), VideoTarget::webm, context, work),
                 CancellationError);
    EXPECT_TRUE(QDir(dir.filePath("out")).entryList(QDir::Files).isEmpty());
}

TEST(ReplacingOptionValue, ChangesTheValueAfterTheFirstOptionOnly)
{
    EXPECT_EQ(replacingOptionValue("-c:v", "prores_ks", {"-i", "x", "-c:v", "a", "-c:v", "b"}),
              (QStringList{"-i", "x", "-c:v", "prores_ks", "-c:v", "b"}));
    EXPECT_EQ(replacingOptionValue("-pix_fmt", "y", {"-i", "-pix_fmt"}), (QStringList{"-i", "-pix_fmt"}));
}

TEST_F(MediaConversion, EveryOtherTargetWritesTheCodecItsNamePromises)
{
    const QString source = movie("clip.mov");
    const FileInfo clip = file(source, FileCategory::video);
    const QList<std::pair<VideoTarget, QByteArray>> videos{
        {VideoTarget::hevc, "hevc,hvc1"}, {VideoTarget::prores, "prores"}, {VideoTarget::gif, "gif"},
        {VideoTarget::webp, "webp"}};
    for (const auto& [target, expected] : videos) {
        placedBase = videoTargetLabel(target);
        const QString result = convertVideo(clip, target, context, work).toLocalFile();
        EXPECT_TRUE(result.endsWith("." + videoTargetFileExtension(target))) << result.toStdString();
        // WebP's animation is a container FFmpeg 5.1 writes but cannot read back.
        if (target == VideoTarget::webp)
            EXPECT_TRUE(test::readFile(result).startsWith("RIFF"));
        else
            EXPECT_TRUE(stream(result, "v:0", "codec_name,codec_tag_string").startsWith(expected.split(',').first()));
    }

    const QString song = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=0.5"});
    const QList<std::pair<AudioTarget, QByteArray>> sounds{
        {AudioTarget::m4a, "aac"},      {AudioTarget::alac, "alac"}, {AudioTarget::aiff, "pcm_s16be"},
        {AudioTarget::flac, "flac"},    {AudioTarget::ogg, "vorbis"}, {AudioTarget::opus, "opus"},
        {AudioTarget::caf, "pcm_s16le"}, {AudioTarget::wav, "pcm_s16le"}};
    for (const auto& [target, codec] : sounds) {
        placedBase = audioTargetRawValue(target);
        const QString result = convertAudio(file(song, FileCategory::audio), target, context, work).toLocalFile();
        EXPECT_EQ(stream(result, "a", "codec_name"), codec) << result.toStdString();
    }
    placedBase = QStringLiteral("back");
    const QString mp3 = convertAudio(file(source, FileCategory::video), AudioTarget::mp3, context, work).toLocalFile();
    EXPECT_EQ(test::readFile(mp3).left(4), QByteArray("ID3\x03", 4));
}

TEST_F(MediaConversion, APhoneClipKeepsItsTurnInMp4AndStandsUprightInMkv)
{
    const QString plain = make("plain.mov", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=10:duration=0.5",
                                             "-c:v", "libx264", "-pix_fmt", "yuv420p"});
    const QString phone = make("phone.mov", {"-i", "file:" + plain, "-c", "copy", "-metadata:s:v:0", "rotate=270"});
    const FileInfo input = file(phone, FileCategory::video);
    placedBase = QStringLiteral("phone");
    const QString mp4 = convertVideo(input, VideoTarget::mp4, context, work).toLocalFile();
    EXPECT_EQ(packets(mp4, "v"), packets(phone, "v"));
    EXPECT_TRUE(run({"-show_streams", "file:" + mp4}).contains("rotation=-90"));
    const QString mkv = convertVideo(input, VideoTarget::mkv, context, work).toLocalFile();
    EXPECT_EQ(stream(mkv, "v", "width,height"), "240,320");

    const QString subtitles = test::writeFile(dir.filePath("in/s.srt"), "1\n00:00:00,000 --> 00:00:00,400\nhello\n");
    const QString withText = make("sub.mkv", {"-i", "file:" + plain, "-i", "file:" + subtitles, "-c:v", "copy",
                                              "-c:s", "srt"});
    placedBase = QStringLiteral("sub");
    const QString carried = convertVideo(file(withText, FileCategory::video), VideoTarget::mp4, context, work)
                                .toLocalFile();
    EXPECT_EQ(stream(carried, "s", "codec_name"), "mov_text");
}

// FFmpeg may end with status 0 over a file it never finished; what it wrote is read back and
// measured before anything is placed.
TEST_F(MediaConversion, AResultIsReadBackAndMeasuredBeforeItIsPlaced)
{
    const QString song = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=3"});
    // Runs the real FFmpeg, then spoils what a media run wrote the way `mode` says.
    const QString script = dir.filePath("ffmpeg");
    const QString mode = dir.filePath("mode");
    test::writeFile(script, QStringLiteral("#!/bin/sh\n"
                                           "case \" $* \" in *' -progress '*) ;; *) exec ffmpeg \"$@\" ;; esac\n"
                                           "ffmpeg \"$@\" || exit $?\n"
                                           "for a in \"$@\"; do out=${a#file:}; done\n"
                                           "case $(cat '%1') in\n"
                                           "garbage) printf 'not a sound' > \"$out\" ;;\n"
                                           "short) ffmpeg -nostdin -v error -y -f lavfi -i sine=duration=0.5 -f wav "
                                           "\"file:$out\" ;;\n"
                                           "esac\nexit 0\n")
                                .arg(mode)
                                .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    work.ffmpeg = std::optional<QUrl>(QUrl::fromLocalFile(script));
    placedBase = QStringLiteral("song");
    const FileInfo input = file(song, FileCategory::audio);
    for (const char* spoil : {"garbage", "short"}) {
        test::writeFile(mode, spoil);
        try {
            convertAudio(input, AudioTarget::wav, context, work);
            ADD_FAILURE() << spoil << ": a spoilt result was placed";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.message(), "Conversion failed") << spoil;
            EXPECT_TRUE(e.log().contains(QLatin1String(spoil) == QLatin1String("short") ? "lasts" : "read back"))
                << e.log().toStdString();
        }
        EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty()) << spoil;
    }
    test::writeFile(mode, "none");
    EXPECT_NEAR(duration(convertAudio(input, AudioTarget::wav, context, work).toLocalFile()), 3.0, 0.05);
}

TEST_F(MediaConversion, AFullDiskUnderARemuxFailsThoughFFmpegEndsWell)
{
    const QString source = threeSecondClip("clip.mp4");
    test::SmallDisk disk(1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    // Room for most of the packets: FFmpeg's last write, the index, is the one that fails.
    ASSERT_GT(QFileInfo(source).size(), 128 * 1024);
    ASSERT_TRUE(disk.fillLeaving(96 * 1024));
    work.workFile = [&disk](const QString& extension) {
        return QUrl::fromLocalFile(disk.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + "." + extension));
    };
    placedBase = QStringLiteral("clip");
    try {
        convertVideo(file(source, FileCategory::video), VideoTarget::mov, context, work);
        FAIL() << "a MOV without its index was placed";
    } catch (const FFmpegError& e) {
        EXPECT_EQ(e.localizedDescription(), "Not enough disk space") << e.log().toStdString();
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

// A remux that meets a full disk or the file size limit fails with that cause: an encode would be
// smaller and might fit, but it is not what was asked for.
TEST_F(MediaConversion, ARemuxThatCannotBeWrittenIsNeverEncodedInstead)
{
    // Lossless pictures: a copy is large, an encode at the usual quality a tenth of it.
    const QString source = make("big.mp4", {"-f", "lavfi", "-i", "testsrc2=size=640x480:rate=25:duration=4", "-c:v",
                                            "libx264", "-preset", "ultrafast", "-qp", "0", "-pix_fmt", "yuv420p"});
    const qint64 size = QFileInfo(source).size();
    ASSERT_GT(size, 1024 * 1024);
    placedBase = QStringLiteral("big");

    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = static_cast<rlim_t>(size / 2);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    QString limited;
    try {
        convertVideo(file(source, FileCategory::video), VideoTarget::mkv, context, work);
    } catch (const Error& e) {
        limited = e.localizedDescription();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_EQ(limited, fileTooLargeMessage());
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());

    test::SmallDisk disk(size / 2 + 64 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    ASSERT_TRUE(disk.fillLeaving(size / 2));
    work.workFile = [&disk](const QString& extension) {
        return QUrl::fromLocalFile(disk.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + "." + extension));
    };
    try {
        convertVideo(file(source, FileCategory::video), VideoTarget::mkv, context, work);
        FAIL() << "a remux that did not fit finished";
    } catch (const FFmpegError& e) {
        EXPECT_EQ(e.localizedDescription(), "Not enough disk space") << e.log().toStdString();
        EXPECT_FALSE(e.log().contains("libx264")) << "the copy was encoded after it failed to write";
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

// A decoder that gives up part way (FFmpeg's MPEG-4 ALS decoder on some files) ends the run well
// with all it decoded: the result agrees with what FFmpeg says it wrote, not with the source.
TEST_F(MediaConversion, ASoundWhoseDecoderGivesUpIsNoResult)
{
    const QString song = make("song.m4a", {"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "aac"});
    // The conversion reads only the first half second, as a decoder that stops there would; its
    // packets are read whole.
    const QString script = dir.filePath("ffmpeg");
    test::writeFile(script, QByteArray("#!/bin/sh\n"
                                       "case \" $* \" in *' -progress '*) ;; *) exec ffmpeg \"$@\" ;; esac\n"
                                       "case \" $* \" in *' -f null '*|*' -f framecrc '*) exec ffmpeg \"$@\" ;; esac\n"
                                       "exec ffmpeg -t 0.5 \"$@\"\n"));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    work.ffmpeg = std::optional<QUrl>(QUrl::fromLocalFile(script));
    placedBase = QStringLiteral("song");
    for (const AudioTarget target : {AudioTarget::wav, AudioTarget::flac, AudioTarget::opus}) {
        try {
            convertAudio(file(song, FileCategory::audio), target, context, work);
            ADD_FAILURE() << "half a second of three was placed";
        } catch (const EngineError& e) {
            EXPECT_EQ(e.message(), "This file is damaged or not in a supported format");
            EXPECT_TRUE(e.log().contains("of sound the source holds")) << e.log().toStdString();
        }
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

// MPEG audio's decoder skips a frame it cannot read and carries on: a hole in the sound, in a
// bare MP3 or inside another container. Junk before the first frame or after the last is no
// hole: the sound is whole.
TEST_F(MediaConversion, AnMpegAudioFrameThatDoesNotDecodeIsDamage)
{
    const QString song = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "libmp3lame",
                                           "-b:a", "64k"});
    const QString boxed = make("boxed.m4a", {"-i", "file:" + song, "-c:a", "copy", "-f", "mp4"});
    QFile in(song);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    QByteArray junk(2048, '\0');
    for (qsizetype i = 0; i < junk.size(); ++i)
        junk[i] = char((i * 37 + 11) & 0xFF);
    const QString framed = test::writeFile(dir.filePath("in/framed.mp3"), junk + bytes + junk.left(700));
    const auto scrambled = [](QByteArray data) {
        for (qsizetype i = data.size() / 2; i < data.size() / 2 + 1500; ++i)
            data[i] = char(data[i] ^ 0x5A);
        return data;
    };
    const QString holed = test::writeFile(dir.filePath("in/holed.mp3"), scrambled(bytes));
    QFile box(boxed);
    ASSERT_TRUE(box.open(QIODevice::ReadOnly));
    const QString holedBox = test::writeFile(dir.filePath("in/holed.m4a"), scrambled(box.readAll()));

    for (const QString& damaged : {holed, holedBox}) {
        placedBase = QFileInfo(damaged).completeBaseName();
        EXPECT_EQ(message([&] { convertAudio(file(damaged, FileCategory::audio), AudioTarget::wav, context, work); }),
                  "This file is damaged or not in a supported format")
            << damaged.toStdString();
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
    placedBase = QStringLiteral("framed");
    const QString wav = convertAudio(file(framed, FileCategory::audio), AudioTarget::wav, context, work).toLocalFile();
    EXPECT_NEAR(duration(wav), 3.0, 0.1);
}

// A FLAC whose middle is scrambled: its parser loses its place and hands frames of a later time
// before earlier ones, no decoder says a word, and the result jumped and fell short (a quarter
// of TinyTag's one-second flac1sMono.flac so). The whole FLAC converts.
TEST_F(MediaConversion, ASoundWhoseTimeRunsBackwardsIsDamage)
{
    const QString song = make("song.flac", {"-f", "lavfi", "-i", "sine=duration=3:sample_rate=16000", "-ac", "1"});
    QFile in(song);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    QByteArray bytes = in.readAll();
    const qsizetype middle = bytes.size() / 2;
    for (qsizetype i = middle; i < middle + std::min<qsizetype>(4096, bytes.size() / 8); ++i)
        bytes[i] = char(bytes[i] ^ 0x5A);
    const QString scrambled = test::writeFile(dir.filePath("in/scrambled.flac"), bytes);
    placedBase = QStringLiteral("scrambled");
    EXPECT_EQ(message([&] { convertAudio(file(scrambled, FileCategory::audio), AudioTarget::mp3, context, work); }),
              "This file is damaged or not in a supported format");
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
    placedBase = QStringLiteral("song");
    const QString mp3 = convertAudio(file(song, FileCategory::audio), AudioTarget::mp3, context, work).toLocalFile();
    EXPECT_NEAR(duration(mp3), 3.0, 0.1);
}

// An H.264 stream without its key frames decodes to no picture at all (ffmpeg's own count is the
// oracle): every target says so, not that an encoder failed.
TEST_F(MediaConversion, AVideoWithNoDecodableFrameSaysSo)
{
    const QString whole = make("whole.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-c:v",
                                             "libx264", "-pix_fmt", "yuv420p", "-g", "100", "-x264-params", "scenecut=0"});
    const QString keyless = dir.filePath("in/keyless.mp4");
    ASSERT_EQ(test::runProgram("ffmpeg", {"-v", "error", "-i", "file:" + whole, "-c", "copy", "-bsf:v",
                                          "filter_units=remove_types=5", "file:" + keyless}),
              0);
    QByteArray frames;
    test::runProgram("ffmpeg", {"-v", "quiet", "-i", "file:" + keyless, "-f", "framecrc", "-"}, &frames);
    ASSERT_FALSE(frames.contains("0,")) << frames.constData();
    placedBase = QStringLiteral("keyless");
    for (const VideoTarget target : {VideoTarget::mov, VideoTarget::webm}) {
        try {
            convertVideo(file(keyless, FileCategory::video), target, context, work);
            ADD_FAILURE() << "converted";
        } catch (...) {
            EXPECT_EQ(jobFailure(std::current_exception()).message, "This file has no frames to convert");
        }
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

// A WMA whose packets overlap by a few milliseconds: FFmpeg says its time runs backwards at
// every packet, and the sound is whole. Its results last what the source does.
TEST_F(MediaConversion, ASoundWhoseTimeOverlapsAndStaysWholeConverts)
{
    const QString source = dir.filePath("in/overlapping.wma");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/wma-overlapping-packets.wma"), source));
    for (const AudioTarget target : {AudioTarget::mp3, AudioTarget::m4a, AudioTarget::ogg, AudioTarget::opus}) {
        placedBase = QStringLiteral("overlapping-") + audioTargetFileExtension(target);
        const QString result = convertAudio(file(source, FileCategory::audio), target, context, work).toLocalFile();
        EXPECT_NEAR(duration(result), 3.712, 0.1) << result.toStdString();
    }
}

// A WAV's channel mask may name one speaker ("front left") for a mono sound: AAC and Opus take
// only mono for one channel.
TEST_F(MediaConversion, AMonoSoundOfAnotherLayoutTakesEveryTarget)
{
    const QString source = make("left.wav", {"-f", "lavfi", "-i", "sine=duration=1", "-af", "pan=FL|c0=c0", "-c:a",
                                             "pcm_s16le"});
    ASSERT_EQ(stream(source, "a:0", "channel_layout"), "1 channels (FL)");
    for (const AudioTarget target : {AudioTarget::m4a, AudioTarget::m4r, AudioTarget::opus, AudioTarget::mp3,
                                     AudioTarget::flac, AudioTarget::ogg}) {
        placedBase = QStringLiteral("left-") + audioTargetFileExtension(target);
        const QString result = convertAudio(file(source, FileCategory::audio), target, context, work).toLocalFile();
        EXPECT_EQ(stream(result, "a:0", "channels"), "1") << result.toStdString();
        EXPECT_NEAR(duration(result), 1.0, 0.1) << result.toStdString();
    }
}

// A sound that decodes to not one sample gives a header alone: no result, but a sentence.
TEST_F(MediaConversion, ASoundThatDecodesToNothingIsNoResult)
{
    const QString source = dir.filePath("in/short.dsf");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/dsd-three-milliseconds.dsf"), source));
    placedBase = QStringLiteral("short");
    for (const AudioTarget target : {AudioTarget::wav, AudioTarget::flac, AudioTarget::aiff}) {
        EXPECT_EQ(message([&] { convertAudio(file(source, FileCategory::audio), target, context, work); }),
                  QStringLiteral("This file has no usable audio or video"));
    }
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

TEST(MediaResultLength, ShortIsCutOffAndLongIsAtMostAGroupOfPictures)
{
    struct Case {
        double asked;
        double found;
        bool fits;
    };
    const Case cases[] = {
        {10.0, 10.0, true},   {10.0, 9.01, true},  {10.0, 8.99, false}, {100.0, 90.5, true}, {100.0, 89.0, false},
        {0.5, 0.0, true},     {3.0, 1.0, false},   {10.0, 19.9, true},  {10.0, 20.5, false}, {200.0, 219.0, true},
        {200.0, 221.0, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(mediaDurationFits(c.asked, c.found), c.fits) << c.asked << " s asked, " << c.found << " s found";
}

// The file lasts as long as its picture; its sound, and so the sound taken from it, less.
TEST_F(MediaConversion, ASoundEndingBeforeThePictureIsNoCutOffResult)
{
    const QString source = make("early.mp4", {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=6", "-f",
                                              "lavfi", "-i", "sine=duration=2", "-c:v", "libx264", "-pix_fmt",
                                              "yuv420p", "-c:a", "aac"});
    placedBase = QStringLiteral("early");
    const QString wav = convertAudio(file(source, FileCategory::video), AudioTarget::wav, context, work).toLocalFile();
    EXPECT_NEAR(duration(wav), 2.0, 0.1);
}

TEST_F(MediaConversion, ACutOrScrambledInputFailsThoughFFmpegCarriesOn)
{
    const QString whole = make("whole.mkv", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=3",
                                             "-f", "lavfi", "-i", "sine=duration=3", "-c:v", "libx264",
                                             "-pix_fmt", "yuv420p", "-c:a", "flac", "-shortest"});
    QFile source(whole);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    // Half of the file, as an interrupted download leaves it: FFmpeg writes what it read.
    const QString cut = dir.filePath("in/cut.mkv");
    QFile half(cut);
    ASSERT_TRUE(half.open(QIODevice::WriteOnly));
    ASSERT_EQ(half.write(bytes.left(bytes.size() / 2)), bytes.size() / 2);
    half.close();
    // A sound whose frames were scrambled on an old disk.
    const QString tone = make("tone.flac", {"-f", "lavfi", "-i", "sine=duration=3"});
    QFile flac(tone);
    ASSERT_TRUE(flac.open(QIODevice::ReadWrite));
    QByteArray sound = flac.readAll();
    for (const double at : {0.3, 0.6, 0.85}) {
        const qsizetype from = qsizetype(sound.size() * at);
        for (qsizetype i = from; i < from + 16; ++i)
            sound[i] = char(sound[i] ^ 0x5a);
    }
    ASSERT_TRUE(flac.seek(0));
    ASSERT_EQ(flac.write(sound), sound.size());
    flac.close();

    const QString damaged = "This file is damaged or not in a supported format";
    EXPECT_EQ(message([&] { convertVideo(file(cut, FileCategory::video), VideoTarget::mp4, context, work); }), damaged);
    EXPECT_EQ(message([&] { convertAudio(file(tone, FileCategory::audio), AudioTarget::mp3, context, work); }), damaged);
    // Nothing is placed; the job clears its work folder.
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
    // The whole file converts.
    EXPECT_EQ(message([&] { convertVideo(file(whole, FileCategory::video), VideoTarget::mp4, context, work); }), "");
}

// An M4A cut right where its sound begins holds an index and no packets: FFmpeg writes a header
// alone (a 78-byte WAV) with no word. Lossless targets are read back as the lossy ones are, and
// a result without sound is no result.
TEST_F(MediaConversion, ASoundWithNothingInItIsNoResultForAnyTarget)
{
    const QString whole = make("whole.m4a", {"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "aac", "-movflags", "+faststart"});
    const QByteArray bytes = test::readFile(whole);
    const qsizetype data = bytes.indexOf("mdat");
    ASSERT_GT(data, 0);
    const QString cut = test::writeFile(dir.filePath("in/cut.m4a"), bytes.left(data + 4));
    placedBase = QStringLiteral("cut");
    for (AudioTarget target : {AudioTarget::wav, AudioTarget::aiff, AudioTarget::caf, AudioTarget::flac,
                               AudioTarget::mp3, AudioTarget::m4a}) {
        const int index = int(target);
        try {
            convertAudio(file(cut, FileCategory::audio), target, context, work);
            ADD_FAILURE() << "target " << index << ": an empty result was placed";
        } catch (const EngineError& e) {
            EXPECT_FALSE(e.message().isEmpty());
        }
        EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty()) << "target " << index;
    }
}

// A VBR MP3 whose Xing header counts twice the frames and bytes it holds plays everywhere;
// FFmpeg only warns that the size and the length disagree. Its frames run whole to the end, so
// it converts, lasting what its frames last. The same file cut inside a frame is still damaged.
TEST_F(MediaConversion, AVbrMp3WhoseHeaderMiscountsIsReadByItsFrames)
{
    const QString vbr = make("vbr.mp3", {"-f", "lavfi", "-i", "sine=duration=4", "-c:a", "libmp3lame", "-q:a", "4"});
    QByteArray bytes = test::readFile(vbr);
    const qsizetype xing = bytes.indexOf("Xing");
    ASSERT_GT(xing, 0);
    const auto doubled = [&](qsizetype at) {
        quint32 value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | uchar(bytes[at + i]);
        value *= 2;
        for (int i = 3; i >= 0; --i, value >>= 8)
            bytes[at + i] = char(value & 0xFF);
    };
    doubled(xing + 8);  // frames
    doubled(xing + 12); // bytes
    const QString miscounted = test::writeFile(dir.filePath("in/miscounted.mp3"), bytes);
    const QString cut = test::writeFile(dir.filePath("in/cut.mp3"), bytes.left(bytes.size() / 2 + 77));

    placedBase = QStringLiteral("miscounted");
    const MediaInfo info = probeMediaInfo(QUrl::fromLocalFile(miscounted), {});
    ASSERT_TRUE(info.duration);
    EXPECT_NEAR(*info.duration, 4.0, 0.2);
    const QString wav = convertAudio(file(miscounted, FileCategory::audio), AudioTarget::wav, context, work).toLocalFile();
    EXPECT_NEAR(duration(wav), 4.0, 0.2);

    placedBase = QStringLiteral("cut");
    EXPECT_EQ(message([&] { convertAudio(file(cut, FileCategory::audio), AudioTarget::wav, context, work); }),
              "This file is damaged or not in a supported format");
}

// Offers that could only fail fit the encoder instead: a DSD-rate sound (352.8 kHz) goes into
// Vorbis at 176.4 kHz, a four-channel AIFF into Opus in its mapping family's layout, and Speex
// into AAC.
TEST_F(MediaConversion, EncodersTakeRatesAndLayoutsTheyCanHold)
{
    const QString high = make("high.wav", {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=352800", "-c:a",
                                           "pcm_s24le"});
    placedBase = QStringLiteral("high");
    const QString ogg = convertAudio(file(high, FileCategory::audio), AudioTarget::ogg, context, work).toLocalFile();
    EXPECT_EQ(test::readFile(ogg).left(4), "OggS");
    const QByteArray rate = [&] {
        QByteArray out;
        test::runProgram("ffprobe", {"-v", "error", "-show_entries", "stream=sample_rate", "-of", "csv=p=0",
                                     "file:" + ogg}, &out);
        return out.trimmed();
    }();
    EXPECT_EQ(rate, "176400");

    const QString four = make("four.aiff", {"-f", "lavfi", "-i", "sine=duration=1", "-af",
                                            "pan=4.0|c0=c0|c1=c0|c2=c0|c3=c0", "-c:a", "pcm_s16be"});
    placedBase = QStringLiteral("four");
    const QString opus = convertAudio(file(four, FileCategory::audio), AudioTarget::opus, context, work).toLocalFile();
    QByteArray channels;
    test::runProgram("ffprobe", {"-v", "error", "-show_entries", "stream=channels", "-of", "csv=p=0", "file:" + opus},
                     &channels);
    EXPECT_EQ(channels.trimmed(), "4");

    // Speex' decoder names no layout, which AAC wants.
    const QString speex = make("voice.spx", {"-f", "lavfi", "-i", "sine=duration=1:sample_rate=16000", "-c:a",
                                             "libspeex"});
    placedBase = QStringLiteral("voice");
    const QString m4a = convertAudio(file(speex, FileCategory::audio), AudioTarget::m4a, context, work).toLocalFile();
    EXPECT_NEAR(duration(m4a), 1.0, 0.2);
}

// Headers that promise sound the packets do not hold: an iTunes MP3 whose frames are the
// encoder's header and its delay, an audiobook's boxes kept without their data. FFmpeg decodes
// neither to one sample; every target says so, not that the conversion failed.
TEST_F(MediaConversion, SoundOnlyPromisedByItsHeadersIsSaidToBeNone)
{
    for (const char* name : {"itunes-encoder-delay.mp3", "chapters-without-data.m4b"}) {
        SCOPED_TRACE(name);
        const QString source = dir.filePath(QStringLiteral("in/") + QString::fromLatin1(name));
        ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/") + QString::fromLatin1(name),
                                source));
        QByteArray decoded;
        ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "quiet", "-i", "file:" + source, "-map",
                                                              "0:a:0", "-f", "s16le", "-"},
                                   &decoded),
                  0);
        EXPECT_TRUE(decoded.isEmpty()) << decoded.size() << " bytes decode from " << name;
        placedBase = QFileInfo(source).completeBaseName();
        for (const AudioTarget target : allAudioTargets()) {
            EXPECT_EQ(message([&] { convertAudio(file(source, FileCategory::audio), target, context, work); }),
                      QStringLiteral("This file has no usable audio or video"))
                << audioTargetRawValue(target).toStdString();
        }
    }
    // What the engine wrote in its work folder goes with the job's.
    EXPECT_TRUE(QDir(dir.filePath("out")).isEmpty());
}

// MPEG-4 ALS in MP4, as the reference encoder writes it: 16-bit samples keep all 1.43 s in
// every target; FFmpeg's decoder stops early on floating-point ones, which fail whole.
TEST_F(MediaConversion, AnAlsTrackKeepsItsWholeLengthOrFails)
{
    const QString whole = dir.filePath(QStringLiteral("in/als.mp4"));
    const QString floating = dir.filePath(QStringLiteral("in/als-float.mp4"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/als-integer.mp4"), whole));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/als-float.mp4"), floating));
    ASSERT_EQ(stream(whole, "a:0", "codec_name"), "mp4als");
    placedBase = QStringLiteral("als");
    for (const AudioTarget target : {AudioTarget::wav, AudioTarget::flac, AudioTarget::aiff, AudioTarget::alac,
                                     AudioTarget::caf, AudioTarget::ogg, AudioTarget::opus}) {
        SCOPED_TRACE(audioTargetRawValue(target).toStdString());
        placedBase = QStringLiteral("als-") + audioTargetRawValue(target);
        const QString result = convertAudio(file(whole, FileCategory::audio), target, context, work).toLocalFile();
        EXPECT_NEAR(duration(result), 1.43, 0.03);
        EXPECT_EQ(stream(result, "a:0", "channels"), "2");
        // Decoded to its end, not just declared.
        QByteArray pcm;
        ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + result, "-map",
                                                              "0:a:0", "-ac", "1", "-ar", "22050", "-f", "s16le", "-"},
                                   &pcm),
                  0);
        EXPECT_NEAR(double(pcm.size()) / 2 / 22050, 1.43, 0.03);

        placedBase = QStringLiteral("float-") + audioTargetRawValue(target);
        EXPECT_EQ(message([&] { convertAudio(file(floating, FileCategory::audio), target, context, work); }),
                  QStringLiteral("This file is damaged or not in a supported format"));
    }
    const QStringList placed = QDir(dir.filePath("out")).entryList(QDir::Files);
    EXPECT_EQ(placed.filter(QStringLiteral("float-")), QStringList());
}
