#pragma once

#include "engines/media/probe/MediaInfo.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace qv {

// What a video conversion writes.
enum class VideoTarget { mp4, mov, mkv, webm, avi, gif, webp, hevc, prores };

const QList<VideoTarget>& allVideoTargets();
QString videoTargetFileExtension(VideoTarget target);
QString videoTargetLabel(VideoTarget target);
// FFmpeg's muxer, after "-f".
QString videoTargetMuxer(VideoTarget target);
bool videoTargetAddsFaststart(VideoTarget target);
// The "-map" value for sound, or none when the target holds no sound.
std::optional<QString> videoTargetAudioMapping(VideoTarget target);

// What an audio conversion writes.
enum class AudioTarget { mp3, m4a, alac, wav, aiff, flac, ogg, opus, caf, m4r };

const QList<AudioTarget>& allAudioTargets();
QString audioTargetRawValue(AudioTarget target);
// Exactly the raw values.
std::optional<AudioTarget> audioTargetFromText(const QString& text);
QString audioTargetFileExtension(AudioTarget target);
bool audioTargetIsLossless(AudioTarget target);

// The sample rate the target's encoder writes for a wish of `rate` Hz: the rate itself when it
// takes it, else the nearest one it takes, the higher on a tie (Opus only takes 8, 12, 16, 24
// and 48 kHz; MP3 no more than 48 kHz).
int audioTargetSampleRate(AudioTarget target, int rate);

// Whether the first video and audio streams fit the target unchanged.
bool canCopyStreams(const MediaInfo& info, VideoTarget target);

// Text subtitles carried into the target; none when a picture subtitle is present (all are
// then dropped) or the target takes none.
QStringList subtitleArgs(const MediaInfo& info, VideoTarget target);

struct AudioCopyContainer {
    QString fileExtension;
    QString muxer;
    bool operator==(const AudioCopyContainer&) const = default;
};

// A container that holds this audio codec unchanged.
std::optional<AudioCopyContainer> audioCopyContainer(const QString& codec);

// Codecs that may be copied into each container family.
const QStringList& mp4VideoCodecs();
const QStringList& movVideoCodecs();
const QStringList& mkvVideoCodecs();
const QStringList& mp4AudioCodecs();
const QStringList& mkvAudioCodecs();
const QStringList& textSubtitleCodecs();

} // namespace qv
