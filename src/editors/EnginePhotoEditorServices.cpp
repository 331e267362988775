#include "editors/EnginePhotoEditorServices.h"

#include "engines/image/DecodedImage.h"
#include "engines/image/ImageEdits.h"
#include "engines/image/ImageEngine.h"
#include "engines/image/ImageWriter.h"
#include "engines/vision/VisionEngine.h"
#include "model/EngineError.h"
#include "model/HexColor.h"
#include "platform/ThreadCall.h"

#include <QPainter>

namespace qv {

EnginePhotoEditorServices::EnginePhotoEditorServices() = default;

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

void EnginePhotoEditorServices::estimate(const EstimateRequest&, std::stop_token,
                                         std::function<void(std::optional<Estimate>)> done)
{
    done(std::nullopt);
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
