#pragma once

#include "catalogue/tools/PhotoCopyEstimate.h"
#include "engines/image/foreign/ImageOutput.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationOptions.h"
#include "model/operations/PhotoAdjustments.h"
#include "model/settings/SettingsSnapshot.h"

#include <QImage>
#include <QObject>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// What the photo editor's model asks of the engines and of time. The answers of the
// asynchronous calls arrive on the main thread; tests give a fake of their own.
class PhotoEditorServices {
public:
    virtual ~PhotoEditorServices() = default;

    // Runs the function once after ms milliseconds on the main thread, unless context is gone.
    virtual void after(int ms, QObject* context, std::function<void()> function);

    // The source with the adjustments and, when given, flattened onto the fill colour.
    virtual void render(const QImage& source, const PhotoAdjustments& adjustments,
                        const std::optional<QString>& fill, std::function<void(QImage)> done) = 0;
    // The subject on transparency, or the failure's message (empty for one without a message).
    virtual void liftSubject(const QImage& picture,
                             std::function<void(std::optional<QImage>, QString error)> done) = 0;
    // Turned clockwise by quarter turns, then mirrored.
    virtual QImage transformed(const QImage& image, int quarterTurns, bool flipHorizontal,
                               bool flipVertical);

    using EstimateRequest = PhotoCopyEstimate::Request;
    using Estimate = PhotoCopyEstimate::Result;
    // The size the recipe's output would have; none when it cannot be known.
    virtual void estimate(const EstimateRequest& request, std::stop_token stop,
                          std::function<void(std::optional<Estimate>)> done) = 0;

    // Whether the recipe leaves the pixels alone, so the copy is the file as it is (or with
    // only its orientation or metadata changed).
    virtual bool isLosslessEdit(const OperationOptions& recipe, const FileInfo& file);

    // The output a file keeps when no format is chosen.
    virtual ImageOutput sameFormatOutput(const FileInfo& file) = 0;
    // The quality 0...1 a re-encode writes at.
    virtual double outputQuality(ImageOutput output, std::optional<int> sourceQuality,
                                 const SettingsSnapshot& settings) = 0;
};

} // namespace qv
