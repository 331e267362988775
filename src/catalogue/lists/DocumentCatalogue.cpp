#include "catalogue/lists/DocumentCatalogue.h"

#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "catalogue/adapters/PdfWorkAdapter.h"
#include "catalogue/OperationFactories.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "documents/DocumentConversion.h"
#include "documents/model/DocumentMetadata.h"
#include "documents/office/OfficeConverter.h"
#include "documents/readers/TextLoaders.h"
#include "engines/pdf/PDFEngine.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"

#include <QFileInfo>
#include <QUuid>

namespace qv {
namespace {

QString formatID(const FileInfo& file)
{
    return file.format ? file.format->id : QString();
}

// Slides come out of their PDF at 144 DPI, named after the presentation.
QList<QUrl> renderSlides(const QUrl& pdf, const FileInfo& file, bool png, const OperationContext& context,
                         OutputPlanner& planner, Progress& progress)
{
    return {PDFEngine::pagesToImages(pdf.toLocalFile(), file.baseName, png ? ImageOutput::png : ImageOutput::jpg,
                                     std::nullopt, 144, context.settings, pdfWork(context, planner, progress))};
}

QList<QUrl> exportPresentation(const FileInfo& file, const QString& extension, bool imageTarget,
                               const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!imageTarget) {
        const QUrl work = planner.workURL(extension, name);
        OfficeConverter::convertOfficeDocument(file.url, work, extension, FileCategory::presentation, context.stopToken);
        const QString baseName = splitFileName(QFileInfo(planner.source().toLocalFile()).fileName()).baseName;
        return {planner.deliver(work, baseName, extension)};
    }
    const QUrl pdf = planner.workURL(QStringLiteral("pdf"), name);
    OfficeConverter::convertOfficeDocument(file.url, pdf, QStringLiteral("pdf"), FileCategory::presentation, context.stopToken);
    reportProgress(0.5, progress);
    return renderSlides(pdf, file, extension == QLatin1String("png"), context, planner, progress);
}

// The document tools and conversions read their source: a file of no known format only when it
// is text, a Word, OpenDocument or RTF file only with pandoc, a Word 97 file only with LibreOffice.
bool documentSourceAccepts(const FileInfo& file, std::optional<DocumentOutput> target)
{
    if (!pagesSourceAccepts(file))
        return false;
    // Word 97 is read through LibreOffice, as the DOCX it writes.
    if (formatID(file) == QLatin1String("doc") && !Capabilities::shared().libreOfficeURL())
        return false;
    if (!file.format && !file.isDirectory && !file.isPromise && !TextLoaders::looksLikeText(file.path()))
        return false;
    return !DocumentConversion::needsPandoc(file, target) || Capabilities::shared().pandocURL().has_value();
}

OperationDescriptor textTool(FileCategory category, const char* name, const char* title, const char* symbol,
                             const char* verb)
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.") + toString(category) + QLatin1Char('.') + QString::fromLatin1(name);
    d.wheel = WheelKind::tools;
    d.group = QString::fromLatin1(name);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {category};
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::text);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    d.accepts = [](const FileInfo& file) { return documentSourceAccepts(file, std::nullopt); };
    return d;
}

} // namespace

bool pagesSourceAccepts(const FileInfo& file)
{
    if (formatID(file) != QLatin1String("pages"))
        return true;
    return OfficeConverter::canConvertOfficeDocument(QStringLiteral("docx"), FileCategory::document, QStringLiteral("pages"));
}

OperationDescriptor makeConversionTool(FileCategory category, DocumentOutput target)
{
    const QString extension = documentOutputRawValue(target);
    ConversionRecipe recipe;
    recipe.categories = {category};
    recipe.target = extension;
    recipe.title = target == DocumentOutput::md ? QStringLiteral("MD") : extension.toUpper();
    switch (target) {
    case DocumentOutput::pages:
        recipe.engine = EngineID::iwork(IWorkApp::pages);
        recipe.lane = JobLane::external;
        break;
    case DocumentOutput::epub:
        recipe.engine = EngineID::of(EngineID::Kind::epub);
        break;
    case DocumentOutput::rtf:
    case DocumentOutput::doc:
        // Written by LibreOffice from an ODT: hidden without it.
        recipe.engine = EngineID::of(EngineID::Kind::libreOffice);
        break;
    default:
        recipe.engine = EngineID::of(EngineID::Kind::text);
        break;
    }
    if (target == DocumentOutput::pdf || target == DocumentOutput::png || target == DocumentOutput::jpg)
        recipe.optionFields = {OptionField::pageSize};
    recipe.extraTest = [target](const FileInfo& file) { return documentSourceAccepts(file, target); };
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return DocumentConversion::convertDocument(context.files.first(), target, context, documentPlanner(planner), progress);
        });
    return makeConversionDescriptor(recipe);
}

QList<OperationDescriptor> makeTextDocumentTools(FileCategory category)
{
    OperationDescriptor count = textTool(category, "wordCount", "Word Count", "textformat.123", "Counting words");
    count.copiesText = true;
    count.make = blockFactory(noOutputAdapter(
        [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress&) {
            DocumentConversion::countWords(context.files.first(), context, documentPlanner(planner));
        }));

    OperationDescriptor merge = textTool(category, "merge", "Merge", "doc.on.doc", "Merging");
    merge.multiFile = MultiFileMode::combine;
    merge.minimumFiles = 2;
    merge.optionFields = {OptionField::mergeOrder};
    merge.make = blockFactory([](const OperationContext& context, const QList<QUrl>&, OutputPlanner& planner,
                                 Progress& progress) -> QList<QUrl> {
        return {DocumentConversion::mergeDocuments(context.files, context, documentPlanner(planner), progress)};
    });

    OperationDescriptor strip = textTool(category, "removeMetadata", "Remove Meta", "eye.slash", "Removing metadata");
    const QSet<QString> metadataSet = category == FileCategory::ebook
        ? QSet<QString>{QStringLiteral("epub")}
        : QSet<QString>{QStringLiteral("docx"), QStringLiteral("doc"), QStringLiteral("odt"), QStringLiteral("rtf")};
    strip.accepts = [metadataSet](const FileInfo& file) {
        if (!file.format || !metadataSet.contains(file.format->id))
            return false;
        const QString id = file.format->id;
        // DOCX and EPUB are edited in place; the others are read by pandoc and written again,
        // RTF and Word 97 by LibreOffice.
        if (id == QLatin1String("docx") || id == QLatin1String("epub"))
            return true;
        if (!Capabilities::shared().pandocURL())
            return false;
        return id == QLatin1String("odt") || Capabilities::shared().libreOfficeURL().has_value();
    };
    strip.make = blockFactory(singleOutputAdapter(
        [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress&) {
            return DocumentMetadata::removeDocumentMetadata(context.files.first(), context, documentPlanner(planner));
        }));

    OperationDescriptor pdf = textTool(category, "pdf", "To PDF", "doc.richtext", "Making a PDF");
    pdf.optionFields = {OptionField::pageSize};
    pdf.outputExtension = QStringLiteral("pdf");
    pdf.accepts = [](const FileInfo& file) { return documentSourceAccepts(file, DocumentOutput::pdf); };
    pdf.make = blockFactory(singleOutputAdapter(
        [](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return DocumentConversion::convertDocument(context.files.first(), DocumentOutput::pdf, context, documentPlanner(planner), progress);
        }));
    return {count, merge, strip, pdf};
}

OperationDescriptor makePresentationConversion(const QString& extension)
{
    const bool imageTarget = extension == QLatin1String("png") || extension == QLatin1String("jpg");
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::presentation};
    recipe.target = extension;
    recipe.title = extension.toUpper();
    if (extension == QLatin1String("key"))
        recipe.engine = EngineID::iwork(IWorkApp::keynote);
    else if (extension == QLatin1String("odp"))
        recipe.engine = EngineID::of(EngineID::Kind::libreOffice);
    else
        recipe.engine = EngineID::office(IWorkApp::keynote);
    recipe.lane = JobLane::external;
    const QString exported = imageTarget ? QStringLiteral("pdf") : extension;
    recipe.extraTest = [exported](const FileInfo& file) {
        return OfficeConverter::canConvertOfficeDocument(exported, FileCategory::presentation, file.ext);
    };
    recipe.run = singleOutputAdapter(
        [extension, imageTarget](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            const QList<QUrl> results = exportPresentation(context.files.first(), extension, imageTarget, context, planner, progress);
            return results.first();
        });
    // Slides become several images: the whole list is the result.
    if (imageTarget)
        recipe.run = [extension](const OperationContext& context, const QList<QUrl>& files, OutputPlanner& planner,
                                 Progress& progress) -> QList<QUrl> {
            if (files.isEmpty())
                return {};
            return exportPresentation(context.files.first(), extension, true, context, planner, progress);
        };
    return makeConversionDescriptor(recipe);
}

const QList<OperationDescriptor>& documentDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        using O = DocumentOutput;
        QList<OperationDescriptor> all;
        for (O target : {O::pdf, O::docx, O::md, O::txt, O::html, O::rtf, O::epub, O::odt, O::png, O::jpg, O::doc, O::pages})
            all.append(makeConversionTool(FileCategory::document, target));
        all += makeTextDocumentTools(FileCategory::document);
        return all;
    }();
    return list;
}

const QList<OperationDescriptor>& ebookDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        using O = DocumentOutput;
        QList<OperationDescriptor> all;
        for (O target : {O::pdf, O::docx, O::txt, O::md, O::html, O::rtf, O::odt})
            all.append(makeConversionTool(FileCategory::ebook, target));
        all += makeTextDocumentTools(FileCategory::ebook);
        return all;
    }();
    return list;
}

const QList<OperationDescriptor>& presentationDescriptors()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> all;
        for (const char* extension : {"pdf", "png", "jpg", "pptx", "key", "odp"})
            all.append(makePresentationConversion(QString::fromLatin1(extension)));
        return all;
    }();
    return list;
}

} // namespace qv
