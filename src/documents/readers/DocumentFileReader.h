#pragma once

#include "documents/model/DocumentModel.h"

#include <stop_token>

namespace qv {

// A document file read into the model by its extension: md, markdown; html, htm; xhtml, xht
// (strictly first); txt, text; rtf, docx and odt through the rich-text layer; web archives
// and text clippings.
class DocumentFileReader {
public:
    DocumentFileReader() = delete;

    // workFolder receives what pandoc writes; the caller owns and removes it. Throws
    // EngineError with a one-sentence message, SystemError, CancellationError.
    static DocumentModel read(const QUrl& file, const QUrl& workFolder, std::stop_token stop = {});

    // Whether read takes files with this lower-case extension.
    static bool canRead(const QString& ext);
};

} // namespace qv
