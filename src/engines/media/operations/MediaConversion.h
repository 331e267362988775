#pragma once

#include "engines/media/arguments/MediaTargets.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

class Progress;

// Where a media operation writes and how its result is placed: the work item's planner as the
// engine sees it. FFmpeg only ever writes to a work file; placing moves it out under the
// source's base name.
struct MediaWork {
    // A new file name in the work directory with this extension.
    std::function<QUrl(const QString& extension)> workFile;
    // Makes a named folder in the work directory for intermediate files.
    std::function<QUrl(const QString& name)> workFolder;
    // Places the finished work file with this extension and returns where it went.
    std::function<QUrl(const QUrl& file, const QString& extension)> place;
    Progress* progress = nullptr;
    // The FFmpeg to run; the one Capabilities finds when unset.
    std::optional<std::optional<QUrl>> ffmpeg;
    // The source's name without its extension, the stem of every result's name.
    QString baseName;
    // Places a finished work file or folder under this base name (an empty extension for a
    // folder).
    std::function<QUrl(const QUrl& file, const QString& baseName, const QString& extension)> placeNamed;
};

// Copies the streams into the target when they fit, re-encodes otherwise; a copy FFmpeg refuses
// is redone as an encode. An image goes to imagesToVideo. Throws EngineError for a file without video before anything runs,
// FFmpegError, CancellationError; nothing is placed on failure.
QUrl convertVideo(const FileInfo& file, VideoTarget target, const OperationContext& context,
                  const MediaWork& work);

// The first sound of the file as the target; a ringtone keeps at most its first 40 s and says
// so in the context's notes. Covers go into the targets that hold them.
QUrl convertAudio(const FileInfo& file, AudioTarget target, const OperationContext& context,
                  const MediaWork& work);

// The list with the value after the first `option` replaced; unchanged without one.
QStringList replacingOptionValue(const QString& option, const QString& value, QStringList arguments);

inline const QString ringtoneLimitNote =
    QStringLiteral("Ringtones are limited to 40 s: used the first 40 s");

} // namespace qv
