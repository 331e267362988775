#pragma once

#include "editors/EditorPicture.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QImage>
#include <QPointF>
#include <QSize>

#include <functional>

namespace qv {

// The annotate editor of one picture: arrows, shapes, pen and highlighter strokes and texts.
class AnnotateEditor {
public:
    using Completion = std::function<void(const OperationOptions&)>;

    // Reads the picture away from the GUI thread and shows the editor at the point; returns at
    // once. When the file cannot be read: no window, the toast "Couldn't open <name>". The
    // completion runs only on "Save Copy", with only the marks.
    static void open(const FileInfo& file, QPointF point, Completion completion);

    using Picture = EditorPicture;
    // Throws on anything unreadable; a huge picture is never decoded whole.
    static Picture load(const FileInfo& file);

    static constexpr int displaySide = 1600;

    AnnotateEditor() = delete;
};

} // namespace qv
