#include "engines/media/arguments/MediaTargets.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

MediaInfo media(const QString& video, const std::optional<QString>& audio = std::nullopt, int rotation = 0)
{
    MediaInfo info;
    if (!video.isEmpty()) {
        info.video = VideoStreamInfo{};
        info.video->codec = video;
        info.video->rotation = rotation;
    }
    if (audio) {
        info.audio = AudioStreamInfo{};
        info.audio->codec = *audio;
        info.audioStreamCount = 1;
    }
    return info;
}

QList<VideoTarget> copyableTargets(const MediaInfo& info)
{
    QList<VideoTarget> result;
    for (VideoTarget target : allVideoTargets())
        if (canCopyStreams(info, target))
            result << target;
    return result;
}

} // namespace

TEST(MediaTargets, VideoTargetColumns)
{
    struct Row {
        VideoTarget target;
        const char* ext;
        const char* label;
        const char* muxer;
        bool faststart;
        std::optional<QString> audioMap;
    };
    const QList<Row> rows{
        {VideoTarget::mp4, "mp4", "MP4", "mp4", true, "0:a?"},
        {VideoTarget::mov, "mov", "MOV", "mov", true, "0:a?"},
        {VideoTarget::mkv, "mkv", "MKV", "matroska", false, "0:a?"},
        {VideoTarget::webm, "webm", "WEBM", "webm", false, "0:a:0?"},
        {VideoTarget::avi, "avi", "AVI", "avi", false, "0:a:0?"},
        {VideoTarget::gif, "gif", "GIF", "gif", false, std::nullopt},
        {VideoTarget::webp, "webp", "WEBP", "webp", false, std::nullopt},
        {VideoTarget::hevc, "mp4", "HEVC", "mp4", true, "0:a?"},
        {VideoTarget::prores, "mov", "PRORES", "mov", true, "0:a?"},
    };
    ASSERT_EQ(allVideoTargets().size(), rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.label);
        EXPECT_EQ(allVideoTargets()[i], row.target);
        EXPECT_EQ(videoTargetFileExtension(row.target), row.ext);
        EXPECT_EQ(videoTargetLabel(row.target), row.label);
        EXPECT_EQ(videoTargetMuxer(row.target), row.muxer);
        EXPECT_EQ(videoTargetAddsFaststart(row.target), row.faststart);
        EXPECT_EQ(videoTargetAudioMapping(row.target), row.audioMap);
    }
}

TEST(MediaTargets, AudioTargetsReadOnlyTheirRawValues)
{
    QStringList raw;
    for (AudioTarget target : allAudioTargets())
        raw << audioTargetRawValue(target);
    EXPECT_EQ(raw, (QStringList{"mp3", "m4a", "alac", "wav", "aiff", "flac", "ogg", "opus", "caf", "m4r"}));
    for (AudioTarget target : allAudioTargets())
        EXPECT_EQ(audioTargetFromText(audioTargetRawValue(target)), target);
    EXPECT_EQ(audioTargetFromText("MP3"), std::nullopt);
    EXPECT_EQ(audioTargetFromText("aif"), std::nullopt);
    EXPECT_EQ(audioTargetFromText(""), std::nullopt);

    EXPECT_EQ(audioTargetFileExtension(AudioTarget::alac), "m4a");
    EXPECT_EQ(audioTargetFileExtension(AudioTarget::m4r), "m4r");
    QList<AudioTarget> lossless;
    for (AudioTarget target : allAudioTargets())
        if (audioTargetIsLossless(target))
            lossless << target;
    EXPECT_EQ(lossless, (QList<AudioTarget>{AudioTarget::alac, AudioTarget::wav, AudioTarget::aiff,
                                            AudioTarget::flac, AudioTarget::caf}));
}

TEST(MediaTargets, CopyRules)
{
    using T = VideoTarget;
    EXPECT_EQ(copyableTargets(media("hevc", "aac")), (QList<T>{T::mp4, T::mov, T::mkv, T::hevc}));
    EXPECT_EQ(copyableTargets(media("h264", "pcm_s16le")), (QList<T>{T::mov, T::mkv}));
    EXPECT_EQ(copyableTargets(media("h264", "pcm_s32be")), (QList<T>{T::mov, T::mkv}));
    EXPECT_EQ(copyableTargets(media("h264")), (QList<T>{T::mp4, T::mov, T::mkv}));
    EXPECT_EQ(copyableTargets(media("h264", "aac")), (QList<T>{T::mp4, T::mov, T::mkv}));
    EXPECT_EQ(copyableTargets(media("vp9", "opus")), (QList<T>{T::mkv, T::webm}));
    EXPECT_EQ(copyableTargets(media("av1", "vorbis")), (QList<T>{T::mkv, T::webm}));
    EXPECT_EQ(copyableTargets(media("mpeg4", "mp3")), (QList<T>{T::mp4, T::mov, T::mkv, T::avi}));
    EXPECT_EQ(copyableTargets(media("msmpeg4v3", "pcm_s16le")), (QList<T>{T::mkv, T::avi}));
    EXPECT_EQ(copyableTargets(media("prores", "pcm_s24le")), (QList<T>{T::mov, T::mkv}));
    EXPECT_EQ(copyableTargets(media("mjpeg", "ac3")), (QList<T>{T::mov, T::mkv, T::avi}));
    EXPECT_EQ(copyableTargets(media("h264", "opus")), (QList<T>{T::mkv}));
    EXPECT_EQ(copyableTargets(media("h264", "dts")), (QList<T>{T::mkv}));
    EXPECT_EQ(copyableTargets(media("wmv2", "wmav2")), QList<T>{});
    EXPECT_EQ(copyableTargets(media("", "aac")), QList<T>{});
}

// Debian's Matroska, WebM and AVI muxers lose the display matrix: such a copy would play sideways.
TEST(MediaTargets, RotatedVideoIsCopiedOnlyWhereTheTurnSurvives)
{
    using T = VideoTarget;
    EXPECT_EQ(copyableTargets(media("h264", "aac", 90)), (QList<T>{T::mp4, T::mov}));
    EXPECT_EQ(copyableTargets(media("hevc", "aac", 270)), (QList<T>{T::mp4, T::mov, T::hevc}));
    EXPECT_EQ(copyableTargets(media("vp9", "opus", 180)), QList<T>{});
    EXPECT_EQ(copyableTargets(media("mpeg4", "mp3", 90)), (QList<T>{T::mp4, T::mov}));
}

TEST(MediaTargets, SubtitleArguments)
{
    MediaInfo info = media("h264", "aac");
    for (VideoTarget target : allVideoTargets())
        EXPECT_TRUE(subtitleArgs(info, target).isEmpty());

    info.subtitleCodecs = {"subrip", "ass"};
    const QStringList movText{"-map", "0:s?", "-c:s", "mov_text"};
    EXPECT_EQ(subtitleArgs(info, VideoTarget::mp4), movText);
    EXPECT_EQ(subtitleArgs(info, VideoTarget::mov), movText);
    EXPECT_EQ(subtitleArgs(info, VideoTarget::hevc), movText);
    EXPECT_EQ(subtitleArgs(info, VideoTarget::mkv), (QStringList{"-map", "0:s?", "-c:s", "copy"}));
    for (VideoTarget target : {VideoTarget::webm, VideoTarget::avi, VideoTarget::gif, VideoTarget::webp,
                               VideoTarget::prores})
        EXPECT_TRUE(subtitleArgs(info, target).isEmpty());

    info.subtitleCodecs = {"subrip", "mov_text"};
    EXPECT_EQ(subtitleArgs(info, VideoTarget::mkv), (QStringList{"-map", "0:s?", "-c:s", "srt"}));
    EXPECT_EQ(subtitleArgs(info, VideoTarget::mp4), movText);

    // One picture subtitle drops the text ones too.
    info.subtitleCodecs = {"subrip", "dvd_subtitle"};
    for (VideoTarget target : allVideoTargets())
        EXPECT_TRUE(subtitleArgs(info, target).isEmpty());
    info.subtitleCodecs = {"hdmv_pgs_subtitle"};
    EXPECT_TRUE(subtitleArgs(info, VideoTarget::mkv).isEmpty());
}

TEST(MediaTargets, AudioCopyContainers)
{
    struct Row {
        const char* codec;
        std::optional<AudioCopyContainer> container;
    };
    const QList<Row> rows{
        {"aac", AudioCopyContainer{"m4a", "ipod"}},   {"alac", AudioCopyContainer{"m4a", "ipod"}},
        {"mp3", AudioCopyContainer{"mp3", "mp3"}},    {"opus", AudioCopyContainer{"opus", "opus"}},
        {"vorbis", AudioCopyContainer{"ogg", "ogg"}}, {"flac", AudioCopyContainer{"flac", "flac"}},
        {"ac3", AudioCopyContainer{"ac3", "ac3"}},    {"eac3", AudioCopyContainer{"eac3", "eac3"}},
        {"pcm_s16le", AudioCopyContainer{"wav", "wav"}}, {"pcm_s24le", AudioCopyContainer{"wav", "wav"}},
        {"pcm_s32le", AudioCopyContainer{"wav", "wav"}}, {"pcm_f32le", AudioCopyContainer{"wav", "wav"}},
        {"pcm_u8", AudioCopyContainer{"wav", "wav"}},
        {"pcm_s16be", std::nullopt}, {"dts", std::nullopt}, {"wmav2", std::nullopt}, {"", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.codec);
        EXPECT_EQ(audioCopyContainer(row.codec), row.container);
    }
}

TEST(MediaTargets, SampleRatesEachEncoderWrites)
{
    const struct {
        AudioTarget target;
        int asked;
        int written;
    } rows[] = {
        {AudioTarget::opus, 48000, 48000}, {AudioTarget::opus, 44100, 48000}, {AudioTarget::opus, 22050, 24000},
        {AudioTarget::opus, 32000, 24000}, {AudioTarget::opus, 96000, 48000}, {AudioTarget::opus, 9000, 8000}, {AudioTarget::opus, 10000, 12000},
        {AudioTarget::mp3, 96000, 48000},  {AudioTarget::mp3, 44100, 44100},  {AudioTarget::mp3, 22050, 22050},
        {AudioTarget::m4a, 96000, 96000},  {AudioTarget::m4r, 32000, 32000},  {AudioTarget::m4a, 200000, 96000},
        {AudioTarget::flac, 96000, 96000}, {AudioTarget::wav, 22050, 22050},  {AudioTarget::ogg, 44100, 44100},
        {AudioTarget::flac, 352800, 352800}, {AudioTarget::flac, 705600, 352800},
    };
    for (const auto& row : rows)
        EXPECT_EQ(audioTargetSampleRate(row.target, row.asked), row.written)
            << audioTargetRawValue(row.target).toStdString() << " " << row.asked;
}
