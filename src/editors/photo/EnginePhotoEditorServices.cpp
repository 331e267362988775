#include "editors/photo/EnginePhotoEditorServices.h"

#include "catalogue/isolated/IsolatedPictureReading.h"
#include "engines/image/conversion/ImageEdits.h"
#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageWriter.h"
#include "engines/image/ImageEngine.h"
#include "model/errors/EngineError.h"
#include "model/operations/HexColor.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ThreadCall.h"

#include <QPainter>

#include <mutex>

namespace qv {

namespace {

// Below the preview's renders and lifts, which the user waits for.
constexpr int utilityPriority = 0;

std::optional<PhotoEditorServices::Estimate> estimateSafely(PhotoCopyEstimate::FullSize& full,
                                                            const std::optional<QString>& folder,
                                                            const PhotoEditorServices::EstimateRequest& request,
                                                            std::stop_token stop)
{
    try {
        return IsolatedPictureReading::photoEstimate(request, full, folder ? *folder : TemporaryRoot::secure(), stop);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

EnginePhotoEditorServices::EnginePhotoEditorServices(std::optional<QString> folder)
    : m_folder(std::move(folder)), m_full(std::make_shared<PhotoCopyEstimate::FullSize>())
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
            cutout = IsolatedPictureReading::liftSubject(picture, stop);
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
