#pragma once

#include <QList>
#include <QSizeF>
#include <QString>

#include <stop_token>

namespace qv {

// A deck made of a PDF's pages holds one slide size, the first page's: the drawing of each page
// of another size is scaled into its slide whole, at its own proportions, and centred.
class SlideDeckFitting {
public:
    SlideDeckFitting() = delete;

    // Writes the fitted deck to destination (which must not exist). pageSizes: the pages in
    // points, slide by slide. Throws EngineError when the deck cannot be read, SystemError when
    // the copy cannot be written, CancellationError.
    static void fitPagesToSlides(const QString& deck, const QString& destination, const QList<QSizeF>& pageSizes,
                                 std::stop_token stop);

    // Exposed for tests: one slide's XML with its shapes in a group mapping the page's own
    // space (EMU) onto the slide's.
    static QByteArray fitSlide(const QByteArray& slideXml, QSizeF pageEmu, QSizeF slideEmu);
};

} // namespace qv
