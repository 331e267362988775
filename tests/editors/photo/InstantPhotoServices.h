#pragma once

#include "editors/photo/PhotoEditorServices.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsSnapshot.h"

#include <QImage>
#include <QString>

namespace qv::test {

// Renders at once with the colours unchanged; no lifts, no estimates.
class InstantPhotoServices : public PhotoEditorServices {
public:
    void render(const QImage& source, const PhotoAdjustments&, const std::optional<QString>&,
                std::function<void(QImage)> done) override
    {
        done(source);
    }
    void liftSubject(const QImage&, std::function<void(std::optional<QImage>, QString)> done) override
    {
        done(std::nullopt, QStringLiteral("No subject found in this image"));
    }
    void estimate(const EstimateRequest&, std::stop_token, std::function<void(std::optional<Estimate>)> done) override
    {
        done(std::nullopt);
    }
    ImageOutput sameFormatOutput(const FileInfo& file) override
    {
        return file.url.path().endsWith(QLatin1String(".png")) ? ImageOutput::png : ImageOutput::jpg;
    }
    double outputQuality(ImageOutput, std::optional<int>, const SettingsSnapshot& settings) override
    {
        return settings.jpegQuality;
    }
};

} // namespace qv::test
