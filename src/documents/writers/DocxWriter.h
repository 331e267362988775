#pragma once

#include "documents/model/DocBlock.h"

#include <functional>
#include <stop_token>

namespace qv {

// Turns an image block's path into its bytes; none when it cannot.
using ImageDataLoader = std::function<std::optional<QByteArray>(const QString& path)>;

// Writes the blocks as a WordprocessingML package at destination, which must not exist: the
// content types, package relationships, core properties (the title), document relationships,
// document, styles and numbering parts, plus one word/media file per picture. Pictures other
// than PNG, JPEG and GIF are stored as PNG; those that do not decode are left out. Throws
// SystemError (EEXIST for a taken destination) and CancellationError; a failure leaves no file.
void writeDOCX(const QList<DocBlock>& blocks, const QString& title, bool letterPaper, const QString& destination,
               const ImageDataLoader& imageDataLoader = {}, std::stop_token stop = {});

// The same package around a body made elsewhere: body is the content of w:body without its
// section properties, relationships the document's own <Relationship> elements (ids other
// than rIdStyles and rIdNumbering), orderedListIDs the numIds of numbered lists, each starting
// at 1 (numId 1 is the bulleted list). Throws as writeDOCX does.
void writeDOCXPackage(const QString& body, const QStringList& relationships, const QList<int>& orderedListIDs,
                      const QString& title, bool letterPaper, const QString& destination, std::stop_token stop = {});

// Text for the package's XML: markup escaped, code points below U+0020 other than tab and
// line feed dropped, and whatever else XML 1.0 cannot carry dropped too.
QString docxEscape(const QString& text);

} // namespace qv
