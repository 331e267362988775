#include "catalogue/lists/PdfCatalogue.h"

#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "catalogue/adapters/PdfWorkAdapter.h"
#include "catalogue/lists/FileTests.h"
#include "catalogue/OperationFactories.h"
#include "catalogue/tools/ConversionRecipe.h"
#include "catalogue/tools/VisionTools.h"
#include "documents/DocumentConversion.h"
#include "documents/writers/PictureSlides.h"
#include "engines/pdf/PDFDocument.h"
#include "engines/pdf/PDFEngine.h"
#include "engines/pdf/PDFRenderer.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "platform/files/FileContents.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QUuid>

namespace qv {

namespace {

constexpr double slidePictureDPI = 200;

bool isEncryptedFile(const FileInfo& file)
{
    return file.isEncrypted;
}

QString pathOf(const OperationContext& context)
{
    return context.files.first().url.toLocalFile();
}

OperationDescriptor makePDFImageConversion(ImageOutput target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::pdf};
    recipe.target = toString(target);
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(EngineID::Kind::pdfKit);
    recipe.extraTest = isNotEncrypted;
    recipe.optionFields = {OptionField::dpi};
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            const double dpi = context.options.dpi.value_or(context.settings.pdfDPI);
            return PDFEngine::pagesToImages(pathOf(context), std::nullopt, target,
                                            context.options.password, dpi, context.settings,
                                            pdfWork(context, planner, progress));
        });
    return makeConversionDescriptor(recipe);
}

OperationDescriptor makePDFTextConversion()
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::pdf};
    recipe.target = QStringLiteral("txt");
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(EngineID::Kind::pdfKit);
    recipe.extraTest = isNotEncrypted;
    recipe.run = singleOutputAdapter(convertPDFToText);
    return makeConversionDescriptor(recipe);
}

// Keynote and Pages are not on this system: the registry leaves these out, and a run says so.
OperationDescriptor makePDFIWorkConversion(const QString& extension, IWorkApp app)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::pdf};
    recipe.target = extension;
    recipe.title = extension.toUpper();
    recipe.engine = EngineID::iwork(app);
    recipe.lane = JobLane::external;
    recipe.extraTest = isNotEncrypted;
    const QString name = app == IWorkApp::keynote ? QStringLiteral("Keynote") : QStringLiteral("Pages");
    recipe.run = singleOutputAdapter([name, extension](const QUrl&, const OperationContext&,
                                                       OutputPlanner&, Progress&) -> QUrl {
        throw EngineError(name + QStringLiteral(" can't export ") + extension.toUpper());
    });
    return makeConversionDescriptor(recipe);
}

// The page pictures of a slide deck: each page at 200 dpi as a PNG in the work folder.
QStringList renderSlidePictures(const PDFDocument& document, const QUrl& folder, const PDFWork& work)
{
    const int pages = document.pageCount();
    QStringList pictures;
    for (int i = 1; i <= pages; ++i) {
        const QImage image = PDFEngine::renderPage(document, i - 1, slidePictureDPI, work.stop);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!QImageWriter(&buffer, "png").write(image))
            throw EngineError(QStringLiteral("Couldn't write the PNG file"));
        const QString path = QDir(folder.toLocalFile()).filePath(QString::asprintf("page%04d.png", i));
        if (const std::optional<SystemError> error = FileContents::createNew(path, png))
            throw EngineError(QStringLiteral("Couldn't write the PNG file"), error->localizedDescription());
        pictures.append(path);
        work.report(double(i) / pages * 0.5);
    }
    return pictures;
}

// PDF to PPTX: one picture of each page per slide, every slide the size of the first page
// with its longer side 1920 points. Our own package: no office program is needed.
QUrl convertPDFToIWork(const QUrl& file, const QString& extension, const OperationContext& context,
                       OutputPlanner& planner, Progress& progress)
{
    const PDFDocument document = PDFEngine::open(file.toLocalFile());
    if (document.pageCount() < 1)
        throw EngineError(QStringLiteral("This PDF has no pages"));
    const PDFWork work = pdfWork(context, planner, progress);
    const QStringList pictures = renderSlidePictures(document, planner.makeWorkSubdirectory(QStringLiteral("slides")), work);
    const QSizeF slide = PictureSlides::slideSizeFor(document.renderer().pageSize(0));
    const QUrl out = planner.workURL(extension, QUuid::createUuid().toString(QUuid::WithoutBraces));
    PictureSlides::imagesToSlides(slide, pictures, out.toLocalFile(), context.stopToken);
    const QString baseName = splitFileName(QFileInfo(planner.source().toLocalFile()).fileName()).baseName;
    return planner.deliver(out, baseName, extension);
}

OperationDescriptor makePDFSlidesConversion()
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::pdf};
    recipe.target = QStringLiteral("pptx");
    recipe.title = QStringLiteral("PPTX");
    recipe.engine = EngineID::of(EngineID::Kind::pdfKit);
    recipe.lane = JobLane::external;
    recipe.extraTest = isNotEncrypted;
    recipe.run = singleOutputAdapter([](const QUrl& file, const OperationContext& context, OutputPlanner& planner,
                                        Progress& progress) -> QUrl {
        return convertPDFToIWork(file, QStringLiteral("pptx"), context, planner, progress);
    });
    return makeConversionDescriptor(recipe);
}

OperationDescriptor pdfTool(const char* id, const char* title, const char* symbol,
                            const char* verb, QList<OptionField> fields = {})
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.wheel = WheelKind::tools;
    d.group = d.id.section(QLatin1Char('.'), -1);
    d.title = QString::fromLatin1(title);
    d.symbol = QString::fromLatin1(symbol);
    d.categories = {FileCategory::pdf};
    d.accepts = isNotEncrypted;
    d.multiFile = MultiFileMode::each;
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::pdfKit);
    d.lane = JobLane::cpu;
    d.verb = QString::fromLatin1(verb);
    d.optionFields = std::move(fields);
    return d;
}

// A tool whose body makes one result from the item's single file.
template <typename Body>
OperationDescriptor::Factory singleFileTool(Body body)
{
    return blockFactory(singleOutputAdapter(
        [body](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return body(context, pdfWork(context, planner, progress));
        }));
}

// The PDF's text read into a document and written as the target.
OperationDescriptor makePDFDocumentConversion(DocumentOutput target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::pdf};
    recipe.target = documentOutputRawValue(target);
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(EngineID::Kind::pdfKit);
    recipe.extraTest = isNotEncrypted;
    if (target != DocumentOutput::md)
        recipe.optionFields = {OptionField::approximateLayoutNote};
    recipe.run = singleOutputAdapter(
        [target](const QUrl&, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            return DocumentConversion::convertDocument(context.files.first(), target, context, documentPlanner(planner), progress);
        });
    return makeConversionDescriptor(recipe);
}

} // namespace

const QList<OperationDescriptor>& pdfConversions()
{
    static const QList<OperationDescriptor> list = [] {
        return QList<OperationDescriptor>{
            makePDFImageConversion(ImageOutput::png),
            makePDFImageConversion(ImageOutput::jpg),
            makePDFDocumentConversion(DocumentOutput::docx),
            makePDFTextConversion(),
            makePDFDocumentConversion(DocumentOutput::md),
            makePDFDocumentConversion(DocumentOutput::html),
            makePDFDocumentConversion(DocumentOutput::epub),
            makePDFDocumentConversion(DocumentOutput::rtf),
            makePDFImageConversion(ImageOutput::heic),
            makePDFImageConversion(ImageOutput::tiff),
            makePDFDocumentConversion(DocumentOutput::odt),
            makePDFSlidesConversion(),
            makePDFIWorkConversion(QStringLiteral("key"), IWorkApp::keynote),
            makePDFIWorkConversion(QStringLiteral("pages"), IWorkApp::pages),
        };
    }();
    return list;
}

const QList<OperationDescriptor>& pdfTools()
{
    static const QList<OperationDescriptor> list = [] {
        using F = OptionField;
        QList<OperationDescriptor> all;

        OperationDescriptor merge = pdfTool("tool.pdf.merge", "Merge", "doc.on.doc", "Merging", {F::mergeOrder});
        merge.multiFile = MultiFileMode::combine;
        merge.minimumFiles = 2;
        merge.make = blockFactory([](const OperationContext& context, const QList<QUrl>&,
                                     OutputPlanner& planner, Progress& progress) -> QList<QUrl> {
            if (context.files.isEmpty())
                return {};
            return {PDFEngine::merge(context.files, context.options.password,
                                     pdfWork(context, planner, progress))};
        });
        all.append(merge);

        OperationDescriptor split = pdfTool("tool.pdf.split", "Split", "scissors", "Splitting", {F::splitPages});
        split.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::split(pathOf(context), context.options.split, context.options.password, work);
        });
        all.append(split);

        OperationDescriptor compress = pdfTool("tool.pdf.compress", "Compress",
                                               "arrow.down.right.and.arrow.up.left", "Compressing",
                                               {F::pdfCompression});
        // Ghostscript draws the smaller copy: hidden without it.
        compress.accepts = [](const FileInfo& file) {
            return isNotEncrypted(file) && Capabilities::shared().ghostscriptURL().has_value();
        };
        compress.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::compress(context.files.first(),
                                       context.options.pdfCompression.value_or(context.settings.pdfCompression),
                                       context.options.password, work);
        });
        all.append(compress);

        OperationDescriptor rotate = pdfTool("tool.pdf.rotate", "Rotate", "rotate.right", "Rotating", {F::rotation});
        rotate.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::rotate(pathOf(context), context.options.password,
                                     context.options.rotation.value_or(90), work);
        });
        all.append(rotate);

        OperationDescriptor reorder = pdfTool("tool.pdf.reorder", "Reorder", "square.grid.3x3.square",
                                              "Reordering pages");
        reorder.multiFile = MultiFileMode::single;
        reorder.behavior = OperationBehavior::editorOf(EditorKind::pdfReorder);
        reorder.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::reorder(pathOf(context), context.options.password,
                                      context.options.pageOrder.value_or(QList<int>{}), false, work);
        });
        all.append(reorder);

        OperationDescriptor redact = pdfTool("tool.pdf.redact", "Redact", "rectangle.dashed.and.paperclip",
                                             "Redacting");
        redact.multiFile = MultiFileMode::single;
        redact.behavior = OperationBehavior::editorOf(EditorKind::redact);
        redact.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::redact(pathOf(context), context.options.password,
                                     context.options.redactions.value_or(QMap<int, QList<QRectF>>{}), work);
        });
        all.append(redact);

        OperationDescriptor metadata = pdfTool("tool.pdf.removeMetadata", "Remove Meta", "eye.slash",
                                               "Removing metadata");
        metadata.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::removeMetadata(pathOf(context), context.options.password, work);
        });
        all.append(metadata);

        OperationDescriptor ocr = pdfTool("tool.pdf.ocr", "OCR", "text.viewfinder", "Recognizing text");
        ocr.engine = EngineID::of(EngineID::Kind::vision);
        ocr.make = blockFactory(singleOutputAdapter(ocrPDF));
        all.append(ocr);

        OperationDescriptor extract = pdfTool("tool.pdf.extractPages", "Extract Pages", "doc.badge.arrow.up",
                                              "Extracting pages");
        extract.multiFile = MultiFileMode::single;
        extract.behavior = OperationBehavior::editorOf(EditorKind::pdfExtract);
        extract.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::reorder(pathOf(context), context.options.password,
                                      context.options.pageOrder.value_or(QList<int>{}), true, work);
        });
        all.append(extract);

        OperationDescriptor protect = pdfTool("tool.pdf.protect", "Protect", "lock", "Protecting", {F::password});
        protect.behavior = OperationBehavior::sheet();
        protect.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::protect(pathOf(context), context.options.password.value_or(QString()), work);
        });
        all.append(protect);

        OperationDescriptor unlock = pdfTool("tool.pdf.unlock", "Unlock", "lock.open", "Unlocking", {F::password});
        unlock.behavior = OperationBehavior::sheet();
        unlock.accepts = isEncryptedFile;
        unlock.make = singleFileTool([](const OperationContext& context, const PDFWork& work) {
            return PDFEngine::unlock(pathOf(context), context.options.password.value_or(QString()), work);
        });
        all.append(unlock);

        OperationDescriptor readCodes = pdfTool("tool.pdf.readQR", "Read QR", "qrcode.viewfinder", "Reading codes");
        readCodes.engine = EngineID::of(EngineID::Kind::vision);
        readCodes.copiesText = true;
        readCodes.make = blockFactory(noOutputAdapter(readPDFCodes));
        all.append(readCodes);
        return all;
    }();
    return list;
}

const QList<OperationDescriptor>& pdfDescriptors()
{
    static const QList<OperationDescriptor> list = pdfConversions() + pdfTools();
    return list;
}

} // namespace qv
