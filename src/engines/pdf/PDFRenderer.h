#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTransform>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

namespace qv {

// Draws the pages of one PDF and reads their text (MuPDF). One renderer serves one thread at a
// time; clone() gives another thread its own, sharing the font and image caches.
class PDFRenderer {
public:
    // Throws EngineError with the sentences of PDFEngine::open; a document MuPDF warns about
    // while opening it is damaged.
    static std::unique_ptr<PDFRenderer> open(const QString& path,
                                             const std::optional<QString>& password);
    static std::unique_ptr<PDFRenderer> openData(const QByteArray& data);
    // For a preview, which shows what it can: what MuPDF repairs or warns about is let pass, in
    // the opening and in every page drawn. Throws only when MuPDF cannot read the file at all.
    static std::unique_ptr<PDFRenderer> openForViewing(const QString& path,
                                                       const std::optional<QString>& password);
    ~PDFRenderer();
    PDFRenderer(const PDFRenderer&) = delete;
    PDFRenderer& operator=(const PDFRenderer&) = delete;

    std::unique_ptr<PDFRenderer> clone() const;

    // Runs work on this renderer and on clones of it, one thread each, `threads` in all, and
    // returns when every one has ended. work catches its own failures.
    void runOnClones(int threads, const std::function<void(PDFRenderer&)>& work);

    int pageCount() const;
    // The object number of the page at this index as MuPDF walks the page tree; -1 for none.
    int pageObjectNumber(int index) const;
    // Width and height in points as the page shows, its rotation applied; throws EngineError
    // "This page couldn't be rendered".
    QSizeF pageSize(int index) const;

    // The size render() draws the page at: at dpi, the longer side capped at 16000 pixels.
    // Throws as pageSize does.
    QSize pixelsAt(int index, double dpi) const;

    // The page on opaque white, the longer side capped at 16000 pixels. Throws EngineError
    // ("This page is too large to render", "This page couldn't be rendered", "This page is too
    // complex to render" when it costs more work than PageWorkBudget allows) or
    // CancellationError. pageToPixel and grey as for renderToSize.
    QImage render(int index, double dpi, std::stop_token stop = {},
                  QTransform* pageToPixel = nullptr, bool grey = false) const;

    // The page drawn to exactly this many pixels. pageToPixel, when given, receives the map from
    // the page's own space (origin at the lower left of its media box, before rotation) to the
    // image's pixels. A null image when the pixels cannot be had or are more than
    // maximumPixels. In Format_RGB888, or Format_Grayscale8 when grey.
    QImage renderToSize(int index, QSize pixels, std::stop_token stop,
                        QTransform* pageToPixel = nullptr, bool grey = false) const;

    static constexpr qint64 maximumPixels = qint64(16000) * 16000;

    // The page's text, lines ended by line feeds. Throws EngineError "This file is damaged or not
    // in a supported format" when the page cannot be read or MuPDF warns while reading it, as
    // do textLines, render and pageSize; "This page is too complex to read" when it costs more
    // work than PageWorkBudget allows, as does textLines.
    QString text(int index) const;

    // One stretch of a line in one font.
    struct TextSpan {
        QString text;
        double size = 0; // points
        bool bold = false;
        bool italic = false;
        bool monospaced = false;
        // Where its characters lie, in points from the top left of the page as it shows, its
        // rotation applied.
        QRectF box;
    };
    // Whether the page, read as a drawing would read it, costs no more work than PageWorkBudget
    // allows; a page MuPDF cannot read counts as within it, for others to judge.
    bool withinBudget(int index) const;

    // How long one page may be drawn or read before it is given up as too complex (60 s), how
    // many operators it may read (50 million), and the work it may cost
    // (PageWorkBudget::defaultUnits); for tests.
    static void setPageTimeLimit(std::chrono::milliseconds limit);
    static void setPageOperatorLimit(qint64 operators);
    static void setPageBudget(qint64 units);

    // The page's lines in reading order, each its spans; empty when the page has no text.
    // shown, when given, receives the page's size as pageSize() gives it.
    QList<QList<TextSpan>> textLines(int index, QSizeF* shown = nullptr) const;
    // Whether a page was drawn with a stand-in for a font, a Type3 glyph or a JBIG2 region
    // MuPDF could not draw.
    bool drewStandIns() const;
    // What a job says when the pages it drew (or had drawn) used stand-ins.
    static QString standInsNote();

    // The document's Title entry; empty when there is none.
    QString title() const;

private:
    // Whether a Type3 glyph of the page draws without end (Type3Glyphs), asked once a page.
    bool glyphsEndless(int index) const;

    struct Shared;
    PDFRenderer(std::shared_ptr<Shared> shared);
    void openDocument();

    std::shared_ptr<Shared> m_shared;
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace qv
