#pragma once

#include "model/operations/OperationContext.h"

#include <QByteArray>
#include <QUrl>

namespace qv {

struct DocumentPlanner;

// A copy of a document without its author, editing history and custom properties. DOCX and
// EPUB are rewritten part by part straight from package to package, so nothing but the parts
// (no links, no special files) reaches the copy; other documents are loaded and written again.
class DocumentMetadata {
public:
    DocumentMetadata() = delete;

    // Returns the placed copy, "<base> (<suffix>).<ext>". The source is only read.
    static QUrl removeDocumentMetadata(const FileInfo& file, const OperationContext& context, const DocumentPlanner& planner);

    // The parts' new contents; none leaves a part as it is.
    static QByteArray coreProperties();
    static QByteArray extendedProperties();
    static std::optional<QByteArray> customProperties(const QByteArray& part);
    // w:author, w:initials and w:date blanked.
    static std::optional<QByteArray> anonymousWordPart(const QByteArray& part);
    // The root kept, its persons gone.
    static std::optional<QByteArray> emptyPeople(const QByteArray& part);
    // Only identifier, title, language and the modified date stay in the package's metadata.
    static std::optional<QByteArray> filteredPackageDocument(const QByteArray& part);

    // Parts edited here are read whole up to this size.
    static constexpr qint64 maximumPartBytes = 256LL * 1024 * 1024;
};

} // namespace qv
