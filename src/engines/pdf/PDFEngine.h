#pragma once

#include "engines/image/foreign/ImageOutput.h"
#include "engines/pdf/PageTextLine.h"
#include "engines/pdf/PDFDocument.h"
#include "engines/pdf/PDFWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/SplitMode.h"
#include "model/settings/SettingsEnums.h"
#include "model/settings/SettingsSnapshot.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTransform>
#include <QUrl>

#include <optional>
#include <stop_token>

namespace qv {

// Every PDF operation. Stateless; each call opens and owns its documents, so calls may run
// side by side on several threads. Refusals throw EngineError, a stop CancellationError; a
// failed call places nothing.
class PDFEngine {
public:
    PDFEngine() = delete;

    // The document unlocked; a password is only tried on a locked one (an empty one counts).
    static PDFDocument open(const QString& path, const std::optional<QString>& password = std::nullopt);

    // The page on opaque white at this resolution, the longer side at most 16000 pixels.
    static QImage renderPage(const PDFDocument& document, int pageIndex, double dpi,
                             std::stop_token stop = {});

    // A new document of these pages in this order; indices outside the document are skipped
    // and repeated ones give repeated pages. Nothing of the source's document data is taken.
    static PDFDocument copyPages(const PDFDocument& document, const QList<int>& pageIndices);

    // The text of every page, pages joined by an empty line.
    static QString plainText(const QString& path, const std::optional<QString>& password = std::nullopt);

    // Whether text taken from a PDF holds something to read: not only blanks, control and
    // format characters, or the replacement character MuPDF gives for a glyph no font names
    // (a font without a Unicode map), of which a conversion would make a document of boxes.
    static bool holdsReadableText(QStringView text);

    // The zero-based page groups of a split of a document of pageCount pages.
    static QList<QList<int>> splitGroups(const SplitMode& mode, int pageCount);
    // One-based page numbers as "1-3, 7".
    static QString pageLabel(QList<int> pageNumbers);

    // Every page of every file, in order, in one PDF.
    static QUrl merge(const QList<FileInfo>& files, const std::optional<QString>& password,
                      const PDFWork& work);
    // One PDF, or a folder of them, by the mode (every page when absent).
    static QUrl split(const QString& path, const std::optional<SplitMode>& mode,
                      const std::optional<QString>& password, const PDFWork& work);
    // The chosen pages in the chosen order; an extraction is named by its pages.
    static QUrl reorder(const QString& path, const std::optional<QString>& password,
                        const QList<int>& pageOrder, bool extract, const PDFWork& work);
    // Every page turned by degrees more (clockwise for positive values), to the nearest quarter
    // turn.
    static QUrl rotate(const QString& path, const std::optional<QString>& password, int degrees,
                       const PDFWork& work);
    // A copy readable only with the password (AES-256), which is also the owner password.
    static QUrl protect(const QString& path, const QString& password, const PDFWork& work);
    // The same document without its encryption.
    static QUrl unlock(const QString& path, const QString& password, const PDFWork& work);

    // A smaller copy through Ghostscript; a note says how much smaller.
    static QUrl compress(const FileInfo& file, PDFCompressionLevel level,
                         const std::optional<QString>& password, const PDFWork& work);
    // A copy without document information or XMP.
    static QUrl removeMetadata(const QString& path, const std::optional<QString>& password,
                               const PDFWork& work);
    // Boxed pages become pictures of themselves with the boxes black. Boxes are in the page's
    // own space, origin at the lower left of its media box, before its rotation.
    static QUrl redact(const QString& path, const std::optional<QString>& password,
                       const QMap<int, QList<QRectF>>& redactions, const PDFWork& work);

    // Every page as an image file at this resolution: one page gives the file, more a folder
    // "<base> (pages)" of "<base> 1.ext", ... Lossy outputs take the settings' quality.
    static QUrl pagesToImages(const QString& path, const std::optional<QString>& baseName,
                              ImageOutput output, const std::optional<QString>& password,
                              double dpi, const SettingsSnapshot& settings, const PDFWork& work);

    // Scanned pages made searchable: every page with fewer than 31 characters of text is read
    // from a picture of it, and its lines are laid over it as invisible text. The pages keep
    // their content and look as before. fontFile is a glyph-less TrueType font. Throws
    // "This PDF already has selectable text" or "No text was found" when no page gains text.
    static QUrl addTextLayer(const QString& path, const PageTextReader& read, const QString& fontFile,
                             const PDFWork& work);

    // The content that draws the lines invisibly over a page, each line stretched to its box.
    // pictureToPage maps the normalised lower-left picture space onto the page's user space;
    // font is the resource name of a font whose codes encode() gives, each glyph half an em wide.
    static QByteArray drawTextLayer(const PageTextLines& lines, const QTransform& pictureToPage,
                                    const QByteArray& fontName,
                                    const std::function<QByteArray(const QString&)>& encode);

    // The payloads of the codes on the first 30 pages, drawn at 150 dpi, in page order; notes
    // hears of stand-ins drawn.
    static QStringList readCodes(const QString& path, const std::optional<QString>& password,
                                 const PageCodeReader& read, std::stop_token stop = {},
                                 JobNotes* notes = nullptr);

    static constexpr double redactionDPI = 300.0;
    static constexpr double textLayerDPI = 300.0;
    static constexpr double codeReadingDPI = 150.0;
    static constexpr int codeReadingPages = 30;
    // Pages with fewer trimmed characters count as scanned.
    static constexpr int textLayerMinimumText = 31;

private:
    // keepOpen false: the file is open only between keepFileOpen(true) and (false) and while
    // single objects are read, so that hundreds of documents may be open at once. parsePages:
    // every page's drawing parsed while opening (for the tools that copy pages as they are),
    // instead of only decoded, so that writing need not parse it again. picturesParsedLater:
    // the caller parses every JPEG picture of every page (PdfPagePictures) before it uses any
    // page, so opening need not look at their first bytes.
    static PDFDocument openFile(const QString& path, const std::optional<QString>& password,
                                bool keepOpen, bool parsePages = false, bool picturesParsedLater = false);
    static PDFDocument copyPagesOf(const PDFDocument& document, const QList<int>& pageIndices);
    // The document's file read once more, for another thread, its pages taken as read whole:
    // only for a file unchanged since the document was read and checked. Throws EngineError.
    static PDFDocument readAgain(const PDFDocument& document);
};

} // namespace qv
