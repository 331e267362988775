#pragma once

#include "documents/styles/SourceStyles.h"

#include <QByteArray>

namespace qv {

// The look an ODT states for its paragraphs (sizes, weights, faces, colours, underline,
// alignment, quotations), from its common and automatic styles with their parents, and its page.
// Never fails: what cannot be read is left unstated.
class OpenDocumentStyleReader {
public:
    OpenDocumentStyleReader() = delete;

    static SourceStyles read(const QByteArray& contentXml, const QByteArray& stylesXml);
};

} // namespace qv
