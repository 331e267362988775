#include "engines/media/arguments/EncoderArguments.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

MediaInfo clip(const QString& video, int width, int height, std::optional<double> fps = 30,
               const std::optional<QString>& audio = QStringLiteral("aac"))
{
    MediaInfo info;
    info.video = VideoStreamInfo{};
    info.video->codec = video;
    info.video->width = width;
    info.video->height = height;
    info.video->fps = fps;
    info.video->pixelFormat = QStringLiteral("yuv420p");
    if (audio) {
        info.audio = AudioStreamInfo{};
        info.audio->codec = *audio;
    }
    return info;
}

MediaInfo sound(const QString& codec, std::optional<int> bitDepth = std::nullopt)
{
    MediaInfo info;
    info.audio = AudioStreamInfo{};
    info.audio->codec = codec;
    info.audio->bitDepth = bitDepth;
    return info;
}

const QUrl in = QUrl::fromLocalFile("/in/a b.mov");
const QUrl out = QUrl::fromLocalFile("/out/a b.mp4");

} // namespace

TEST(EncoderArguments, EffectiveVideoSettings)
{
    SettingsSnapshot settings;
    settings.videoCodec = VideoCodecChoice::hevc;
    settings.videoPreset = QualityPreset::small;
    settings.videoMaxResolution = 720;
    settings.videoAudioBitrate = 128;
    settings.hardwareEncoding = true;

    VideoSettings fromSettings = effectiveVideoSettings(settings, {});
    EXPECT_EQ(fromSettings, (VideoSettings{VideoCodecChoice::hevc, QualityPreset::small, 720, 128, true}));

    OperationOptions options;
    options.videoCodec = VideoCodecChoice::h264;
    options.videoPreset = QualityPreset::high;
    options.maxResolution = 480;
    options.audioBitrate = 256;
    EXPECT_EQ(effectiveVideoSettings(settings, options),
              (VideoSettings{VideoCodecChoice::h264, QualityPreset::high, 480, 256, true}));

    options.maxResolution = 0;
    EXPECT_EQ(effectiveVideoSettings(settings, options).maxResolution, std::nullopt);
    settings.videoMaxResolution = 0;
    EXPECT_EQ(effectiveVideoSettings(settings, {}).maxResolution, std::nullopt);
    settings.videoMaxResolution = -5;
    EXPECT_EQ(effectiveVideoSettings(settings, {}).maxResolution, std::nullopt);
}

TEST(EncoderArguments, VideoBitrate)
{
    MediaInfo hd = clip("h264", 1920, 1080, 30);
    EXPECT_EQ(videoBitrate(MediaInfo{}, QualityPreset::medium, std::nullopt), 4000);
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt), 4976);
    EXPECT_EQ(videoBitrate(hd, QualityPreset::small, std::nullopt), 3110);
    EXPECT_EQ(videoBitrate(hd, QualityPreset::high, std::nullopt), 7464);
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt, 0.1), 6220);
    // 1080 shorter side limited to 720: 1280 x 720.
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, 720), 2211);
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, 2000), 4976);

    // Frame rate: unknown counts as 30, above 30 half counts, above 120 stays at 75.
    EXPECT_EQ(videoBitrate(clip("h264", 1920, 1080, std::nullopt), QualityPreset::medium, std::nullopt), 4976);
    EXPECT_EQ(videoBitrate(clip("h264", 1920, 1080, 24), QualityPreset::medium, std::nullopt), 3981);
    EXPECT_EQ(videoBitrate(clip("h264", 1920, 1080, 60), QualityPreset::medium, std::nullopt), 7464);
    EXPECT_EQ(videoBitrate(clip("h264", 1920, 1080, 240), QualityPreset::medium, std::nullopt), 12441);

    // At least 300.
    EXPECT_EQ(videoBitrate(clip("h264", 64, 48), QualityPreset::small, std::nullopt), 300);

    // The source's bitrate caps at 1.5 times, never below 800.
    hd.video->bitrate = 2000;
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt), 3000);
    hd.video->bitrate = 400;
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt), 800);
    hd.video->bitrate = std::nullopt;
    hd.bitrate = 2000;
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt), 3000);
    hd.bitrate = 0;
    EXPECT_EQ(videoBitrate(hd, QualityPreset::medium, std::nullopt), 4976);
    MediaInfo tiny = clip("h264", 64, 48);
    tiny.bitrate = 50;
    EXPECT_EQ(videoBitrate(tiny, QualityPreset::small, std::nullopt), 300);
}

TEST(EncoderArguments, VideoCodecArguments)
{
    const MediaInfo hd = clip("h264", 1920, 1080);
    const QStringList h264{"-c:v", "libx264", "-preset", "fast", "-b:v", "4976k", "-profile:v", "high",
                           "-tag:v", "avc1", "-pix_fmt", "yuv420p"};
    for (VideoTarget target : {VideoTarget::mp4, VideoTarget::mov, VideoTarget::mkv})
        for (bool hardware : {false, true})
            EXPECT_EQ(videoCodecArgs(target, hd, VideoCodecChoice::h264, QualityPreset::medium, std::nullopt,
                                     hardware),
                      h264);
    EXPECT_EQ(videoCodecArgs(VideoTarget::mp4, hd, VideoCodecChoice::h264, QualityPreset::medium, 720, true)[5],
              "2211k");

    const QStringList hevcMedium{"-c:v", "libx265", "-preset", "fast", "-crf", "27", "-x265-params",
                                 "log-level=error", "-tag:v", "hvc1", "-pix_fmt", "yuv420p"};
    for (VideoTarget target : {VideoTarget::mp4, VideoTarget::mov, VideoTarget::mkv})
        EXPECT_EQ(videoCodecArgs(target, hd, VideoCodecChoice::hevc, QualityPreset::medium, std::nullopt, true),
                  hevcMedium);
    EXPECT_EQ(videoCodecArgs(VideoTarget::hevc, hd, VideoCodecChoice::h264, QualityPreset::medium, std::nullopt, false),
              hevcMedium);
    EXPECT_EQ(videoCodecArgs(VideoTarget::hevc, hd, VideoCodecChoice::h264, QualityPreset::small, std::nullopt, false)[5],
              "30");
    EXPECT_EQ(videoCodecArgs(VideoTarget::hevc, hd, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, false)[5],
              "24");

    MediaInfo tenBit = clip("hevc", 1920, 1080);
    tenBit.video->pixelFormat = QStringLiteral("yuv420p10le");
    EXPECT_EQ(hevcEncoderArgs(tenBit, QualityPreset::high),
              (QStringList{"-c:v", "libx265", "-preset", "fast", "-crf", "24", "-x265-params", "log-level=error",
                           "-tag:v", "hvc1", "-pix_fmt", "yuv420p10le", "-profile:v", "main10"}));

    EXPECT_EQ(hevcEncoderArgs(tenBit, QualityPreset::small, 2500),
              (QStringList{"-c:v", "libx265", "-preset", "fast", "-b:v", "2500k", "-x265-params", "log-level=error",
                           "-tag:v", "hvc1", "-pix_fmt", "yuv420p10le", "-profile:v", "main10"}));

    EXPECT_EQ(videoCodecArgs(VideoTarget::prores, hd, VideoCodecChoice::hevc, QualityPreset::small, std::nullopt, true),
              (QStringList{"-c:v", "prores_ks", "-profile:v", "standard", "-pix_fmt", "yuv422p10le"}));
    EXPECT_EQ(videoCodecArgs(VideoTarget::avi, hd, VideoCodecChoice::h264, QualityPreset::small, std::nullopt, true),
              (QStringList{"-c:v", "mpeg4", "-vtag", "xvid", "-q:v", "7", "-pix_fmt", "yuv420p"}));
    EXPECT_EQ(videoCodecArgs(VideoTarget::avi, hd, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, true)[5],
              "2");
    EXPECT_EQ(videoCodecArgs(VideoTarget::webm, hd, VideoCodecChoice::h264, QualityPreset::medium, std::nullopt, true),
              (QStringList{"-c:v", "libvpx-vp9", "-crf", "32", "-b:v", "0", "-row-mt", "1", "-deadline", "good",
                           "-cpu-used", "3", "-pix_fmt", "yuv420p"}));
    EXPECT_EQ(videoCodecArgs(VideoTarget::webm, hd, VideoCodecChoice::h264, QualityPreset::small, std::nullopt, true)[3],
              "38");
    EXPECT_EQ(videoCodecArgs(VideoTarget::webm, hd, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, true)[3],
              "26");
    EXPECT_TRUE(videoCodecArgs(VideoTarget::gif, hd, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, true).isEmpty());
    EXPECT_TRUE(videoCodecArgs(VideoTarget::webp, hd, VideoCodecChoice::h264, QualityPreset::high, std::nullopt, true).isEmpty());
}

TEST(EncoderArguments, ScaleFilter)
{
    EXPECT_EQ(scaleFilter(std::nullopt), "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'");
    EXPECT_EQ(scaleFilter(std::nullopt, hevcSmallestSide), "scale='max(16,trunc(iw/2)*2)':'max(16,trunc(ih/2)*2)'");
    EXPECT_EQ(scaleFilter(720),
              "scale='if(gte(iw,ih),-2,min(720,max(2,trunc(iw/2)*2)))':'if(gte(iw,ih),min(720,max(2,trunc(ih/2)*2)),-2)'");
}

TEST(EncoderArguments, AudioForVideo)
{
    struct Row {
        VideoTarget target;
        std::optional<QString> codec;
        QStringList args;
    };
    const QStringList copy{"-c:a", "copy"};
    const QStringList aac{"-c:a", "aac", "-b:a", "160k"};
    const QList<Row> rows{
        {VideoTarget::mp4, std::nullopt, {"-an"}},
        {VideoTarget::prores, std::nullopt, {"-an"}},
        {VideoTarget::mp4, "aac", copy},
        {VideoTarget::mov, "aac", copy},
        {VideoTarget::hevc, "aac", copy},
        {VideoTarget::mp4, "mp3", aac},
        {VideoTarget::hevc, "pcm_s16le", aac},
        {VideoTarget::mkv, "flac", copy},
        {VideoTarget::mkv, "pcm_s24le", copy},
        {VideoTarget::mkv, "pcm_s16be", aac},
        {VideoTarget::webm, "opus", copy},
        {VideoTarget::webm, "vorbis", copy},
        {VideoTarget::webm, "aac", {"-c:a", "libopus", "-b:a", "128k"}},
        {VideoTarget::avi, "mp3", copy},
        {VideoTarget::avi, "aac", {"-c:a", "libmp3lame", "-b:a", "192k"}},
        {VideoTarget::gif, "aac", {"-an"}},
        {VideoTarget::webp, "aac", {"-an"}},
        {VideoTarget::prores, "aac", {"-c:a", "pcm_s16le"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(videoTargetLabel(row.target).toStdString() + " " + row.codec.value_or("none").toStdString());
        EXPECT_EQ(audioArgsForVideo(row.target, clip("h264", 64, 48, 30, row.codec), 160), row.args);
    }
}

TEST(EncoderArguments, AnimatedImageCommandLines)
{
    const MediaInfo info = clip("h264", 1920, 1080);
    const QUrl gif = QUrl::fromLocalFile("/out/a.gif");
    EXPECT_EQ(videoConvertArgs(in, gif, VideoTarget::gif, info, {}, true),
              (QStringList{"-i", "file:/in/a b.mov", "-filter_complex",
                           "fps=15,scale='min(640,iw)':-1:flags=lanczos,split[a][b];[a]palettegen=stats_mode=diff[p];"
                           "[b][p]paletteuse=dither=bayer:bayer_scale=5",
                           "-loop", "0", "-f", "gif", "file:/out/a.gif"}));
    const QUrl webp = QUrl::fromLocalFile("/out/a.webp");
    EXPECT_EQ(videoConvertArgs(in, webp, VideoTarget::webp, info, {}, true),
              (QStringList{"-i", "file:/in/a b.mov", "-vf", "fps=15,scale='min(640,iw)':-1:flags=lanczos", "-an",
                           "-c:v", "libwebp_anim", "-quality", "75", "-loop", "0", "-f", "webp",
                           "file:/out/a.webp"}));
}

TEST(EncoderArguments, VideoConvertCopiesWhenItCan)
{
    MediaInfo info = clip("hevc", 1920, 1080);
    info.subtitleCodecs = {"subrip"};
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::mp4, info, {}, true),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a?", "-map", "0:s?", "-c:s",
                           "mov_text", "-c:v", "copy", "-c:a", "copy", "-tag:v", "hvc1", "-movflags", "+faststart",
                           "-f", "mp4", "file:/out/a b.mp4"}));
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::mkv, info, {}, true),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a?", "-map", "0:s?", "-c:s",
                           "copy", "-c:v", "copy", "-c:a", "copy", "-f", "matroska", "file:/out/a b.mp4"}));
    const MediaInfo h264 = clip("h264", 1920, 1080);
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::mov, h264, {}, true),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a?", "-c:v", "copy", "-c:a",
                           "copy", "-movflags", "+faststart", "-f", "mov", "file:/out/a b.mp4"}));
}

TEST(EncoderArguments, VideoConvertEncodesOtherwise)
{
    const MediaInfo info = clip("h264", 1920, 1080, 30, QStringLiteral("mp3"));
    VideoSettings settings;
    settings.audioBitrate = 128;
    // Copy not allowed by the caller.
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::mp4, info, settings, false),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a?", "-c:v", "libx264", "-preset",
                           "fast", "-b:v", "4976k", "-profile:v", "high", "-tag:v", "avc1", "-pix_fmt", "yuv420p",
                           "-vf", "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'", "-c:a", "aac", "-b:a", "128k", "-movflags",
                           "+faststart", "-f", "mp4", "file:/out/a b.mp4"}));
    // A maximum resolution always encodes.
    settings.maxResolution = 720;
    const QStringList scaled = videoConvertArgs(in, out, VideoTarget::mkv, info, settings, true);
    EXPECT_EQ(scaled.mid(scaled.indexOf("-c:v"), 2), (QStringList{"-c:v", "libx264"}));
    EXPECT_EQ(scaled.mid(scaled.indexOf("-c:a"), 2), (QStringList{"-c:a", "copy"}));
    EXPECT_EQ(scaled.mid(scaled.indexOf("-vf"), 2), (QStringList{"-vf", scaleFilter(720)}));
    EXPECT_EQ(scaled.mid(scaled.indexOf("-b:v"), 2), (QStringList{"-b:v", "2211k"}));

    // WebM of the first sound stream only, never faststart.
    settings = {};
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::webm, info, settings, true),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a:0?", "-c:v", "libvpx-vp9",
                           "-crf", "32", "-b:v", "0", "-row-mt", "1", "-deadline", "good", "-cpu-used", "3",
                           "-pix_fmt", "yuv420p", "-vf", "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'", "-c:a", "libopus",
                           "-b:a", "128k", "-f", "webm", "file:/out/a b.mp4"}));
    // ProRes is never copied, even from ProRes.
    const MediaInfo prores = clip("prores", 1920, 1080, 30, QStringLiteral("pcm_s16le"));
    EXPECT_EQ(videoConvertArgs(in, out, VideoTarget::prores, prores, settings, true),
              (QStringList{"-i", "file:/in/a b.mov", "-map", "0:V:0", "-map", "0:a?", "-c:v", "prores_ks",
                           "-profile:v", "standard", "-pix_fmt", "yuv422p10le", "-vf",
                           "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'", "-c:a", "pcm_s16le", "-movflags", "+faststart",
                           "-f", "mov", "file:/out/a b.mp4"}));
    // A turned clip is encoded into Matroska, upright.
    MediaInfo turned = clip("h264", 1920, 1080);
    turned.video->rotation = 90;
    const QStringList upright = videoConvertArgs(in, out, VideoTarget::mkv, turned, settings, true);
    EXPECT_TRUE(upright.contains("libx264"));
    EXPECT_EQ(upright.mid(upright.indexOf("-c:a"), 2), (QStringList{"-c:a", "copy"}));
}

TEST(EncoderArguments, AudioTargets)
{
    SettingsSnapshot settings;
    settings.mp3Bitrate = 256;
    settings.aacBitrate = 192;
    const std::optional<MediaInfo> none;
    auto args = [&](AudioTarget target, const std::optional<MediaInfo>& info = std::nullopt,
                    const OperationOptions& options = {}) {
        return audioTargetArgs(target, info, settings, options);
    };
    EXPECT_EQ(args(AudioTarget::mp3), (QStringList{"-c:a", "libmp3lame", "-b:a", "256k"}));
    EXPECT_EQ(args(AudioTarget::m4a), (QStringList{"-c:a", "aac", "-b:a", "192k"}));
    EXPECT_EQ(args(AudioTarget::alac), (QStringList{"-c:a", "alac"}));
    EXPECT_EQ(args(AudioTarget::wav), (QStringList{"-c:a", "pcm_s16le"}));
    EXPECT_EQ(args(AudioTarget::aiff), (QStringList{"-c:a", "pcm_s16be"}));
    EXPECT_EQ(args(AudioTarget::flac), (QStringList{"-c:a", "flac"}));
    EXPECT_EQ(args(AudioTarget::ogg), (QStringList{"-c:a", "libvorbis", "-q:a", "5"}));
    EXPECT_EQ(args(AudioTarget::opus), (QStringList{"-c:a", "libopus", "-b:a", "128k"}));
    EXPECT_EQ(args(AudioTarget::caf), (QStringList{"-c:a", "pcm_s16le"}));
    EXPECT_EQ(args(AudioTarget::m4r), (QStringList{"-c:a", "aac", "-b:a", "256k"}));

    OperationOptions options;
    options.audioBitrate = 96;
    EXPECT_EQ(args(AudioTarget::mp3, none, options), (QStringList{"-c:a", "libmp3lame", "-b:a", "96k"}));
    EXPECT_EQ(args(AudioTarget::m4a, none, options), (QStringList{"-c:a", "aac", "-b:a", "96k"}));
    EXPECT_EQ(args(AudioTarget::opus, none, options)[3], "64k");
    EXPECT_EQ(args(AudioTarget::m4r, none, options)[3], "256k");
    options.audioBitrate = 95;
    EXPECT_EQ(args(AudioTarget::opus, none, options)[3], "64k");
    options.audioBitrate = 320;
    EXPECT_EQ(args(AudioTarget::opus, none, options)[3], "212k");
    options.audioBitrate = 400;
    EXPECT_EQ(args(AudioTarget::opus, none, options)[3], "256k");
}

// A 24-bit lossless source keeps its 24 bits in WAV and AIFF; 16-bit and float sources of lossy
// decoders stay at 16.
TEST(EncoderArguments, DeepSoundKeepsItsBits)
{
    const SettingsSnapshot settings;
    struct Row {
        MediaInfo info;
        const char* wav;
        const char* aiff;
    };
    const QList<Row> rows{
        {sound("flac", 24), "pcm_s24le", "pcm_s24be"},
        {sound("alac", 24), "pcm_s24le", "pcm_s24be"},
        {sound("flac", 32), "pcm_s24le", "pcm_s24be"},
        {sound("pcm_s24le", 24), "pcm_s24le", "pcm_s24be"},
        {sound("pcm_s24le"), "pcm_s24le", "pcm_s24be"},
        {sound("pcm_s32be"), "pcm_s24le", "pcm_s24be"},
        {sound("flac", 16), "pcm_s16le", "pcm_s16be"},
        {sound("pcm_s16le", 16), "pcm_s16le", "pcm_s16be"},
        {sound("mp3"), "pcm_s16le", "pcm_s16be"},
        {sound("aac"), "pcm_s16le", "pcm_s16be"},
        {sound("pcm_u8", 8), "pcm_s16le", "pcm_s16be"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.info.audio->codec.toStdString() + " " + std::to_string(row.info.audio->bitDepth.value_or(0)));
        EXPECT_EQ(audioTargetArgs(AudioTarget::wav, row.info, settings, {}), (QStringList{"-c:a", row.wav}));
        EXPECT_EQ(audioTargetArgs(AudioTarget::aiff, row.info, settings, {}), (QStringList{"-c:a", row.aiff}));
    }
    // CAF stays 16-bit whatever the source.
    EXPECT_EQ(audioTargetArgs(AudioTarget::caf, sound("flac", 24), settings, {}), (QStringList{"-c:a", "pcm_s16le"}));
}
