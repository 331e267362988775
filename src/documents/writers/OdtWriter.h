#pragma once

#include <QString>

#include <stop_token>

class QTextDocument;

namespace qv {

// Writes rich text as an OpenDocument text: headings stay outline headings of their level,
// lists, tables and pictures keep their shape, and neighbouring runs that look alike are one
// span. The file is made new, never replacing one, and nothing is left at the path on failure.
class OdtWriter {
public:
    OdtWriter() = delete;

    // title goes into the document's properties when not empty. Throws SystemError,
    // CancellationError.
    static void write(const QTextDocument& text, const QString& title, const QString& path, std::stop_token stop);
};

} // namespace qv
