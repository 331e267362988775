#pragma once

#include <QString>

#include <stop_token>

class QTextDocument;

namespace qv {

// Writes rich text as a WordprocessingML document, keeping how it looks: each paragraph's
// alignment, indents, spacing and page breaks, each run's colour, shading, face, size, weight,
// slant, lines and raised or lowered place, links, headings of their level, lists and tables.
// Pictures are not written: documents with pictures go through the document model's writer.
class RichDocxWriter {
public:
    RichDocxWriter() = delete;

    // title goes into the core properties when not empty. The file is made new, and nothing is
    // left at the path on failure. Throws SystemError, CancellationError.
    static void write(const QTextDocument& text, const QString& title, bool letterPaper, const QString& path,
                      std::stop_token stop);

    // Whether the text shows a picture anywhere.
    static bool hasPictures(const QTextDocument& text);
};

} // namespace qv
