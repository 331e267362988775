#pragma once

#include "editors/PhotoEditorServices.h"

#include <memory>

namespace qv {

// The photo editor's services on the real engines. Size estimates wait for the image edit:
// until then no estimate comes.
class EnginePhotoEditorServices : public PhotoEditorServices {
public:
    EnginePhotoEditorServices();
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

private:
    // Lifts still running stop when the editor goes.
    std::stop_source m_stop;
};

} // namespace qv
