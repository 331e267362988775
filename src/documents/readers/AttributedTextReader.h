#pragma once

#include "documents/model/DocumentModel.h"

#include <QTextDocument>

namespace qv {

// Rich text to the model: tables from QTextTable (a one-column table in a fixed face is code),
// lists from QTextList, headings from the heading level or from size and weight, code from
// fixed faces, page breaks from form feeds and page-break blocks, images from image resources.
class AttributedTextReader {
public:
    AttributedTextReader() = delete;

    // Never fails. The title is the given one, else the first level-1 heading's text.
    static DocumentModel documentModelFromAttributedString(const QTextDocument& document,
                                                           const std::optional<QString>& title = std::nullopt);

    // The text as a reader of a plain-text file expects it: paragraphs and rows on lines of
    // their own, table cells separated by tabs, a cell's own paragraphs and nested tables joined
    // by spaces; list items after their marker ("- ", or "1. " and so on when numbered). Nothing
    // of the layout's own markers (frame bounds, paragraph and line separators, object places)
    // is left in it.
    static QString plainText(const QTextDocument& document);

    // Tables nested deeper than this are read as their text.
    static constexpr int maximumDepth = 32;
};

} // namespace qv
