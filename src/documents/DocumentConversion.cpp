#include "documents/DocumentConversion.h"

#include "documents/model/DocumentPictures.h"

#include "documents/DocumentPlanner.h"
#include "documents/office/OfficeConverter.h"
#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/DocumentLoader.h"
#include "documents/readers/TextLoaders.h"
#include "documents/writers/DocumentWriter.h"
#include "engines/pdf/PDFEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QFileInfo>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFragment>
#include <QUuid>

namespace qv {
namespace {

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString formatID(const FileInfo& file)
{
    return file.format ? file.format->id : QString();
}

// A Pages file goes to these through the office converter alone, never loaded.
bool exportedByOffice(const FileInfo& file, DocumentOutput target)
{
    static const QList<DocumentOutput> pagesExports{DocumentOutput::pdf, DocumentOutput::docx, DocumentOutput::epub,
                                                    DocumentOutput::txt, DocumentOutput::rtf};
    return target == DocumentOutput::pages
        || (formatID(file) == QLatin1String("pages") && pagesExports.contains(target));
}

QUrl deliverWork(const QUrl& work, const QString& baseName, const QString& extension, const DocumentPlanner& planner)
{
    // Markdown with pictures is a folder and goes without an extension.
    const bool folder = QFileInfo(work.toLocalFile()).isDir();
    return planner.deliver(work, baseName, folder ? QString() : extension);
}

// The pages of the laid-out PDF as images, named after the source.
QUrl renderPagesToImages(const QUrl& pdf, const QString& baseName, bool png, double dpi,
                         const OperationContext& context, const DocumentPlanner& planner, Progress& progress)
{
    PDFWork work;
    work.workFile = [&planner](const QString& extension) { return planner.workURL(extension, freshName()); };
    work.workFolder = [&planner](const QString& name) { return planner.makeWorkSubdirectory(name); };
    work.place = [&planner](const QUrl& file, const QString& name, const QString& extension) {
        return planner.deliver(file, name, extension);
    };
    work.suffix = [&context](const QString& word) { return context.settings.suffixForOperation(word); };
    work.baseName = baseName;
    work.progress = &progress;
    work.notes = context.notes;
    work.stop = context.stopToken;
    return PDFEngine::pagesToImages(pdf.toLocalFile(), baseName, png ? ImageOutput::png : ImageOutput::jpg,
                                    std::nullopt, dpi, context.settings, work);
}

// Copies the pictures a rich text names into another one, which only refers to them by name.
void copyImageResources(const QTextDocument& from, QTextDocument& to)
{
    for (QTextBlock block = from.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QUrl name(format.toImageFormat().name());
            const QVariant image = from.resource(QTextDocument::ImageResource, name);
            if (image.isValid())
                to.addResource(QTextDocument::ImageResource, name, image);
        }
    }
}

// What the reading of a document had to say goes to the job's messages.
void passNotes(const LoadedDocument& document, const OperationContext& context)
{
    if (!context.notes)
        return;
    for (const QString& note : document.notes())
        context.notes->addMessage(note);
}

} // namespace

bool DocumentConversion::needsPandoc(const FileInfo& file, std::optional<DocumentOutput> target)
{
    static const QStringList readByPandoc{QStringLiteral("docx"), QStringLiteral("odt"), QStringLiteral("rtf"),
                                          QStringLiteral("rtfd"), QStringLiteral("doc"), QStringLiteral("pages")};
    if (!readByPandoc.contains(formatID(file)))
        return false;
    return !target || !exportedByOffice(file, *target);
}

DocumentOutput DocumentConversion::mergeTarget(const QString& id)
{
    for (DocumentOutput output : {DocumentOutput::md, DocumentOutput::txt, DocumentOutput::html,
                                  DocumentOutput::rtf, DocumentOutput::odt, DocumentOutput::epub}) {
        if (documentOutputRawValue(output) == id)
            return output;
    }
    return DocumentOutput::docx;
}

QUrl DocumentConversion::convertDocument(const FileInfo& file, DocumentOutput target, const OperationContext& context,
                                         const DocumentPlanner& planner, Progress& progress)
{
    reportProgress(0.05, progress);
    const QString extension = documentOutputRawValue(target);
    const QString baseName = splitFileName(QFileInfo(planner.source().toLocalFile()).fileName()).baseName;
    if (exportedByOffice(file, target)) {
        const QUrl work = planner.workURL(extension, freshName());
        OfficeConverter::convertOfficeDocument(file.url, work, extension, FileCategory::document, context.stopToken);
        return deliverWork(work, baseName, extension, planner);
    }

    if (target == DocumentOutput::html && formatID(file) == QLatin1String("md")) {
        // Straight from the parser to the page, never the whole document in memory as blocks.
        const QUrl work = planner.workURL(extension, freshName());
        int picturesLeftOut = 0;
        const qint64 replaced = DocumentWriter::writeMarkdownPage(file, work, context.stopToken, &picturesLeftOut);
        if (context.notes) {
            if (const QString note = TextLoaders::replacementNote(file.name, replaced); !note.isEmpty())
                context.notes->addMessage(note);
            if (const QString note = DocumentPictures::leftOutNote(picturesLeftOut); !note.isEmpty())
                context.notes->addMessage(note);
        }
        throwIfCancelled(context.stopToken);
        reportProgress(0.95, progress);
        return deliverWork(work, baseName, extension, planner);
    }

    std::unique_ptr<LoadedDocument> document = DocumentLoader::loadDocument(file, planner.workDirectory(), context.stopToken);
    passNotes(*document, context);
    reportProgress(0.4, progress);

    if (target == DocumentOutput::png || target == DocumentOutput::jpg) {
        const QUrl pdf = planner.workURL(QStringLiteral("pdf"), freshName());
        const QSizeF page = DocumentWriter::documentPageSize(*document, context.settings, context.options);
        DocumentWriter::paginateToPDF(document->richText(), pdf, page, DocumentWriter::documentMargins(*document, page),
                                      document->pageSetup());
        throwIfCancelled(context.stopToken);
        const double dpi = context.options.dpi.value_or(std::min(context.settings.pdfDPI, 200.0));
        return renderPagesToImages(pdf, file.baseName, target == DocumentOutput::png, dpi, context, planner, progress);
    }

    const QUrl work = planner.workURL(extension, freshName());
    DocumentWriter::writeDocument(*document, target, work, context.settings, context.options, planner.workDirectory(),
                                  context.stopToken, baseName);
    throwIfCancelled(context.stopToken);
    reportProgress(0.95, progress);
    return deliverWork(work, baseName, extension, planner);
}

std::vector<std::unique_ptr<LoadedDocument>> DocumentConversion::loadDocumentsInOrder(const QList<FileInfo>& files,
                                                                                      const QUrl& workFolder,
                                                                                      std::stop_token stop)
{
    // One after another: rich text lives in objects that stay with the thread that made them.
    std::vector<std::unique_ptr<LoadedDocument>> documents;
    for (const FileInfo& file : files) {
        throwIfCancelled(stop);
        documents.push_back(DocumentLoader::loadDocument(file, workFolder, stop));
    }
    return documents;
}

QUrl DocumentConversion::mergeDocuments(const QList<FileInfo>& files, const OperationContext& context,
                                        const DocumentPlanner& planner, Progress& progress)
{
    if (files.isEmpty())
        throw EngineError(QStringLiteral("There is nothing to merge"));
    std::vector<std::unique_ptr<LoadedDocument>> documents =
        loadDocumentsInOrder(files, planner.workDirectory(), context.stopToken);
    for (const auto& document : documents)
        passNotes(*document, context);
    reportProgress(0.6, progress);
    // Text of no known format (a README, a log) merges into text.
    const DocumentOutput target = mergeTarget(files.first().format ? formatID(files.first()) : QStringLiteral("txt"));
    LoadedDocument& first = *documents.front();

    std::unique_ptr<LoadedDocument> merged;
    if (target == DocumentOutput::md || target == DocumentOutput::html || target == DocumentOutput::epub) {
        QList<DocBlock> blocks;
        for (const auto& document : documents) {
            throwIfCancelled(context.stopToken);
            // A web archive has its content only once its loader has run.
            if (!document->hasModel() && document->hasRichLoader())
                document->richText();
            const QList<DocBlock>& more = document->model().blocks;
            if (!blocks.isEmpty() && !more.isEmpty())
                blocks.append(DocBlock::pageBreak());
            blocks += more;
        }
        merged = std::make_unique<LoadedDocument>(first.title(), first.baseURL(), false);
        DocumentModel model;
        model.title = first.title();
        model.blocks = std::move(blocks);
        merged->setModel(std::move(model));
    } else {
        auto joined = std::make_unique<QTextDocument>();
        QTextCursor cursor(joined.get());
        for (const auto& document : documents) {
            throwIfCancelled(context.stopToken);
            QTextDocument& text = document->richText();
            if (joined->characterCount() > 1) {
                // A page break: a form feed on a line of its own that ends the page.
                QTextBlockFormat separator;
                separator.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysAfter);
                cursor.insertBlock(separator, QTextCharFormat());
                cursor.insertText(QString(QChar(0x0C)));
                cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
            }
            copyImageResources(text, *joined);
            cursor.insertFragment(QTextDocumentFragment(&text));
        }
        merged = std::make_unique<LoadedDocument>(first.title(), std::nullopt, true);
        merged->setRichText(std::move(joined));
    }

    const QString extension = documentOutputRawValue(target);
    const QString baseName = planner.outputBaseName(context.settings.suffixForOperation(QStringLiteral("merge")));
    const QUrl work = planner.workURL(extension, freshName());
    DocumentWriter::writeDocument(*merged, target, work, context.settings, context.options, planner.workDirectory(),
                                  context.stopToken, baseName);
    throwIfCancelled(context.stopToken);
    return deliverWork(work, baseName, extension, planner);
}

void DocumentConversion::countWords(const FileInfo& file, const OperationContext& context, const DocumentPlanner& planner)
{
    std::unique_ptr<LoadedDocument> document = DocumentLoader::loadDocument(file, planner.workDirectory(), context.stopToken);
    passNotes(*document, context);
    QString text;
    if (document->isRich()) {
        text = AttributedTextReader::plainText(document->richText());
    } else {
        text = document->model().plainText();
    }
    const TextLoaders::Statistics stats = TextLoaders::textStatistics(text);
    const QString line = TextLoaders::statisticsLine(stats.words, stats.characters);
    if (context.notes) {
        context.notes->addMessage(line);
        context.notes->addClipboardText(line);
    }
}

} // namespace qv
