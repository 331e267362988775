#include "engines/media/probe/FFmpegProbeParser.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

// What Debian's FFmpeg 5.1 prints for "ffmpeg -hide_banner -i FILE".
const char* const h264AacMov = R"(Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'file:a.mov':
  Metadata:
    major_brand     : qt  
    encoder         : Lavf59.27.100
  Duration: 00:00:00.50, start: 0.000000, bitrate: 127 kb/s
  Stream #0:0[0x1]: Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive), 64x48 [SAR 1:1 DAR 4:3], 24 kb/s, 10 fps, 10 tbr, 10240 tbn (default)
    Metadata:
      handler_name    : VideoHandler
  Stream #0:1[0x2]: Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, mono, fltp, 72 kb/s (default)
    Metadata:
      handler_name    : SoundHandler
At least one output file must be specified
)";

const char* const flac24 = R"(Input #0, flac, from 'file:b.flac':
  Metadata:
    encoder         : Lavf59.27.100
  Duration: 00:00:00.30, start: 0.000000, bitrate: 329 kb/s
  Stream #0:0: Audio: flac, 48000 Hz, mono, s32 (24 bit)
At least one output file must be specified
)";

const char* const rotatedMp4 = R"(Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'file:c.mp4':
  Duration: 00:00:00.50, start: 0.000000, bitrate: 39 kb/s
  Stream #0:0[0x1](und): Video: h264 (High) (avc1 / 0x31637661), yuv420p(progressive), 64x48 [SAR 1:1 DAR 4:3], 24 kb/s, 10 fps, 10 tbr, 10240 tbn (default)
    Metadata:
      handler_name    : VideoHandler
    Side data:
      displaymatrix: rotation of -90.00 degrees
At least one output file must be specified
)";

const char* const mp3WithCover = R"(Input #0, mp3, from 'file:d.mp3':
  Metadata:
    encoder         : Lavf59.27.100
  Duration: 00:00:00.34, start: 0.025056, bitrate: 72 kb/s
  Stream #0:0: Audio: mp3, 44100 Hz, mono, fltp, 64 kb/s
  Stream #0:1: Video: png, rgb24(pc), 32x32 [SAR 1:1 DAR 1:1], 90k tbr, 90k tbn (attached pic)
    Metadata:
      comment         : Other
    Side data:
      displaymatrix: rotation of -90.00 degrees
At least one output file must be specified
)";

const char* const textAsMp4 = R"([mov,mp4,m4a,3gp,3g2,mj2 @ 0x562f04167880] Format mov,mp4,m4a,3gp,3g2,mj2 detected only with low score of 1, misdetection possible!
[mov,mp4,m4a,3gp,3g2,mj2 @ 0x562f04167880] moov atom not found
file:e.mp4: Invalid data found when processing input
)";

MediaInfo parse(const char* text)
{
    return parseFFmpegProbeOutput(QString::fromUtf8(text));
}

QString streamLine(const char* kind, const char* details)
{
    return QStringLiteral("  Stream #0:0: %1: %2\n").arg(QLatin1StringView(kind), QLatin1StringView(details));
}

} // namespace

TEST(FFmpegProbeParser, ReadsAnH264AacMovie)
{
    MediaInfo expected;
    expected.duration = 0.5;
    expected.bitrate = 127;
    expected.container = QStringLiteral("mov,mp4,m4a,3gp,3g2,mj2");
    expected.video = VideoStreamInfo{"h264", 64, 48, 10.0, 0, QStringLiteral("yuv420p"), 24};
    expected.audio = AudioStreamInfo{"aac", 44100, 1, 72, std::nullopt};
    expected.audioStreamCount = 1;
    EXPECT_EQ(parse(h264AacMov), expected);
}

TEST(FFmpegProbeParser, KeepsTheBitDepthOfIntegerSamplesOnly)
{
    const MediaInfo flac = parse(flac24);
    ASSERT_TRUE(flac.audio);
    EXPECT_EQ(flac.audio->codec, "flac");
    EXPECT_EQ(flac.audio->bitDepth, 24);
    EXPECT_EQ(flac.audio->sampleRate, 48000);
    EXPECT_FALSE(flac.video);
    EXPECT_EQ(flac.container, "flac");

    const struct {
        const char* details;
        std::optional<int> depth;
    } rows[] = {
        {"pcm_s24le ([1][0][0][0] / 0x0001), 44100 Hz, mono, s32 (24 bit), 1058 kb/s", 24},
        {"alac (alac / 0x63616C61), 44100 Hz, stereo, s32p (24 bit), 844 kb/s (default)", 24},
        {"pcm_s24be, 48000 Hz, stereo, s24, 2304 kb/s", 24},
        {"pcm_s32le, 48000 Hz, stereo, s32, 3072 kb/s", 32},
        {"pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, stereo, s16, 1411 kb/s", 16},
        {"flac, 44100 Hz, stereo, s16", 16},
        {"pcm_u8, 8000 Hz, mono, u8, 64 kb/s", 8},
        {"aac (LC), 48000 Hz, stereo, fltp, 128 kb/s", std::nullopt},
        {"mp3, 44100 Hz, stereo, fltp, 320 kb/s", std::nullopt},
        {"pcm_f32le, 48000 Hz, stereo, flt, 3072 kb/s", std::nullopt},
    };
    for (const auto& row : rows) {
        const MediaInfo info = parseFFmpegProbeOutput(streamLine("Audio", row.details));
        ASSERT_TRUE(info.audio) << row.details;
        EXPECT_EQ(info.audio->bitDepth, row.depth) << row.details;
    }
}

TEST(FFmpegProbeParser, TurnsTheDisplayMatrixIntoAClockwiseRotation)
{
    const MediaInfo phone = parse(rotatedMp4);
    ASSERT_TRUE(phone.video);
    EXPECT_EQ(phone.video->rotation, 90);
    EXPECT_EQ(phone.video->width, 64);
    EXPECT_EQ(phone.video->height, 48);

    const struct {
        const char* degrees;
        int rotation;
    } rows[] = {{"-90.00", 90}, {"90.00", 270}, {"180.00", 180}, {"-180.00", 180}, {"-0.50", 1}, {"0.00", 0}};
    for (const auto& row : rows) {
        const QString text = streamLine("Video", "h264, yuv420p, 64x48, 10 fps")
            + QStringLiteral("    Side data:\n      displaymatrix: rotation of %1 degrees\n").arg(QLatin1StringView(row.degrees));
        EXPECT_EQ(parseFFmpegProbeOutput(text).video->rotation, row.rotation) << row.degrees;
    }
}

TEST(FFmpegProbeParser, RotationBelongsOnlyToTheFirstVideoStream)
{
    const QString rotation = QStringLiteral("    displaymatrix: rotation of -90.00 degrees\n");
    const QString video = streamLine("Video", "h264, yuv420p, 64x48");
    EXPECT_EQ(parseFFmpegProbeOutput(rotation + video).video->rotation, 0);
    EXPECT_EQ(parseFFmpegProbeOutput(video + streamLine("Audio", "aac, 44100 Hz, stereo") + rotation).video->rotation, 0);
    EXPECT_EQ(parseFFmpegProbeOutput(video + streamLine("Video", "png, rgb24, 32x32 (attached pic)") + rotation)
                  .video->rotation,
              0);
}

TEST(FFmpegProbeParser, ACoverPictureIsNoVideo)
{
    const MediaInfo song = parse(mp3WithCover);
    EXPECT_FALSE(song.video);
    ASSERT_TRUE(song.audio);
    EXPECT_EQ(song.audio->codec, "mp3");
    EXPECT_EQ(song.audio->bitrate, 64);
    EXPECT_EQ(song.audio->bitDepth, std::nullopt);
    EXPECT_EQ(song.audioStreamCount, 1);

    // A cover before the movie's own stream does not take its place.
    const MediaInfo movie = parseFFmpegProbeOutput(streamLine("Video", "mjpeg, yuvj420p, 600x600 (attached pic)")
                                                   + streamLine("Video", "hevc (Main), yuv420p10le, 1920x1080, 30 fps"));
    ASSERT_TRUE(movie.video);
    EXPECT_EQ(movie.video->codec, "hevc");
    EXPECT_EQ(movie.video->pixelFormat, "yuv420p10le");
}

TEST(FFmpegProbeParser, AnythingElseGivesNoStream)
{
    EXPECT_EQ(parse(textAsMp4), MediaInfo{});
    EXPECT_EQ(parse(""), MediaInfo{});
    const MediaInfo data = parseFFmpegProbeOutput(streamLine("Data", "none (rtp  / 0x20707472), 0 kb/s"));
    EXPECT_FALSE(data.video);
    EXPECT_FALSE(data.audio);
}

TEST(FFmpegProbeParser, ReadsDurationsBitRatesAndStreamDetails)
{
    MediaInfo info = parseFFmpegProbeOutput(QStringLiteral("  Duration: 01:02:03.50, start: 0.000000, bitrate: N/A\n"));
    EXPECT_EQ(info.duration, 3723.5);
    EXPECT_FALSE(info.bitrate);
    info = parseFFmpegProbeOutput(QStringLiteral("  Duration: N/A, start: 0.000000, bitrate: 2500 kb/s\n"));
    EXPECT_FALSE(info.duration);
    EXPECT_EQ(info.bitrate, 2500);

    const MediaInfo hd = parseFFmpegProbeOutput(streamLine(
        "Video", "h264 (High) (avc1 / 0x31637661), yuv420p(tv, bt709), 1920x1080 [SAR 1:1 DAR 16:9], 5000 kb/s, 29.97 fps, 29.97 tbr"));
    EXPECT_EQ(hd.video, (VideoStreamInfo{"h264", 1920, 1080, 29.97, 0, QStringLiteral("yuv420p"), 5000}));

    const struct {
        const char* layout;
        std::optional<int> channels;
    } layouts[] = {{"mono", 1}, {"stereo", 2}, {"5.1(side)", 6}, {"7.1", 8}, {"quad", std::nullopt}};
    for (const auto& row : layouts) {
        const QString details = QStringLiteral("aac (LC), 48000 Hz, %1, fltp, 128 kb/s").arg(QLatin1StringView(row.layout));
        const MediaInfo sound = parseFFmpegProbeOutput(streamLine("Audio", details.toLatin1().constData()));
        EXPECT_EQ(sound.audio->channels, row.channels) << row.layout;
        EXPECT_EQ(sound.audio->bitrate, 128);
    }

    const MediaInfo many = parseFFmpegProbeOutput(
        streamLine("Audio", "aac, 48000 Hz, stereo") + streamLine("Audio", "ac3, 48000 Hz, 5.1(side)")
        + streamLine("Audio", "mp3, 44100 Hz, mono") + streamLine("Subtitle", "subrip")
        + streamLine("Subtitle", "mov_text (tx3g / 0x67337874), 0 kb/s"));
    EXPECT_EQ(many.audioStreamCount, 3);
    EXPECT_EQ(many.audio->codec, "aac");
    EXPECT_EQ(many.subtitleCodecs, (QStringList{"subrip", "mov_text"}));
}

TEST(FFmpegProbeParser, FirstMatchCapturesGivesEveryGroupOfTheFirstMatch)
{
    EXPECT_EQ(firstMatchCaptures(QRegularExpression("(a)(x)?(b)"), "cab ab"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(firstMatchCaptures(QRegularExpression("ab"), "cab"), QStringList{});
    EXPECT_FALSE(firstMatchCaptures(QRegularExpression("ab"), "ba"));
    EXPECT_FALSE(firstMatchCaptures(QRegularExpression("(a"), "(a"));
}
