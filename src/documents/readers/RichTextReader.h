#pragma once

#include <QMarginsF>
#include <QTextDocument>
#include <QUrl>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>

namespace qv {

// Files the rich-text layer reads: RTF, DOCX and ODT through pandoc (to HTML5, its images
// extracted into the work folder), HTML through QTextDocument itself.
class RichTextReader {
public:
    RichTextReader() = delete;

    struct Result {
        std::unique_ptr<QTextDocument> document;
        // What the file's own metadata declares.
        std::optional<QString> title;
        // The file's page: turned on its side, and its margins in points when it states them.
        bool landscape = false;
        std::optional<QMarginsF> margins;
        // Pictures it names that were left out: linked files, files outside its folder.
        int picturesLeftOut = 0;
        // Its running head and foot (SourceStyles' page marks in them).
        QString header;
        QString footer;
    };

    // format: "rtf", "docx" or "odt". Throws EngineError "This document is damaged or not in a
    // supported format" (pandoc's error output as its log) when pandoc rejects the file or
    // runs past the time limit, "This document couldn't be read" when its page comes out cut
    // short, SystemError ENOSPC when it ran out of room, CancellationError when stopped. Only
    // workFolder is written.
    static Result readAttributedFile(const QUrl& file, const QString& format, const QUrl& workFolder,
                                     std::stop_token stop);

    // HTML laid out by QTextDocument, relative images read against the file's folder. Throws
    // EngineError "This document couldn't be read".
    static Result readHTMLFile(const QUrl& file);

    static std::chrono::seconds pandocTimeLimit;
};

} // namespace qv
