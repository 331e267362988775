#include "catalogue/lists/ImageCatalogue.h"

#include "catalogue/lists/AnimatedImageCatalogue.h"

#include "catalogue/tools/ConversionRecipe.h"
#include "catalogue/tools/ImageTools.h"
#include "catalogue/tools/VisionTools.h"
#include "documents/writers/DocumentWriter.h"
#include "engines/image/conversion/ImageConversion.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/VipsRuntime.h"
#include "engines/pdf/ImagesToPdf.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"

#include <QFile>
#include <QUuid>

namespace qv {

namespace {

QString freshName()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

FileInfo fileFor(const QUrl& url, const OperationContext& context)
{
    for (const FileInfo& file : context.files) {
        if (file.url == url)
            return file;
    }
    return context.files.isEmpty() ? FileInfo{} : context.files.first();
}

// libvips' threads are shared by the jobs of the cpu lane.
void shareVipsThreads()
{
    requireVips();
    setVipsLanes(Settings::shared().intValue(SettingsKey::cpuJobs));
}

OperationDescriptor toPdfTool()
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.image.toPDF");
    d.wheel = WheelKind::tools;
    d.group = QStringLiteral("toPDF");
    d.title = QStringLiteral("To PDF");
    d.symbol = QStringLiteral("doc.richtext");
    d.categories = {FileCategory::image};
    d.accepts = [](const FileInfo&) { return true; };
    d.multiFile = MultiFileMode::combine;
    d.minimumFiles = 1;
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::imageIO);
    d.lane = JobLane::cpu;
    d.verb = QStringLiteral("Combining into PDF");
    d.optionFields = {OptionField::mergeOrder};
    d.make = blockFactory([](const OperationContext& context, const QList<QUrl>& files,
                             OutputPlanner& planner, Progress& progress) {
        if (files.isEmpty())
            return QList<QUrl>();
        return QList<QUrl>{imagesToPDF(files, context, planner, progress)};
    });
    return d;
}

} // namespace

ImageWork imageWork(const OutputPlanner& planner, Progress& progress, std::stop_token stop)
{
    ImageWork work;
    work.progress = &progress;
    work.stop = std::move(stop);
    work.workFile = [&planner](const QString& extension) { return planner.workURL(extension, freshName()); };
    work.place = [&planner](const QUrl& file, const QString& extension) {
        return planner.deliver(file, splitFileName(planner.source().fileName()).baseName, extension);
    };
    work.deliver = [&planner](const QUrl& file, const QString& baseName, const QString& extension) {
        return planner.deliver(file, baseName, extension);
    };
    work.baseName = splitFileName(planner.source().fileName()).baseName;
    return work;
}

OperationDescriptor makeImageConversion(ImageOutput target)
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::image};
    recipe.target = toString(target);
    recipe.title = recipe.target.toUpper();
    recipe.engine = EngineID::of(target == ImageOutput::webp ? EngineID::Kind::ffmpeg : EngineID::Kind::imageIO);
    recipe.lane = JobLane::cpu;
    if (isLossy(target))
        recipe.optionFields = {OptionField::imageQuality, OptionField::maxDimension};
    else if (lacksAlpha(target))
        recipe.optionFields = {OptionField::maxDimension, OptionField::alphaBackground};
    else
        recipe.optionFields = {OptionField::maxDimension};
    recipe.run = singleOutputAdapter([target](const QUrl& url, const OperationContext& context,
                                              OutputPlanner& planner, Progress& progress) {
        return runImageConversion(fileFor(url, context), target, context, planner, progress);
    });
    return makeConversionDescriptor(recipe);
}

QUrl runImageConversion(const FileInfo& file, ImageOutput target, const OperationContext& context,
                        OutputPlanner& planner, Progress& progress)
{
    shareVipsThreads();
    if (target == ImageOutput::pdf) {
        const QUrl work = planner.workURL(QStringLiteral("pdf"), freshName());
        ImagesToPdf::makePDF({file.url.toLocalFile()}, work.toLocalFile(), &progress, context.stopToken);
        return planner.deliver(work, splitFileName(planner.source().fileName()).baseName, QStringLiteral("pdf"));
    }
    if (target == ImageOutput::webp && takesAnimatedWebPRoad(file))
        return convertAnimatedGIFToWebP(file, context, planner, progress);
    return ImageConversion::convertImage(file, target, context, imageWork(planner, progress, context.stopToken));
}

QUrl imagesToPDF(const QList<QUrl>& files, const OperationContext& context, OutputPlanner& planner,
                 Progress& progress)
{
    shareVipsThreads();
    const QUrl work = planner.workURL(QStringLiteral("pdf"), freshName());
    QStringList paths;
    for (const QUrl& url : files)
        paths << url.toLocalFile();
    ImagesToPdf::makePDF(paths, work.toLocalFile(), &progress, context.stopToken);
    const std::optional<QString> suffix = files.size() < 2
        ? std::optional<QString>()
        : std::optional<QString>(context.settings.suffixForOperation(QStringLiteral("merge")));
    return planner.deliver(work, planner.outputBaseName(suffix), QStringLiteral("pdf"));
}

namespace {

// The picture alone on a page of a Word file: PNG when it has alpha, else JPEG.
QUrl imageToWordDocument(const FileInfo& file, const OperationContext& context, OutputPlanner& planner)
{
    shareVipsThreads();
    const DecodedImage image = ImageDecoder::decode(file.path(), 4000);
    throwIfCancelled(context.stopToken);
    const bool alpha = image.hasAlpha();
    const ImageOutput output = alpha ? ImageOutput::png : ImageOutput::jpg;
    const QByteArray bytes = ImageWriter::encode(image, output, ImageEngine::calibratedJPEGQuality(0.9), context.stopToken);
    LoadedDocument document(file.baseName, std::nullopt, false);
    DocumentModel model;
    model.title = file.baseName;
    model.blocks = {DocBlock::image(std::nullopt, bytes, alpha ? QStringLiteral("png") : QStringLiteral("jpg"))};
    document.setModel(model);
    const QUrl work = planner.workURL(QStringLiteral("docx"), freshName());
    DocumentWriter::writeDocument(document, DocumentOutput::docx, work, context.settings, context.options,
                                  planner.workDirectory(), context.stopToken, file.baseName);
    return planner.deliver(work, splitFileName(planner.source().fileName()).baseName, QStringLiteral("docx"));
}

OperationDescriptor imageToWordConversion()
{
    ConversionRecipe recipe;
    recipe.categories = {FileCategory::image};
    recipe.target = QStringLiteral("docx");
    recipe.title = QStringLiteral("DOCX");
    recipe.engine = EngineID::of(EngineID::Kind::text);
    recipe.lane = JobLane::cpu;
    recipe.run = singleOutputAdapter([](const QUrl& url, const OperationContext& context, OutputPlanner& planner,
                                        Progress&) { return imageToWordDocument(fileFor(url, context), context, planner); });
    return makeConversionDescriptor(recipe);
}

} // namespace

const QList<OperationDescriptor>& imageConversions()
{
    static const QList<OperationDescriptor> list = [] {
        using O = ImageOutput;
        QList<OperationDescriptor> rows;
        for (O target : {O::jpg, O::png, O::heic, O::webp, O::avif, O::pdf, O::tiff, O::gif, O::bmp, O::ico,
                         O::icns, O::jp2, O::psd, O::tga})
            rows << makeImageConversion(target);
        rows += animatedImageVideoConversions();
        rows << imageToWordConversion();
        return rows;
    }();
    return list;
}

const QList<OperationDescriptor>& imageTools()
{
    static const QList<OperationDescriptor> list = [] {
        QList<OperationDescriptor> rows;
        rows << imageCompressTool() << imageResizeTool() << imageCropTool() << imageRotateTool()
             << imageRemoveBackgroundTool() << imageRemoveMetadataTool();
        rows << makeExtractImageTextTool();
        rows << imageEditTool() << imageFlipTool() << imageAddBackgroundTool();
        rows << makeReadImageCodesTool();
        rows << toPdfTool() << imageMergeTool() << imageAnnotateTool();
        return rows;
    }();
    return list;
}

const QList<OperationDescriptor>& imageDescriptors()
{
    static const QList<OperationDescriptor> list = imageConversions() + imageTools();
    return list;
}

} // namespace qv
