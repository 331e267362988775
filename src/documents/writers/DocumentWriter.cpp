#include "documents/writers/DocumentWriter.h"

#include "documents/model/DocumentPictures.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/layout/LinesAbovePage.h"
#include "documents/layout/TableFitting.h"
#include "documents/office/OfficeConverter.h"
#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/MarkdownReader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/writers/DocxWriter.h"
#include "documents/writers/EpubWriter.h"
#include "documents/writers/HTMLRenderer.h"
#include "documents/writers/MarkdownWriter.h"
#include "documents/writers/OdtWriter.h"
#include "documents/writers/RichDocxWriter.h"
#include "engines/pdf/PdfOriginalImages.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "platform/files/FileContents.h"
#include "platform/files/FileItems.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QSet>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QUuid>

#include <cmath>

namespace qv {
namespace {

void writeNew(const QString& path, const QByteArray& bytes)
{
    if (const auto error = FileContents::createNew(path, bytes))
        throw *error;
}

QString escapeTitle(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    text.replace(QLatin1Char('"'), QLatin1String("&quot;"));
    return text;
}

const char styleBlock[] =
    "<style>\n"
    "body { font-family: -apple-system, \"Helvetica Neue\", Helvetica, Arial, sans-serif; line-height: 1.55; max-width: 46em; margin: 2em auto; padding: 0 1em; color: #1d1d1f; }\n"
    "h1, h2, h3, h4 { line-height: 1.25; margin: 1.4em 0 0.5em; }\n"
    "pre { background: #f5f5f7; padding: 0.8em 1em; border-radius: 8px; overflow-x: auto; }\n"
    "code { font-family: Menlo, Consolas, monospace; font-size: 0.92em; }\n"
    "blockquote { margin: 1em 0; padding-left: 1em; border-left: 3px solid #d2d2d7; color: #515154; }\n"
    "table { border-collapse: collapse; margin: 1em 0; }\n"
    "th, td { border: 1px solid #d2d2d7; padding: 0.35em 0.7em; text-align: left; }\n"
    "th { background: #f5f5f7; }\n"
    "img { max-width: 100%; height: auto; }\n"
    "hr { border: none; border-top: 1px solid #d2d2d7; margin: 2em 0; }\n"
    "</style>";

QString pageHead(const QString& title)
{
    QString head = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>");
    head += escapeTitle(title);
    head += QStringLiteral("</title>\n");
    head += QString::fromUtf8(styleBlock);
    head += QStringLiteral("\n</head>\n<body>\n");
    return head;
}

const char pageTail[] = "\n</body>\n</html>\n";

void writeODT(QTextDocument& text, const LoadedDocument& document, const QString& path,
              const SettingsSnapshot& settings, std::stop_token stop)
{
    OdtWriter::write(text, settings.preserveMetadata ? document.title() : QString(), path, stop);
}

// RTF and DOC: LibreOffice turns our ODT into them.
void writeThroughLibreOffice(QTextDocument& text, const LoadedDocument& document, const QString& target,
                             const QUrl& destination, const SettingsSnapshot& settings, const QUrl& workFolder,
                             std::stop_token stop)
{
    const QString odt = QDir(workFolder.toLocalFile())
                            .filePath(QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".odt"));
    writeODT(text, document, odt, settings, stop);
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(odt), destination, target, stop);
}

std::optional<QByteArray> resourceOf(const LoadedDocument& document, const QString& path)
{
    return document.loadResource(path);
}

void writeDOCXFromModel(LoadedDocument& document, const QUrl& destination, bool letter, std::stop_token stop)
{
    writeDOCX(document.model().blocks, document.title(), letter, destination.toLocalFile(),
              [&document](const QString& path) { return resourceOf(document, path); }, stop);
}

// DOCX of a rich document keeps its looks, unless it shows pictures: those are kept by the
// writer from the model, which every other document takes.
void writeDOCXOf(LoadedDocument& document, const QUrl& destination, bool letter, const SettingsSnapshot& settings,
                 std::stop_token stop)
{
    if (document.isRich() && !RichDocxWriter::hasPictures(document.richText())) {
        RichDocxWriter::write(document.richText(), settings.preserveMetadata ? document.title() : QString(), letter,
                              destination.toLocalFile(), stop);
        return;
    }
    writeDOCXFromModel(document, destination, letter, stop);
}

void writeEPUBFromModel(LoadedDocument& document, const QUrl& destination, std::stop_token stop)
{
    writeEPUB(document.model().blocks, document.title(), std::nullopt, destination.toLocalFile(),
              [&document](const QString& path) { return resourceOf(document, path); }, stop);
}

// The JPEG and PNG bytes of the pictures the text shows, each once: Qt's PDF writer codes them anew.
QList<QByteArray> storedPictures(const QTextDocument& text, bool* anyPicture)
{
    *anyPicture = false;
    QList<QByteArray> pictures;
    QSet<QString> seen;
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            *anyPicture = true;
            const QString name = format.toImageFormat().name();
            if (seen.contains(name))
                continue;
            seen.insert(name);
            const QVariant resource = text.resource(QTextDocument::ImageResource, QUrl(name));
            if (resource.typeId() == QMetaType::QByteArray
                && (resource.toByteArray().startsWith("\xff\xd8\xff") || resource.toByteArray().startsWith("\x89PNG\r\n\x1a\n")))
                pictures.append(resource.toByteArray());
        }
    }
    return pictures;
}

// A running head or foot, centred in its margin, its page marks filled in.
void drawRunning(QPainter& painter, QString text, const QRectF& area, int pageNumber, int pageCount, QPaintDevice& device)
{
    if (text.isEmpty() || area.height() <= 0)
        return;
    text.replace(QChar(0xE010), QString::number(pageNumber)).replace(QChar(0xE011), QString::number(pageCount));
    painter.save();
    painter.setFont(QFont(DocumentFonts::body(9), &device));
    painter.setPen(Qt::black);
    painter.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, text);
    painter.restore();
}

void drawRunningText(QPainter& painter, const LoadedDocument::PageSetup& page, QSizeF pageSize, QMarginsF margins,
                     double scale, QPaintDevice& device, int pageNumber, int pageCount)
{
    // Only margins with room for a line carry one.
    constexpr double room = 20;
    if (margins.top() >= room)
        drawRunning(painter, page.header, QRectF(margins.left() * scale, 0, (pageSize.width() - margins.left() - margins.right()) * scale, margins.top() * scale), pageNumber, pageCount, device);
    if (margins.bottom() >= room)
        drawRunning(painter, page.footer,
                    QRectF(margins.left() * scale, (pageSize.height() - margins.bottom()) * scale,
                           (pageSize.width() - margins.left() - margins.right()) * scale, margins.bottom() * scale),
                    pageNumber, pageCount, device);
}

// Qt writes page boxes in whole points; A4 is 595.28 x 841.89. The exact box has as many
// characters as the rounded one, so no offset in the file moves. A PDF rewritten for its
// pictures spells the box with spaces inside the brackets.
QByteArray exactPageBoxes(QByteArray pdf, QSizeF size)
{
    const QByteArray rounded = QByteArray::number(std::round(size.width()), 'f', 6) + ' '
        + QByteArray::number(std::round(size.height()), 'f', 6);
    const QByteArray exact = QByteArray::number(size.width(), 'f', 6) + ' ' + QByteArray::number(size.height(), 'f', 6);
    if (rounded.size() != exact.size())
        return pdf;
    pdf.replace("/MediaBox [0 0 " + rounded + ']', "/MediaBox [0 0 " + exact + ']');
    pdf.replace("/MediaBox [ 0 0 " + rounded + " ]", "/MediaBox [ 0 0 " + exact + " ]");
    return pdf;
}

// Qt's layout scales a block's top and bottom margins to the paint device but not its left and
// right ones, so on a printer's resolution a quote's indent shrinks to nothing. Scaled here for
// the time of one layout, then given back.
class SideMarginsOnDevice {
public:
    SideMarginsOnDevice(QTextDocument& text, double factor) : m_text(text)
    {
        if (qFuzzyCompare(factor, 1.0))
            return;
        QTextCursor cursor(&m_text);
        for (QTextBlock block = m_text.begin(); block.isValid(); block = block.next()) {
            QTextBlockFormat format = block.blockFormat();
            if (format.leftMargin() == 0 && format.rightMargin() == 0)
                continue;
            m_saved.append({block.position(), format});
            format.setLeftMargin(format.leftMargin() * factor);
            format.setRightMargin(format.rightMargin() * factor);
            cursor.setPosition(block.position());
            cursor.setBlockFormat(format);
        }
    }
    ~SideMarginsOnDevice()
    {
        QTextCursor cursor(&m_text);
        for (const auto& [position, format] : std::as_const(m_saved)) {
            cursor.setPosition(position);
            cursor.setBlockFormat(format);
        }
    }

private:
    QTextDocument& m_text;
    QList<std::pair<int, QTextBlockFormat>> m_saved;
};

} // namespace

QSizeF DocumentWriter::pageSizePoints(const SettingsSnapshot& settings, const OperationOptions& options)
{
    const PageSizeChoice choice = options.pageSize.value_or(settings.pageSize);
    return choice == PageSizeChoice::letter ? QSizeF(612, 792) : QSizeF(595.28, 841.89);
}

QSizeF DocumentWriter::documentPageSize(const LoadedDocument& document, const SettingsSnapshot& settings,
                                        const OperationOptions& options)
{
    const QSizeF size = pageSizePoints(settings, options);
    return document.pageSetup().landscape ? size.transposed() : size;
}

QMarginsF DocumentWriter::documentMargins(const LoadedDocument& document, QSizeF pageSize)
{
    const std::optional<QMarginsF> stated = document.pageSetup().margins;
    const QMarginsF fallback(margin, margin, margin, margin);
    if (!stated)
        return fallback;
    // A page that leaves under half its width or height for text keeps our margin.
    const auto sane = [](double value, double extent) { return value >= 0 && value <= extent / 4; };
    if (!sane(stated->left(), pageSize.width()) || !sane(stated->right(), pageSize.width())
        || !sane(stated->top(), pageSize.height()) || !sane(stated->bottom(), pageSize.height()))
        return fallback;
    // Text printed to the edge would be cut by a printer.
    constexpr double least = 14;
    return QMarginsF(std::max(stated->left(), least), std::max(stated->top(), least),
                     std::max(stated->right(), least), std::max(stated->bottom(), least));
}

int DocumentWriter::paginateToPDF(QTextDocument& text, const QUrl& destination, QSizeF pageSize, QMarginsF margins,
                                  const LoadedDocument::PageSetup& setup)
{
    if (text.isEmpty())
        text.setPlainText(QStringLiteral(" "));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setCreator(QStringLiteral("Quorvenda"));
        const bool landscape = pageSize.width() > pageSize.height();
        const QSizeF portrait = landscape ? pageSize.transposed() : pageSize;
        const bool letter = qFuzzyCompare(portrait.width(), 612.0) && qFuzzyCompare(portrait.height(), 792.0);
        const bool a4 = qFuzzyCompare(portrait.width(), 595.28) && qFuzzyCompare(portrait.height(), 841.89);
        const QPageSize size = letter ? QPageSize(QPageSize::Letter)
                               : a4   ? QPageSize(QPageSize::A4)
                                      : QPageSize(portrait, QPageSize::Point, QString(), QPageSize::ExactMatch);
        if (!writer.setPageLayout(QPageLayout(size, landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                              QMarginsF(0, 0, 0, 0), QPageLayout::Point)))
            throw EngineError(QStringLiteral("Couldn't create the PDF"));
        // Laid out in the writer's own units, so text measures as it will print.
        const double scale = writer.resolution() / 72.0;
        text.documentLayout()->setPaintDevice(&writer);
        // The page's margins are the whole margin: Qt's own frame margin would add 3 points.
        const qreal frameMargin = text.documentMargin();
        text.setDocumentMargin(0);
        const SideMarginsOnDevice sideMargins(text, writer.logicalDpiX() / 96.0);
        const QSizeF body((pageSize.width() - margins.left() - margins.right()) * scale,
                          (pageSize.height() - margins.top() - margins.bottom()) * scale);
        text.setPageSize(body);
        TableFitting::fitTables(text, body.width(), &writer);
        const int pages = std::clamp(text.pageCount(), 1, maximumPages);

        QPainter painter;
        if (!painter.begin(&writer))
            throw EngineError(QStringLiteral("Couldn't create the PDF"));
        QTextBlock firstBlockLeft;
        for (int page = 0; page < pages; ++page) {
            if (page > 0 && !writer.newPage())
                throw EngineError(QStringLiteral("Couldn't create the PDF"));
            painter.save();
            painter.translate(margins.left() * scale, margins.top() * scale - page * body.height());
            const QRectF visible(0, page * body.height(), body.width(), body.height());
            painter.setClipRect(visible);
            const LinesAbovePage linesAbove(text, page * body.height(), body.height(), firstBlockLeft);
            QAbstractTextDocumentLayout::PaintContext context;
            // A picture moved on to the next page starts on this page's edge, a rounding away:
            // drawn here too, it leaves a sliver at the foot of the page.
            context.clip = visible.adjusted(0, 0, 0, -1);
            context.palette.setColor(QPalette::Text, Qt::black);
            text.documentLayout()->draw(&painter, context);
            painter.restore();
            drawRunningText(painter, setup, pageSize, margins, scale, writer, page + 1, pages);
        }
        if (!painter.end())
            throw EngineError(QStringLiteral("Couldn't create the PDF"));
        text.documentLayout()->setPaintDevice(nullptr);
        text.setDocumentMargin(frameMargin);
        buffer.close();
        bool anyPicture = false;
        const QList<QByteArray> pictures = storedPictures(text, &anyPicture);
        // Only pictures are rewritten: a text without any is written as the painter made it.
        writeNew(destination.toLocalFile(),
                 exactPageBoxes(anyPicture ? PdfOriginalImages::restorePictures(buffer.data(), pictures) : buffer.data(), pageSize));
        return pages;
    }
}

QString DocumentWriter::htmlPage(LoadedDocument& document)
{
    QString page = pageHead(document.title());
    page += HTMLRenderer::renderHTMLWithEmbeddedImages(document.model().blocks, false, document.baseURL());
    page += QLatin1String(pageTail);
    return page;
}

qint64 DocumentWriter::writeMarkdownPage(const FileInfo& file, const QUrl& destination, std::stop_token stop,
                                         int* picturesLeftOut)
{
    throwIfCancelled(stop);
    TextLoaders::DecodedText source = TextLoaders::readTextWithDetectedEncoding(file.url);
    const qint64 replaced = source.replaced;
    QByteArray page;
    const std::optional<QUrl> folder = QUrl::fromLocalFile(QFileInfo(file.path()).absolutePath());
    const std::optional<QString> title = MarkdownReader::writeHTML(
        std::move(source.text),
        [&](const DocBlock& image) {
            if (picturesLeftOut && image.path && !image.data
                && DocumentPictures::resolve(*image.path, folder->toLocalFile(), folder->toLocalFile()).place
                    == DocumentPictures::Place::outside)
                ++*picturesLeftOut;
            return HTMLRenderer::embeddedImageSource(image, folder);
        },
        [&](QByteArrayView piece) {
            throwIfCancelled(stop);
            page += piece;
        });
    // The title is known once the text has been read.
    page.prepend(pageHead(title.value_or(file.baseName)).toUtf8());
    page += pageTail;
    writeNew(destination.toLocalFile(), page);
    return replaced;
}

void DocumentWriter::writeMarkdownOutput(LoadedDocument& document, const QUrl& destination, const QString& markdownName)
{
    const QList<DocBlock>& blocks = document.model().blocks;
    const bool carriesBytes = std::any_of(blocks.begin(), blocks.end(), [](const DocBlock& block) {
        return block.kind == DocBlock::Kind::image && block.data.has_value();
    });
    if (!carriesBytes) {
        writeNew(destination.toLocalFile(), MarkdownWriter::renderMarkdown(blocks).toUtf8());
        return;
    }
    const QDir folder(destination.toLocalFile());
    const QString images = folder.filePath(QStringLiteral("images"));
    if (const int error = FileItems::makePath(images))
        throw SystemError::fromErrno(error, QStringLiteral("Cannot create the images folder"));
    int counter = 0;
    std::optional<SystemError> failed;
    const QString text = MarkdownWriter::renderMarkdown(blocks, [&](int, const DocBlock& block) -> std::optional<QString> {
        if (block.kind != DocBlock::Kind::image)
            return std::nullopt;
        if (!block.data)
            return block.path;
        const QString name = QStringLiteral("image-%1.%2").arg(++counter).arg(block.ext.isEmpty() ? QStringLiteral("png") : block.ext);
        if (const auto error = FileContents::createNew(QDir(images).filePath(name), *block.data); error && !failed)
            failed = *error;
        return QStringLiteral("images/") + name;
    });
    if (failed)
        throw *failed;
    writeNew(folder.filePath(markdownName + QStringLiteral(".md")), text.toUtf8());
}

void DocumentWriter::writeDocument(LoadedDocument& document, DocumentOutput output, const QUrl& destination,
                                   const SettingsSnapshot& settings, const OperationOptions& options,
                                   const QUrl& workFolder, std::stop_token stop, const QString& markdownName)
{
    throwIfCancelled(stop);
    const bool letter = options.pageSize.value_or(settings.pageSize) == PageSizeChoice::letter;
    switch (output) {
    case DocumentOutput::pdf: {
        const QSizeF sourcePage = documentPageSize(document, settings, options);
        paginateToPDF(document.richText(), destination, sourcePage, documentMargins(document, sourcePage),
                      document.pageSetup());
        return;
    }
    case DocumentOutput::docx:
        writeDOCXOf(document, destination, letter, settings, stop);
        return;
    case DocumentOutput::odt:
        writeODT(document.richText(), document, destination.toLocalFile(), settings, stop);
        return;
    case DocumentOutput::rtf:
    case DocumentOutput::doc:
        writeThroughLibreOffice(document.richText(), document, documentOutputRawValue(output), destination,
                                settings, workFolder, stop);
        return;
    case DocumentOutput::html:
        writeNew(destination.toLocalFile(), htmlPage(document).toUtf8());
        return;
    case DocumentOutput::txt: {
        QString text;
        if (document.isRich()) {
            text = AttributedTextReader::plainText(document.richText());
        } else {
            text = document.model().plainText();
        }
        writeNew(destination.toLocalFile(), text.toUtf8());
        return;
    }
    case DocumentOutput::md:
        writeMarkdownOutput(document, destination, markdownName);
        return;
    case DocumentOutput::epub:
        writeEPUBFromModel(document, destination, stop);
        return;
    case DocumentOutput::png:
    case DocumentOutput::jpg:
    case DocumentOutput::pages:
        throw EngineError(documentOutputRawValue(output).toUpper() + QStringLiteral(" is produced through PDF"));
    }
}

} // namespace qv
