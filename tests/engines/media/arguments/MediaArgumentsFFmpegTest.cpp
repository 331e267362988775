#include "engines/media/arguments/EncoderArguments.h"
#include "engines/media/arguments/StreamCopyArguments.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/operations/Capabilities.h"
#include "platform/processes/FFmpegInvocation.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QHash>
#include <QTemporaryDir>

using namespace qv;

namespace {

// What only FFmpeg itself can tell: that the arguments we build make the files we mean.
class MediaArgumentsFFmpeg : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
    }

    QUrl url(const QString& name) const { return QUrl::fromLocalFile(dir.filePath(name)); }

    // Runs ffmpeg quietly with the arguments after our own prefix's options.
    static void ffmpeg(const QStringList& arguments)
    {
        const int status = test::runProgram(
            QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"} + arguments);
        ASSERT_EQ(status, 0) << arguments.join(' ').toStdString();
    }

    static QString audioCodec(const QUrl& file)
    {
        QByteArray output;
        test::runProgram(QStringLiteral("ffprobe"),
                         {"-v", "error", "-select_streams", "a:0", "-show_entries", "stream=codec_name", "-of",
                          "default=nw=1:nk=1", file.toLocalFile()},
                         &output);
        return QString::fromUtf8(output).trimmed();
    }

    static MediaInfo probe(const QUrl& file) { return probeMediaInfo(file, {}); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(MediaArgumentsFFmpeg, DeepFLACKeeps24BitsInWAVAndAIFF)
{
    const QUrl flac = url("deep.flac");
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "flac", "-sample_fmt", "s32", "-bits_per_raw_sample",
            "24", ffmpegFileOperand(flac.toLocalFile())});
    const QUrl mp3 = url("lossy.mp3");
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.2", "-c:a", "libmp3lame", ffmpegFileOperand(mp3.toLocalFile())});

    const MediaInfo deep = probe(flac);
    ASSERT_TRUE(deep.audio);
    EXPECT_EQ(deep.audio->bitDepth, 24);
    const MediaInfo lossy = probe(mp3);
    ASSERT_TRUE(lossy.audio);

    const SettingsSnapshot settings;
    struct Row {
        const MediaInfo& info;
        const QUrl& input;
        AudioTarget target;
        const char* name;
        const char* codec;
    };
    const QList<Row> rows{
        {deep, flac, AudioTarget::wav, "deep.wav", "pcm_s24le"},
        {deep, flac, AudioTarget::aiff, "deep.aiff", "pcm_s24be"},
        {lossy, mp3, AudioTarget::wav, "lossy.wav", "pcm_s16le"},
        {lossy, mp3, AudioTarget::aiff, "lossy.aiff", "pcm_s16be"},
    };
    for (const Row& row : rows) {
        const QUrl output = url(row.name);
        ffmpeg(QStringList{"-i", ffmpegFileOperand(row.input.toLocalFile())}
               + audioTargetArgs(row.target, row.info, settings, {})
               + QStringList{ffmpegFileOperand(output.toLocalFile())});
        EXPECT_EQ(audioCodec(output), row.codec) << row.name;
    }
}

// 5.1 has no -display_rotation: the rotate tag must carry the same value and turn the same way.
TEST_F(MediaArgumentsFFmpeg, RotationTagTurnsClockwiseAndMatroskaStandsUpright)
{
    const QUrl clip = url("clip.mp4");
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.3", "-c:v", "libx264", "-pix_fmt", "yuv420p",
            ffmpegFileOperand(clip.toLocalFile())});

    const QUrl turned = url("turned.mp4");
    ffmpeg(rotationMetadataArgs(clip, turned, 90, "mp4"));
    const MediaInfo info = probe(turned);
    ASSERT_TRUE(info.video);
    EXPECT_EQ(info.video->rotation, 90);

    const QUrl back = url("back.mp4");
    ffmpeg(rotationMetadataArgs(turned, back, 0, "mp4"));
    EXPECT_EQ(probe(back).video->rotation, 0);

    // Copied into Matroska the turn would be lost; encoded, the picture itself is upright.
    const QUrl mkv = url("turned.mkv");
    ffmpeg(videoConvertArgs(turned, mkv, VideoTarget::mkv, info, {}, true));
    const MediaInfo upright = probe(mkv);
    ASSERT_TRUE(upright.video);
    EXPECT_EQ(upright.video->codec, "h264");
    EXPECT_EQ(upright.video->width, 48);
    EXPECT_EQ(upright.video->height, 64);
    EXPECT_EQ(upright.video->rotation, 0);
}

// Debian's 5.1 must accept every target's encoder options and write the codec the target names.
TEST_F(MediaArgumentsFFmpeg, EveryVideoTargetEncodes)
{
    const QUrl clip = url("clip.mov");
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=0.3", "-f", "lavfi", "-i",
            "sine=duration=0.3", "-c:v", "mjpeg", "-c:a", "pcm_s16le", "-shortest",
            ffmpegFileOperand(clip.toLocalFile())});
    const MediaInfo info = probe(clip);
    ASSERT_TRUE(info.video);

    struct Row {
        VideoTarget target;
        VideoCodecChoice codec;
        const char* video;
        const char* audio;
    };
    const QList<Row> rows{
        {VideoTarget::mp4, VideoCodecChoice::h264, "h264", "aac"},
        {VideoTarget::mkv, VideoCodecChoice::hevc, "hevc", "pcm_s16le"},
        {VideoTarget::webm, VideoCodecChoice::h264, "vp9", "opus"},
        {VideoTarget::avi, VideoCodecChoice::h264, "mpeg4", "mp3"},
        {VideoTarget::gif, VideoCodecChoice::h264, "gif", ""},
        {VideoTarget::webp, VideoCodecChoice::h264, "webp", ""},
        {VideoTarget::hevc, VideoCodecChoice::h264, "hevc", "aac"},
        {VideoTarget::prores, VideoCodecChoice::h264, "prores", "pcm_s16le"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(videoTargetLabel(row.target).toStdString());
        VideoSettings settings;
        settings.codec = row.codec;
        settings.preset = QualityPreset::small;
        const QUrl output = url("out-" + videoTargetLabel(row.target) + "." + videoTargetFileExtension(row.target));
        // mjpeg and PCM would be copied into MKV: encoding is what is checked here.
        ffmpeg(videoConvertArgs(clip, output, row.target, info, settings, false));
        QByteArray codecs;
        test::runProgram(QStringLiteral("ffprobe"),
                         // quiet: 5.1's decoder cannot read animated WebP frames and says so.
                         {"-v", "quiet", "-show_entries", "stream=codec_name", "-of", "default=nw=1:nk=1",
                          output.toLocalFile()},
                         &codecs);
        const QStringList found = QString::fromUtf8(codecs).split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(found.isEmpty());
        EXPECT_EQ(found.value(0), row.video);
        EXPECT_EQ(found.value(1), row.audio);
    }
}

TEST_F(MediaArgumentsFFmpeg, EveryAudioTargetEncodes)
{
    const QUrl tone = url("tone.wav");
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=0.3", ffmpegFileOperand(tone.toLocalFile())});
    const MediaInfo info = probe(tone);
    const QHash<AudioTarget, std::pair<QString, QString>> expected{
        {AudioTarget::mp3, {"mp3", "mp3"}},    {AudioTarget::m4a, {"ipod", "aac"}},
        {AudioTarget::alac, {"ipod", "alac"}}, {AudioTarget::wav, {"wav", "pcm_s16le"}},
        {AudioTarget::aiff, {"aiff", "pcm_s16be"}}, {AudioTarget::flac, {"flac", "flac"}},
        {AudioTarget::ogg, {"ogg", "vorbis"}}, {AudioTarget::opus, {"opus", "opus"}},
        {AudioTarget::caf, {"caf", "pcm_s16le"}}, {AudioTarget::m4r, {"ipod", "aac"}},
    };
    for (AudioTarget target : allAudioTargets()) {
        const auto& [muxer, codec] = expected.value(target);
        const QUrl output = url("out-" + audioTargetRawValue(target) + "." + audioTargetFileExtension(target));
        ffmpeg(QStringList{"-i", ffmpegFileOperand(tone.toLocalFile())}
               + audioTargetArgs(target, info, SettingsSnapshot{}, {})
               + QStringList{"-f", muxer, ffmpegFileOperand(output.toLocalFile())});
        EXPECT_EQ(audioCodec(output), codec) << audioTargetRawValue(target).toStdString();
    }
}
