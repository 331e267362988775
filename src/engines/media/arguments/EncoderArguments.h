#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "engines/media/probe/MediaInfo.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsEnums.h"
#include "model/settings/SettingsSnapshot.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace qv {

// The settings of one video encode.
struct VideoSettings {
    VideoCodecChoice codec = VideoCodecChoice::h264;
    QualityPreset preset = QualityPreset::medium;
    // The largest shorter side in pixels; absent means no limit.
    std::optional<int> maxResolution;
    // Kilobits per second of AAC sound in video files.
    int audioBitrate = 160;
    // Kept for the setting's sake: the encoders here are software ones either way.
    bool hardwareEncoding = false;

    bool operator==(const VideoSettings&) const = default;
};

VideoSettings effectiveVideoSettings(const SettingsSnapshot& settings, const OperationOptions& options);

// Kilobits per second for a re-encoded picture: the picture's size and rate, capped near the
// source's own bitrate.
int videoBitrate(const MediaInfo& info, QualityPreset preset, std::optional<int> maxResolution,
                 std::optional<double> factor = std::nullopt);

// libx265 at the preset's quality, or at a bitrate in kilobits per second when one is given;
// a 10-bit source keeps its 10 bits.
QStringList hevcEncoderArgs(const MediaInfo& info, QualityPreset preset,
                            std::optional<int> kilobitsPerSecond = std::nullopt);

// libx264 at the given bitrate in kilobits per second.
QStringList h264EncoderArgs(int kilobits);

QStringList videoCodecArgs(VideoTarget target, const MediaInfo& info, VideoCodecChoice codec,
                           QualityPreset preset, std::optional<int> maxResolution, bool hardware);

// libx265 refuses a picture with a side under 16 pixels.
inline constexpr int hevcSmallestSide = 16;

// Even sides of at least smallestSide pixels (a smaller side grows), and the shorter side at most
// the maximum.
QString scaleFilter(std::optional<int> maxResolution, int smallestSide = 2);

QStringList audioArgsForVideo(VideoTarget target, const MediaInfo& info, int audioBitrate);

// The whole argument list after the prefix.
QStringList videoConvertArgs(const QUrl& input, const QUrl& output, VideoTarget target,
                             const MediaInfo& info, const VideoSettings& settings, bool allowCopy);

QStringList audioTargetArgs(AudioTarget target, const std::optional<MediaInfo>& info,
                            const SettingsSnapshot& settings, const OperationOptions& options);

} // namespace qv
