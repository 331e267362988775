#pragma once

#include "documents/model/LoadedDocument.h"
#include "model/files/FileInfo.h"

#include <memory>
#include <stop_token>

namespace qv {

// Turns a document file into a LoadedDocument, choosing the reader by its format.
class DocumentLoader {
public:
    DocumentLoader() = delete;

    // workFolder receives what readers unpack or convert; the job removes it. A file of no known
    // format is read as plain text. Throws EngineError "This document type can't be converted"
    // for a type without a reader, "This document is
    // damaged or not in a supported format" when a word-processor file cannot be read, the
    // readers' own errors otherwise, and CancellationError.
    static std::unique_ptr<LoadedDocument> loadDocument(const FileInfo& file, const QUrl& workFolder,
                                                        std::stop_token stop);

    // The rich text of a plain text: the body face at 11 points, black, lines at 1.15.
    static std::unique_ptr<QTextDocument> plainRichText(const QString& text);
};

} // namespace qv
