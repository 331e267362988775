#include "catalogue/tools/ImageTools.h"

#include "catalogue/lists/ImageCatalogue.h"
#include "engines/image/conversion/ImageCompression.h"
#include "engines/image/conversion/ImageEdits.h"
#include "engines/image/conversion/ImageMerge.h"
#include "engines/image/conversion/ImageRotation.h"
#include "engines/image/conversion/ImageToolOutput.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/foreign/TiffPages.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/metadata/ImageMetadataRemoval.h"
#include "engines/image/resample/ImageResize.h"
#include "engines/image/VipsRuntime.h"
#include "engines/vision/VisionEngine.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"

namespace qv {

namespace {

FileInfo fileFor(const QUrl& url, const OperationContext& context)
{
    for (const FileInfo& file : context.files)
        if (file.url == url)
            return file;
    return fileInfoForURL(url);
}

void shareVipsThreads()
{
    requireVips();
    const int lanes = Settings::shared().intValue(SettingsKey::cpuJobs);
    setVipsLanes(lanes);
    // The subject network is not given a lane's share of the cores, which left a lone
    // background removal on one core of eight: it takes those idle when it starts, and the
    // items of a batch that start beside it find them taken.
}

using FileBody = QUrl (*)(const FileInfo&, const OperationContext&, OutputPlanner&, Progress&);

OperationDescriptor::Factory fileFactory(FileBody body)
{
    return blockFactory(singleOutputAdapter(
        [body](const QUrl& url, const OperationContext& context, OutputPlanner& planner, Progress& progress) {
            shareVipsThreads();
            return body(fileFor(url, context), context, planner, progress);
        }));
}

OperationDescriptor tool(const QString& name, const QString& title, const QString& symbol, const QString& verb)
{
    OperationDescriptor d;
    d.id = QStringLiteral("tool.image.") + name;
    d.wheel = WheelKind::tools;
    d.group = name;
    d.title = title;
    d.symbol = symbol;
    d.categories = {FileCategory::image};
    d.accepts = OperationDescriptor::acceptEveryFile();
    d.multiFile = MultiFileMode::each;
    d.minimumFiles = 1;
    d.behavior = OperationBehavior::run();
    d.engine = EngineID::of(EngineID::Kind::imageIO);
    d.lane = JobLane::cpu;
    d.verb = verb;
    return d;
}

// Removing and adding backgrounds is hidden on machines that cannot find subjects.
bool canLiftSubjects(const FileInfo&)
{
    return Capabilities::shared().subjectLifting();
}

QImage liftWithVision(const QImage& picture, const std::stop_token& stop)
{
    return VisionEngine::liftSubject(picture, stop);
}

QUrl writeAndDeliver(const DecodedImage& image, ImageOutput output, const ImageProperties& properties,
                     double quality, const OperationContext& context, OutputPlanner& planner, Progress& progress,
                     const QString& operation)
{
    const ImageWork work = imageWork(planner, progress, context.stopToken);
    const QString extension = toString(output);
    const QUrl result = work.workFile(extension);
    ImageToolOutput::WorkFileGuard guard{result.toLocalFile()};
    ImageWork writing = work;
    writing.progress = nullptr;
    ImageWriter::write(image, output, result.toLocalFile(), properties, quality, writing);
    throwIfCancelled(context.stopToken);
    const QUrl placed = ImageToolOutput::deliver(work, result, context.settings, operation, extension);
    guard.kept = true;
    return placed;
}

QUrl compressBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    return ImageCompression::compress(file, context, imageWork(planner, progress, context.stopToken));
}

QUrl resizeBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    return ImageResize::resize(file, context, imageWork(planner, progress, context.stopToken));
}

QUrl removeMetadataBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                        Progress& progress)
{
    return ImageMetadataRemoval::removeMetadata(file, context, imageWork(planner, progress, context.stopToken));
}

QUrl editsBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner, Progress& progress,
               const QString& operation)
{
    const std::stop_token stop = context.stopToken;
    return ImageEdits::applyEdits(file, context, operation, imageWork(planner, progress, stop),
                                  [stop](const QImage& picture) { return liftWithVision(picture, stop); });
}

QUrl editBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    return editsBody(file, context, planner, progress, QStringLiteral("edit"));
}

QUrl annotateBody(const FileInfo& file, const OperationContext& context, OutputPlanner& planner, Progress& progress)
{
    return editsBody(file, context, planner, progress, QStringLiteral("annotate"));
}

} // namespace

const QSet<QString>& compressibleImageFormats()
{
    static const QSet<QString> ids{QStringLiteral("jpg"),  QStringLiteral("png"),  QStringLiteral("heic"),
                                   QStringLiteral("heif"), QStringLiteral("webp"), QStringLiteral("tiff"),
                                   QStringLiteral("gif"),  QStringLiteral("avif"), QStringLiteral("jp2")};
    return ids;
}

QUrl cropImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                   Progress& progress)
{
    // A multi-page TIFF is cut page by page, as the editors' edits are.
    if (TiffPages::count(file.path()) > 1 && ImageEngine::sameFormatOutput(file) == ImageOutput::tiff)
        return editsBody(file, context, planner, progress, QStringLiteral("crop"));
    const QRectF rect = context.options.cropRect.value_or(QRectF());
    const DecodedImage decoded = ImageDecoder::decode(file.path());
    DecodedImage image = ImageEdits::cropped(decoded, rect);
    const ImageProperties properties =
        ImageWriter::destinationProperties(decoded.properties(), context.settings.preserveMetadata);
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    if (lacksAlpha(output) && image.hasAlpha())
        image = ImageTransforms::flatten(image, ImageToolOutput::alphaBackground(context));
    const double quality =
        ImageWriter::outputQuality(output, ImageEngine::estimatedJPEGQuality(file), context.settings);
    return writeAndDeliver(image, output, properties, quality, context, planner, progress, QStringLiteral("crop"));
}

QUrl rotateImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                     Progress& progress)
{
    return ImageRotation::rotate(file, context.options.rotation.value_or(90),
                                 context.options.flipHorizontal.value_or(false),
                                 context.options.flipVertical.value_or(false), context,
                                 imageWork(planner, progress, context.stopToken));
}

QUrl flipImageFile(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                   Progress& progress)
{
    const bool vertical = context.options.flipVertical.value_or(false);
    return ImageRotation::rotate(file, 0, !vertical, vertical, context,
                                 imageWork(planner, progress, context.stopToken));
}

QUrl removeImageBackground(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                           Progress& progress)
{
    const DecodedImage decoded = ImageDecoder::decode(file.path());
    reportProgress(0.2, progress);
    const QImage lifted = VisionEngine::liftSubject(decoded.toQImage(), context.stopToken);
    const DecodedImage image = DecodedImage::fromPixels(lifted, decoded.dpi());
    return writeAndDeliver(image, ImageOutput::png, {}, 1.0, context, planner, progress,
                           QStringLiteral("removeBackground"));
}

QUrl addImageBackground(const FileInfo& file, const OperationContext& context, OutputPlanner& planner,
                        Progress& progress)
{
    const DecodedImage decoded = ImageDecoder::decode(file.path());
    reportProgress(0.2, progress);
    const QImage replaced = VisionEngine::replaceBackground(
        decoded.toQImage(), context.options.backgroundColor.value_or(QStringLiteral("#FFFFFF")), context.stopToken);
    DecodedImage image = DecodedImage::fromPixels(replaced, decoded.dpi());
    const ImageOutput output = ImageEngine::sameFormatOutput(file);
    if (lacksAlpha(output) && image.hasAlpha())
        image = ImageTransforms::flatten(image, ImageToolOutput::alphaBackground(context));
    const double quality =
        ImageWriter::outputQuality(output, ImageEngine::estimatedJPEGQuality(file), context.settings);
    return writeAndDeliver(image, output, {}, quality, context, planner, progress, QStringLiteral("addBackground"));
}

QUrl mergeImages(const QList<FileInfo>& files, const OperationContext& context, OutputPlanner& planner,
                 Progress& progress)
{
    shareVipsThreads();
    return ImageMerge::merge(files, context.options.mergeLayout.value_or(MergeLayout::horizontal), context,
                             imageWork(planner, progress, context.stopToken));
}

OperationDescriptor imageCompressTool()
{
    OperationDescriptor d = tool(QStringLiteral("compress"), QStringLiteral("Compress"),
                                 QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("Compressing"));
    d.accepts = [](const FileInfo& file) {
        return file.format && compressibleImageFormats().contains(file.format->id);
    };
    d.optionFields = {OptionField::compressPreset, OptionField::imageQuality};
    d.make = fileFactory(compressBody);
    return d;
}

OperationDescriptor imageResizeTool()
{
    OperationDescriptor d = tool(QStringLiteral("resize"), QStringLiteral("Resize"),
                                 QStringLiteral("arrow.up.left.and.arrow.down.right"), QStringLiteral("Resizing"));
    d.behavior = OperationBehavior::sheet();
    d.optionFields = {OptionField::resizeScale};
    d.make = fileFactory(resizeBody);
    return d;
}

OperationDescriptor imageCropTool()
{
    OperationDescriptor d =
        tool(QStringLiteral("crop"), QStringLiteral("Crop"), QStringLiteral("crop"), QStringLiteral("Cropping"));
    d.multiFile = MultiFileMode::single;
    d.behavior = OperationBehavior::editorOf(EditorKind::crop);
    d.make = fileFactory(cropImageFile);
    return d;
}

OperationDescriptor imageRotateTool()
{
    OperationDescriptor d = tool(QStringLiteral("rotate"), QStringLiteral("Rotate"), QStringLiteral("rotate.right"),
                                 QStringLiteral("Rotating"));
    d.optionFields = {OptionField::rotation};
    d.make = fileFactory(rotateImageFile);
    return d;
}

OperationDescriptor imageRemoveBackgroundTool()
{
    OperationDescriptor d = tool(QStringLiteral("removeBackground"), QStringLiteral("Remove BG"),
                                 QStringLiteral("person.crop.rectangle.badge.plus"),
                                 QStringLiteral("Removing background"));
    d.accepts = canLiftSubjects;
    d.engine = EngineID::of(EngineID::Kind::vision);
    d.outputExtension = QStringLiteral("png");
    d.make = fileFactory(removeImageBackground);
    return d;
}

OperationDescriptor imageRemoveMetadataTool()
{
    OperationDescriptor d = tool(QStringLiteral("removeMetadata"), QStringLiteral("Remove Meta"),
                                 QStringLiteral("eye.slash"), QStringLiteral("Removing metadata"));
    d.make = fileFactory(removeMetadataBody);
    return d;
}

OperationDescriptor imageEditTool()
{
    OperationDescriptor d = tool(QStringLiteral("edit"), QStringLiteral("Edit"), QStringLiteral("slider.horizontal.3"),
                                 QStringLiteral("Saving edits"));
    d.multiFile = MultiFileMode::single;
    d.behavior = OperationBehavior::editorOf(EditorKind::photo);
    d.make = fileFactory(editBody);
    return d;
}

OperationDescriptor imageFlipTool()
{
    OperationDescriptor d = tool(QStringLiteral("flip"), QStringLiteral("Flip"),
                                 QStringLiteral("arrow.left.and.right.righttriangle.left.righttriangle.right"),
                                 QStringLiteral("Flipping"));
    d.make = fileFactory(flipImageFile);
    return d;
}

OperationDescriptor imageAddBackgroundTool()
{
    OperationDescriptor d = tool(QStringLiteral("addBackground"), QStringLiteral("Add BG"),
                                 QStringLiteral("photo.on.rectangle"), QStringLiteral("Adding background"));
    d.accepts = canLiftSubjects;
    d.behavior = OperationBehavior::sheet();
    d.engine = EngineID::of(EngineID::Kind::vision);
    d.optionFields = {OptionField::backgroundColor};
    d.make = fileFactory(addImageBackground);
    return d;
}

OperationDescriptor imageMergeTool()
{
    OperationDescriptor d = tool(QStringLiteral("merge"), QStringLiteral("Merge"), QStringLiteral("square.split.2x1"),
                                 QStringLiteral("Merging"));
    d.multiFile = MultiFileMode::combine;
    d.minimumFiles = 2;
    d.behavior = OperationBehavior::sheet();
    d.optionFields = {OptionField::mergeLayout, OptionField::mergeOrder};
    d.make = blockFactory([](const OperationContext& context, const QList<QUrl>& urls, OutputPlanner& planner,
                             Progress& progress) {
        if (urls.isEmpty())
            return QList<QUrl>();
        QList<FileInfo> files;
        for (const QUrl& url : urls)
            files << fileFor(url, context);
        return QList<QUrl>{mergeImages(files, context, planner, progress)};
    });
    return d;
}

OperationDescriptor imageAnnotateTool()
{
    OperationDescriptor d = tool(QStringLiteral("annotate"), QStringLiteral("Annotate"),
                                 QStringLiteral("pencil.tip.crop.circle"), QStringLiteral("Saving annotations"));
    d.multiFile = MultiFileMode::single;
    d.behavior = OperationBehavior::editorOf(EditorKind::annotate);
    d.make = fileFactory(annotateBody);
    return d;
}

} // namespace qv
