#pragma once

#include "documents/writers/DocxWriter.h"

namespace qv {

// Writes the blocks as an EPUB 3 book at destination, which must not exist: "mimetype" first
// and stored, the container, the package document, the navigation document, one XHTML
// document per chapter (cut at headings of level 1 and 2), a style sheet and the pictures.
// Pictures other than PNG, JPEG and GIF are stored as PNG; those that do not decode are left
// out. Links that point nowhere inside a reader (relative paths, fragments, local files) keep
// their text only. Throws SystemError (EEXIST for a taken destination) and CancellationError;
// a failure leaves no file.
void writeEPUB(const QList<DocBlock>& blocks, const QString& title, const std::optional<QString>& author,
               const QString& destination, const ImageDataLoader& imageDataLoader = {}, std::stop_token stop = {});

// The media type of a picture by its lower-case extension; "image/png" when unknown.
QString epubMediaType(const QString& ext);

} // namespace qv
