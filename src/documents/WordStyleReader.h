#pragma once

#include "documents/SourceStyles.h"

#include <QByteArray>

namespace qv {

// The look a DOCX states for its paragraphs (sizes, weights, faces, colours, alignment), its
// styles' inheritance resolved, and its page size and orientation. Never fails: what cannot be
// read is left unstated.
class WordStyleReader {
public:
    WordStyleReader() = delete;

    static SourceStyles read(const QByteArray& documentXml, const QByteArray& stylesXml);
};

} // namespace qv
