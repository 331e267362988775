#include "editors/EnginePhotoEditorServices.h"

#include "engines/image/DecodedImage.h"
#include "engines/image/ImageEdits.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/ImageDecoder.h"
#include "engines/image/ImageTransforms.h"
#include "engines/image/ImageWriter.h"
#include "engines/vision/VisionEngine.h"
#include "model/CancellationError.h"
#include "model/EngineError.h"
#include "model/HexColor.h"
#include "platform/TemporaryRoot.h"
#include "platform/ThreadCall.h"
#include "platform/WorkFolderRegistry.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QUuid>

#include <mutex>

namespace qv {

// The full-size picture and its cut-out, made by the first estimate that needs them and kept
// while the editor is open. Estimates run on pool threads: the lock also makes a newer
// estimate wait for a decode already under way rather than start a second one.
struct EnginePhotoEditorServices::FullSize {
    std::mutex mutex;
    std::optional<DecodedImage> image;
    bool unreadable = false;
    std::optional<DecodedImage> cutout;
    int decodes = 0;
    int lifts = 0;
};

namespace {

// Below the preview's renders and lifts, which the user waits for.
constexpr int utilityPriority = 0;

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

DecodedImage fullImage(EnginePhotoEditorServices::FullSize& full, const FileInfo& file)
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

DecodedImage fullCutout(EnginePhotoEditorServices::FullSize& full, const DecodedImage& image,
                        std::stop_token stop)
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

// Throws what the engines throw; the caller turns every failure into no estimate.
std::optional<PhotoEditorServices::Estimate> estimateWith(EnginePhotoEditorServices::FullSize& full,
                                                          const QString& folder,
                                                          const PhotoEditorServices::EstimateRequest& request,
                                                          std::stop_token stop)
{
    using Estimate = PhotoEditorServices::Estimate;
    const OperationOptions& recipe = request.recipe;
    const bool keepMetadata = !recipe.stripMetadata.value_or(!request.settings.preserveMetadata);

    if (ImageEdits::isLosslessEdit(recipe, request.file)) {
        const TrialCopy copy(folder, request.file.ext);
        if (ImageEdits::applyLosslessEdit(request.file, recipe, keepMetadata, copy.path)) {
            throwIfCancelled(stop);
            if (const std::optional<qint64> size = copy.size())
                return Estimate{*size, true};
        }
    }

    if (qint64(request.pixelSize.width()) * request.pixelSize.height() > EnginePhotoEditorServices::estimatePixelLimit)
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
        return Estimate{*size, false};
    return std::nullopt;
}

std::optional<PhotoEditorServices::Estimate> estimateSafely(EnginePhotoEditorServices::FullSize& full,
                                                            const std::optional<QString>& folder,
                                                            const PhotoEditorServices::EstimateRequest& request,
                                                            std::stop_token stop)
{
    try {
        return estimateWith(full, folder ? *folder : TemporaryRoot::secure(), request, stop);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

EnginePhotoEditorServices::EnginePhotoEditorServices(std::optional<QString> folder)
    : m_folder(std::move(folder)), m_full(std::make_shared<FullSize>())
{
}

EnginePhotoEditorServices::~EnginePhotoEditorServices()
{
    m_stop.request_stop();
}

void EnginePhotoEditorServices::render(const QImage& source, const PhotoAdjustments& adjustments,
                                       const std::optional<QString>& fill, std::function<void(QImage)> done)
{
    runInBackground([source, adjustments, fill, done = std::move(done)] {
        QImage image = source;
        if (!adjustments.isNeutral()) {
            // The same adjustments the job applies, so the preview shows what is saved.
            try {
                image = ImageEdits::applyAdjustments(DecodedImage::fromPixels(source), adjustments).toQImage();
            } catch (const std::exception&) {
                image = source;
            }
        }
        if (fill) {
            QImage flat(source.size(), QImage::Format_RGB32);
            flat.fill(colorFromHex(*fill).value_or(QColor(Qt::white)));
            QPainter(&flat).drawImage(0, 0, image);
            image = flat;
        }
        postToMainThread([image, done] { done(image); });
    }, 1);
}

void EnginePhotoEditorServices::liftSubject(const QImage& picture,
                                            std::function<void(std::optional<QImage>, QString)> done)
{
    runInBackground([picture, stop = m_stop.get_token(), done = std::move(done)] {
        std::optional<QImage> cutout;
        QString error;
        try {
            cutout = VisionEngine::liftSubject(picture, stop);
        } catch (const EngineError& failure) {
            error = failure.message();
        } catch (const std::exception&) {
        }
        postToMainThread([cutout, error, done] { done(cutout, error); });
    }, 1);
}

void EnginePhotoEditorServices::estimate(const EstimateRequest& request, std::stop_token stop,
                                         std::function<void(std::optional<Estimate>)> done)
{
    runInBackground([request, stop, editor = m_stop.get_token(), full = m_full, folder = m_folder,
                     done = std::move(done)] {
        // Either a newer change or the editor closing stops it.
        std::stop_source either;
        const std::stop_callback onChange(stop, [&either] { either.request_stop(); });
        const std::stop_callback onClose(editor, [&either] { either.request_stop(); });
        const std::optional<Estimate> estimate = estimateSafely(*full, folder, request, either.get_token());
        postToMainThread([estimate, done] { done(estimate); });
    }, utilityPriority);
}

std::optional<PhotoEditorServices::Estimate> EnginePhotoEditorServices::estimateNow(const EstimateRequest& request,
                                                                                   std::stop_token stop)
{
    return estimateSafely(*m_full, m_folder, request, stop);
}

int EnginePhotoEditorServices::fullDecodes() const
{
    const std::lock_guard lock(m_full->mutex);
    return m_full->decodes;
}

int EnginePhotoEditorServices::fullLifts() const
{
    const std::lock_guard lock(m_full->mutex);
    return m_full->lifts;
}

ImageOutput EnginePhotoEditorServices::sameFormatOutput(const FileInfo& file)
{
    return ImageEngine::sameFormatOutput(file);
}

double EnginePhotoEditorServices::outputQuality(ImageOutput output, std::optional<int> sourceQuality,
                                                const SettingsSnapshot& settings)
{
    return ImageWriter::outputQuality(output, sourceQuality, settings);
}

} // namespace qv
