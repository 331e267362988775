#pragma once

#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

class Progress;

// What an image operation needs from its work item: work files, placing, progress, the stop
// request, and (for tests) the machine's abilities in place of the real ones.
struct ImageWork {
    // A new file name in the work directory with this extension.
    std::function<QUrl(const QString& extension)> workFile;
    // Places the finished work file under the source's base name; returns where it went.
    std::function<QUrl(const QUrl& file, const QString& extension)> place;
    // The tools' placing: under the given base name, never overwriting; `place` when unset.
    std::function<QUrl(const QUrl& file, const QString& baseName, const QString& extension)> deliver;
    // The source's base name, which the tools' results start with.
    QString baseName;
    Progress* progress = nullptr;
    std::stop_token stop;
    // The type identifiers that can be written without FFmpeg; the capability record's when unset.
    std::optional<QSet<QString>> writableTypes;
    // The FFmpeg to run; the one the capability record found when unset.
    std::optional<std::optional<QUrl>> ffmpeg;
    // Writers that can trade time for memory do (libwebp's low-memory mode).
    bool lowMemory = false;

    QSet<QString> writable() const;
    std::optional<QUrl> ffmpegProgram() const;
};

} // namespace qv
