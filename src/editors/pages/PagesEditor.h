#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QPointF>

#include <functional>

namespace qv {

// The PDF pages editor: reorder the pages of a PDF, or pick pages to extract.
class PagesEditor {
public:
    using Completion = std::function<void(const OperationOptions&)>;

    // Reads the PDF away from the GUI thread (in a worker process while isolation is on) and
    // shows the editor at the point; thumbnails then arrive as workers draw them, those in sight
    // first. A PDF that does not open (its worker's death included), wants a password or has no
    // pages gives the toast "Couldn't open <name>" and no window.
    // The completion gets the page order when the user applies.
    static void open(const FileInfo& file, bool extract, QPointF point, Completion completion);

    PagesEditor() = delete;
};

} // namespace qv
