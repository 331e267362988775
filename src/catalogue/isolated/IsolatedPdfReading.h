#pragma once

#include "jobs/WorkerServer.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <limits>
#include <optional>
#include <stop_token>

namespace qv {

// What the PDF windows (the pages and redaction editors, previews) need of a user's PDF, read
// in a worker process while IsolatedReading is enabled, so that a file that crashes or hangs
// qpdf or MuPDF costs a window, not the application; read here otherwise. Both questions throw
// EngineError as PDFEngine::open does for a file that does not open (a worker's death
// included) and CancellationError on a stop, which kills the worker at once.
class IsolatedPdfReading {
public:
    // What a damaged file gives: refused as the engines refuse it (the editors, whose jobs
    // would refuse it too), or whatever MuPDF can draw of it (previews).
    enum class Damage { refused, drawn };

    struct Outline {
        int pageCount = 0;
        // The first pages as shown, as many as asked for, in points, their rotation applied; an
        // empty size for a page that cannot be read. Each loads its page.
        QList<QSizeF> pageSizes;
    };
    static constexpr int everyPage = std::numeric_limits<int>::max();
    static Outline outline(const QString& path, const std::optional<QString>& password, int sizedPages,
                           std::stop_token stop = {}, Damage damage = Damage::refused);

    struct Page {
        // The page on opaque white fitted into the box (enlarged when smaller), in
        // Format_RGB888; null when it is too large to draw.
        QImage picture;
        // From the page's own space (points, origin at the lower left of its media box, before
        // its rotation) to the picture's pixels.
        QTransform pageToPixel;
    };
    // index from 0. Throws EngineError "This page couldn't be rendered" for a page that cannot
    // be drawn.
    static Page page(const QString& path, const std::optional<QString>& password, int index, QSize box,
                     std::stop_token stop = {}, Damage damage = Damage::refused);

    // The answers a worker gives to these questions.
    static WorkerServer::Calls workerCalls();
};

} // namespace qv
