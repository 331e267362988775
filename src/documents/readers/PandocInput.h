#pragma once

#include "documents/styles/SourceStyles.h"

#include <QList>
#include <QString>

#include <optional>
#include <stop_token>

namespace qv {

// A DOCX, ODT or RTF file made ready for pandoc, with what pandoc does not tell: the title in
// the file's properties, which tables are drawn with borders and the look of its text. Text boxes of a DOCX are
// lifted into the text after their paragraph, page breaks of DOCX and RTF become
// RtfDecoder::pageMark, and RTF text is decoded by its code pages.
class PandocInput {
public:
    PandocInput() = delete;

    struct Prepared {
        QString path;                 // the file pandoc reads: the original or a rewrite in the work folder
        std::optional<QString> title; // the title the file's properties declare
        QList<bool> borderedTables;   // per table, in the order the tables begin
        bool bordersKnown = false;
        bool anyBorders = false;      // some table has borders (when the per-table list is unknown)
        bool betterThroughOffice = false; // holds what pandoc reads poorly (RTF tables in tables)
        SourceStyles styles;              // the look the file states, which pandoc does not keep
    };

    // Never fails on the content: a file that cannot be looked into is handed on unchanged.
    // Throws SystemError when the rewrite cannot be written, CancellationError.
    static Prepared prepare(const QString& file, const QString& format, const QString& workFolder,
                            std::stop_token stop);

    // Exposed for tests.
    static QByteArray liftTextBoxes(const QByteArray& documentXml);
    static QList<bool> wordTableBorders(const QByteArray& documentXml, const QByteArray& stylesXml);
    static QList<bool> openDocumentTableBorders(const QByteArray& contentXml, const QByteArray& stylesXml);
};

} // namespace qv
