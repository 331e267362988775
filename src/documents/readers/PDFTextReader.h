#pragma once

#include "documents/model/DocumentModel.h"

#include <optional>
#include <stop_token>

namespace qv {

// A PDF's text layer as a document: headings by size, list items by their markers, paragraphs
// joined across lines and pages, running headers, footers and page numbers left out; but never
// most of the pages' words: a model that lost them gives way to the lines as they stand.
class PDFTextReader {
public:
    PDFTextReader() = delete;

    // One line as the page has it: styled runs and the size most of its characters have.
    struct Line {
        QList<DocRun> runs;
        int size = 0; // whole points; 0 for a blank line
        // Whether it lies in the page's top or bottom margin, as the page shows, where page
        // numbers and running heads stand: a number anywhere else is a value, a cell or a
        // label, and stays.
        bool inMargin = true;
    };

    // Throws what PDFEngine::open throws, and CancellationError.
    static DocumentModel documentModel(const QString& path, const std::optional<QString>& password = std::nullopt,
                                       std::stop_token stop = {});

    // The model of pages of lines; title is the document's own, empty when it has none.
    static DocumentModel modelFromPages(const QList<QList<Line>>& pages, const QString& title);
    // The model's words, a block a line, to hold against the pages'.
    static QString modelText(const DocumentModel& model);
};

} // namespace qv
