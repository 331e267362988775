#pragma once

#include "catalogue/tools/PhotoCopyEstimate.h"
#include "editors/photo/PhotoEditorServices.h"

#include <QString>

#include <memory>
#include <optional>

namespace qv {

// The photo editor's services on the real engines, one per editor. The size estimate is made
// in a worker once isolation is on (see IsolatedPictureReading); in this process it writes a
// trial copy into the temporary root and keeps the full-size decode (and the full-size
// cut-out) for the next estimates of the same editor. Renders and lifts work on the preview
// the editor already holds, in this process.
class EnginePhotoEditorServices : public PhotoEditorServices {
public:
    // Trial copies go into folder; the temporary root when none is given.
    explicit EnginePhotoEditorServices(std::optional<QString> folder = std::nullopt);
    ~EnginePhotoEditorServices() override;

    void render(const QImage& source, const PhotoAdjustments& adjustments, const std::optional<QString>& fill,
                std::function<void(QImage)> done) override;
    void liftSubject(const QImage& picture,
                     std::function<void(std::optional<QImage>, QString error)> done) override;
    void estimate(const EstimateRequest& request, std::stop_token stop,
                  std::function<void(std::optional<Estimate>)> done) override;
    ImageOutput sameFormatOutput(const FileInfo& file) override;
    double outputQuality(ImageOutput output, std::optional<int> sourceQuality,
                         const SettingsSnapshot& settings) override;

    // The same work as estimate, on the calling thread; none when cancelled or when it cannot
    // be known. Throws nothing.
    std::optional<Estimate> estimateNow(const EstimateRequest& request, std::stop_token stop);

    // How many times the full-size picture was decoded and its subject lifted in this process.
    int fullDecodes() const;
    int fullLifts() const;

private:
    // Lifts still running stop when the editor goes.
    std::stop_source m_stop;
    std::optional<QString> m_folder;
    std::shared_ptr<PhotoCopyEstimate::FullSize> m_full;
};

} // namespace qv
