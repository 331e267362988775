#pragma once

#include "documents/model/LoadedDocument.h"
#include "documents/writers/DocumentOutput.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsSnapshot.h"

#include <QSizeF>
#include <QUrl>

#include <stop_token>

namespace qv {

// Writes a loaded document in one of the document targets: PDF laid out page by page, ODT,
// RTF and DOC (through LibreOffice from our ODT), HTML, Markdown, text, DOCX and EPUB.
class DocumentWriter {
public:
    DocumentWriter() = delete;

    // destination must not exist yet. markdownName names the .md file inside the folder that
    // Markdown with pictures becomes. Throws EngineError ("Couldn't create the PDF", "<EXT> is
    // produced through PDF", LibreOffice's), SystemError, CancellationError.
    static void writeDocument(LoadedDocument& document, DocumentOutput output, const QUrl& destination,
                              const SettingsSnapshot& settings, const OperationOptions& options,
                              const QUrl& workFolder, std::stop_token stop, const QString& markdownName);

    // Lays the text out on pages of width x height points (wider than high: landscape) with the
    // margins and writes them as a PDF; returns the page count (1 to maximumPages). Tables
    // wider than the text shrink their type first.
    // The page setup's header and footer are drawn in the margins, with page numbers.
    static int paginateToPDF(QTextDocument& text, const QUrl& destination, QSizeF pageSize, QMarginsF margins,
                             const LoadedDocument::PageSetup& page = {});
    static int paginateToPDF(QTextDocument& text, const QUrl& destination, QSizeF pageSize, double margin)
    {
        return paginateToPDF(text, destination, pageSize, QMarginsF(margin, margin, margin, margin));
    }

    static void writeMarkdownOutput(LoadedDocument& document, const QUrl& destination, const QString& markdownName);

    // The whole HTML page with its style block.
    static QString htmlPage(LoadedDocument& document);

    // A Markdown file as the page htmlPage makes of it once loaded, byte for byte, written
    // straight from the parser without the model. Returns how many characters reading the
    // file replaced; picturesLeftOut, when given, counts the pictures outside the file's folder
    // that were left out. Throws as loading and writeDocument do.
    static qint64 writeMarkdownPage(const FileInfo& file, const QUrl& destination, std::stop_token stop,
                                    int* picturesLeftOut = nullptr);

    // The option's page size, else the setting's, in points.
    static QSizeF pageSizePoints(const SettingsSnapshot& settings, const OperationOptions& options);

    // The page a document is laid out on: the chosen size, on its side when the source's page
    // is; the source's margins when it states sensible ones, else the margin.
    static QSizeF documentPageSize(const LoadedDocument& document, const SettingsSnapshot& settings,
                                   const OperationOptions& options);
    static QMarginsF documentMargins(const LoadedDocument& document, QSizeF pageSize);

    static constexpr double margin = 56.7;
    static constexpr int maximumPages = 10000;
};

} // namespace qv
