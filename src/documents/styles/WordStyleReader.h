#pragma once

#include "documents/styles/SourceStyles.h"

#include <QByteArray>
#include <QHash>

namespace qv {

// The look a DOCX states for its paragraphs (sizes, weights, faces, colours, alignment), its
// styles' inheritance resolved, and its page size and orientation. Never fails: what cannot be
// read is left unstated.
class WordStyleReader {
public:
    WordStyleReader() = delete;

    static SourceStyles read(const QByteArray& documentXml, const QByteArray& stylesXml);

    // The part (below word/) each relation id of document.xml.rels names.
    static QHash<QString, QString> relationTargets(const QByteArray& relsXml);

    // A header or footer part's text: paragraphs on lines of their own, PAGE and NUMPAGES
    // fields as SourceStyles' marks.
    static QString runningText(const QByteArray& partXml);
};

} // namespace qv
