#include "catalogue/tools/PhotoCopyEstimate.h"

#include "engines/image/conversion/ImageEdits.h"
#include "engines/image/conversion/ImageTransforms.h"
#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/ImageEngine.h"
#include "engines/vision/VisionEngine.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace qv {

namespace {

// A trial copy's name, kept from any purge while it exists and removed however the estimate
// ends.
struct TrialCopy {
    QString path;
    TrialCopy(const QString& folder, const QString& extension)
        : path(folder + QStringLiteral("/estimate-") + QUuid::createUuid().toString(QUuid::WithoutBraces)
               + QLatin1Char('.') + extension)
    {
        WorkFolderRegistry::add(path);
    }
    ~TrialCopy()
    {
        QFile::remove(path);
        WorkFolderRegistry::remove(path);
    }
    TrialCopy(const TrialCopy&) = delete;
    TrialCopy& operator=(const TrialCopy&) = delete;

    std::optional<qint64> size() const
    {
        const QFileInfo info(path);
        if (!info.isFile() || info.size() <= 0)
            return std::nullopt;
        return info.size();
    }
};

DecodedImage fullImage(PhotoCopyEstimate::FullSize& full, const FileInfo& file)
{
    const std::lock_guard lock(full.mutex);
    if (!full.image) {
        if (full.unreadable)
            throw EngineError(ImageDecoder::damagedMessage());
        try {
            ++full.decodes;
            // Read into memory once: every later estimate reads it again.
            full.image = ImageDecoder::decode(file.path()).materialized();
        } catch (...) {
            full.unreadable = true;
            throw;
        }
    }
    return *full.image;
}

DecodedImage fullCutout(PhotoCopyEstimate::FullSize& full, const DecodedImage& image, std::stop_token stop)
{
    const std::lock_guard lock(full.mutex);
    if (!full.cutout) {
        ++full.lifts;
        DecodedImage lifted = DecodedImage::fromPixels(VisionEngine::liftSubject(image.toQImage(), stop), image.dpi());
        lifted.setProperties(image.properties());
        full.cutout = lifted;
    }
    return *full.cutout;
}

ImageOutput estimateOutput(const OperationOptions& recipe, const FileInfo& file)
{
    if (recipe.outputFormat)
        if (const std::optional<ImageOutput> chosen = imageOutputFromString(*recipe.outputFormat))
            return *chosen;
    return ImageEngine::sameFormatOutput(file);
}

} // namespace

std::optional<PhotoCopyEstimate::Result> PhotoCopyEstimate::estimate(FullSize& full, const QString& folder,
                                                             const Request& request, std::stop_token stop)
{
    const OperationOptions& recipe = request.recipe;
    const bool keepMetadata = !recipe.stripMetadata.value_or(!request.settings.preserveMetadata);

    if (ImageEdits::isLosslessEdit(recipe, request.file)) {
        const TrialCopy copy(folder, request.file.ext);
        if (ImageEdits::applyLosslessEdit(request.file, recipe, keepMetadata, copy.path)) {
            throwIfCancelled(stop);
            if (const std::optional<qint64> size = copy.size())
                return Result{*size, true};
        }
    }

    if (qint64(request.pixelSize.width()) * request.pixelSize.height() > pixelLimit)
        return std::nullopt;
    throwIfCancelled(stop);
    const DecodedImage image = fullImage(full, request.file);
    throwIfCancelled(stop);
    const bool removeBackground = recipe.removeBackground.value_or(false);
    std::optional<DecodedImage> cutout;
    if (removeBackground)
        cutout = fullCutout(full, image, stop);
    throwIfCancelled(stop);

    DecodedImage edited = ImageEdits::editedImage(image, recipe, {}, cutout);
    const ImageOutput output = estimateOutput(recipe, request.file);
    if (edited.hasAlpha()) {
        const bool wanted = removeBackground ? !recipe.backgroundColor : request.sourceHasAlpha;
        try {
            if (!wanted) {
                edited = ImageTransforms::flatten(edited, Qt::white);
            } else if (lacksAlpha(output)) {
                const QString background = recipe.alphaBackground.value_or(request.settings.alphaBackground);
                edited = ImageTransforms::flatten(edited, colorFromHex(background).value_or(QColor(Qt::white)));
            }
        } catch (const EngineError&) {
            // The writer takes the unflattened picture.
        }
    }
    const double quality =
        recipe.quality.value_or(ImageWriter::outputQuality(output, request.originalQuality, request.settings));
    const ImageProperties properties = ImageWriter::destinationProperties(image.properties(), keepMetadata);
    const TrialCopy copy(folder, toString(output));
    ImageWork work;
    work.stop = stop;
    ImageWriter::write(edited, output, copy.path, properties, quality, work);
    throwIfCancelled(stop);
    if (const std::optional<qint64> size = copy.size())
        return Result{*size, false};
    return std::nullopt;
}

QJsonObject PhotoCopyEstimate::requestToJson(const Request& request)
{
    QJsonObject json{{QStringLiteral("recipe"), QString::fromUtf8(encodeOperationOptions(request.recipe).value_or(QByteArray()))},
                     {QStringLiteral("file"), request.file.toJson()},
                     {QStringLiteral("width"), request.pixelSize.width()},
                     {QStringLiteral("height"), request.pixelSize.height()},
                     {QStringLiteral("alpha"), request.sourceHasAlpha},
                     {QStringLiteral("settings"), WorkerProtocol::settingsToJson(request.settings)}};
    if (request.originalQuality)
        json.insert(QStringLiteral("quality"), *request.originalQuality);
    return json;
}

std::optional<PhotoCopyEstimate::Request> PhotoCopyEstimate::requestFromJson(const QJsonObject& json)
{
    const std::optional<OperationOptions> recipe =
        decodeOperationOptions(json.value(QStringLiteral("recipe")).toString().toUtf8());
    if (!recipe || !json.value(QStringLiteral("file")).isObject())
        return std::nullopt;
    Request request;
    request.recipe = *recipe;
    request.file = WorkerProtocol::fileInfoFromJson(json.value(QStringLiteral("file")).toObject());
    request.pixelSize = QSize(json.value(QStringLiteral("width")).toInt(), json.value(QStringLiteral("height")).toInt());
    request.sourceHasAlpha = json.value(QStringLiteral("alpha")).toBool();
    if (json.value(QStringLiteral("quality")).isDouble())
        request.originalQuality = json.value(QStringLiteral("quality")).toInt();
    request.settings = WorkerProtocol::settingsFromJson(json.value(QStringLiteral("settings")).toObject());
    return request;
}

} // namespace qv
