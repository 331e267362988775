#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QPointF>
#include <QUrl>

#include <functional>
#include <optional>

namespace qv {

// The media editor: trim, ringtone and split on one video or audio file.
class TrimEditor {
public:
    enum class Mode { trim, ringtone, split };

    using Completion = std::function<void(const OperationOptions&)>;

    // Finds a playable preview (the file, or a proxy FFmpeg makes), reads its duration and
    // picture, and shows the editor at the point; returns at once. When the file cannot be read:
    // no window, the toast "Couldn't open <name> for editing". The completion runs at most
    // once, only when the user applies.
    static void open(const FileInfo& file, Mode mode, QPointF point, Completion completion);

    // The preview's URL, or none, handed to `done` on the main thread. A proxy made for it is
    // registered as live; `proxy` then names it.
    using PreviewDone = std::function<void(std::optional<QUrl> preview, std::optional<QString> proxy)>;
    static void previewURL(const FileInfo& file, PreviewDone done);

    // For the development driver: the player is taken to refuse every file, so proxies are made.
    static void setAssumeUnplayable(bool unplayable);

    TrimEditor() = delete;
};

} // namespace qv
