#pragma once

#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"

#include <QPointF>

#include <functional>

namespace qv {

// The redaction editor: black boxes drawn over a PDF's pages become the job's redactions.
class RedactEditor {
public:
    using Completion = std::function<void(const OperationOptions&)>;

    // Reads the PDF away from the GUI thread (in a worker process while isolation is on) and
    // shows the editor at the point; the pages are drawn by workers, those in sight first. A
    // PDF that does not open (its worker's death included) or wants a password gives the toast
    // "Couldn't open <name>" and no window. The completion gets the boxes by page when the user
    // applies.
    static void open(const FileInfo& file, QPointF point, Completion completion);

    RedactEditor() = delete;
};

} // namespace qv
