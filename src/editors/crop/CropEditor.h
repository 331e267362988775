#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QImage>
#include <QPointF>
#include <QSize>

#include <functional>
#include <stop_token>

namespace qv {

// The crop editor for a picture or one frame of a video.
class CropEditor {
public:
    using Completion = std::function<void(const OperationOptions&)>;

    // Loads a preview of at most 1600 pixels away from the GUI thread and shows the editor at
    // the point; returns at once. When the file cannot be read: no window, the toast
    // "Couldn't open <name> for cropping". The completion runs only when the user crops.
    static void open(const FileInfo& file, QPointF point, Completion completion);

    struct Picture {
        QImage preview; // at most 1600 pixels on the longer side
        QSize pixelSize; // of the full picture, upright
    };
    // The picture (or the middle frame of a video); throws on anything unreadable.
    static Picture load(const FileInfo& file, std::stop_token stop);

    // The frame at half the video's duration, through FFmpeg into a PNG in the temporary root
    // that is removed whatever happens. Throws EngineError, FFmpegError or CancellationError.
    static QImage loadVideoFrame(const FileInfo& file, std::stop_token stop);

    CropEditor() = delete;
};

} // namespace qv
