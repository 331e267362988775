#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QImage>
#include <QPointF>
#include <QSize>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// The photo editor of one picture: adjust, cut out, crop, resize and choose the output.
class PhotoEditor {
public:
    using Completion = std::function<void(const OperationOptions&)>;

    // Reads the picture away from the GUI thread and shows the editor at the point; returns at
    // once. When the file cannot be read: no window, the toast "Couldn't open <name>". The
    // completion runs only on "Save Copy".
    static void open(const FileInfo& file, QPointF point, Completion completion);

    struct Picture {
        QImage preview; // at most 1400 pixels on the longer side, upright, sRGB
        QSize pixelSize; // of the full picture, upright
        bool hasAlpha = false;
        std::optional<int> quality; // of a JPEG, 1...100
    };
    // Throws on anything unreadable; a huge picture is never decoded whole.
    static Picture load(const FileInfo& file);

    static constexpr int previewSide = 1400;

    PhotoEditor() = delete;
};

} // namespace qv
