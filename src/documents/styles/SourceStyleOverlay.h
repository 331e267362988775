#pragma once

#include "documents/styles/SourceStyles.h"

#include <QTextDocument>

namespace qv {

// Puts back on rich text read through pandoc what pandoc leaves out of a word-processing file:
// sizes (relative to the file's body size, which becomes the document's), weights, fixed-pitch
// faces, colours, underline, scripts and alignment, headings declared by style or outline level
// and quotation paragraphs. The file's paragraphs are found in the rich text by their text, in
// order; a paragraph the rich text words differently is left as it is.
class SourceStyleOverlay {
public:
    SourceStyleOverlay() = delete;

    // underlineIsNotItalic: the reader took underlined text for emphasis (pandoc's ODT reader).
    // Returns how many paragraphs were found.
    static int apply(QTextDocument& document, const SourceStyles& styles, bool underlineIsNotItalic);

    // The text two readings of one paragraph agree on: without white space and layout marks.
    static QString matchKey(QStringView text);

    // How far ahead of the last found paragraph one is looked for.
    static constexpr int lookAhead = 48;
};

} // namespace qv
