#pragma once

#include "engines/image/ImageWork.h"
#include "model/files/FileInfo.h"
#include "model/operations/OperationContext.h"
#include "model/settings/SettingsEnums.h"

#include <QUrl>

namespace qv {

// A smaller copy of an image file in its own format, in one pass: PNG and GIF are
// re-quantised to a palette by FFmpeg, everything else re-encoded at the preset's quality.
// A result that is not smaller is refused, so nothing bigger is ever delivered.
class ImageCompression {
public:
    ImageCompression() = delete;

    // Named "(compressed)", with the note "N % smaller". Animations keep every frame and its
    // delay. Throws EngineError "Already as small as it gets", the writer's and FFmpeg's
    // errors, CancellationError; nothing is placed on failure.
    static QUrl compress(const FileInfo& file, const OperationContext& context, const ImageWork& work);

    // FFmpeg's filter for the palette: 128 colours for small, else 256; transparency reserved
    // and thresholded when the picture has alpha.
    static QString paletteGraph(QualityPreset preset, bool alpha);

    // The longer side limit: the option when set, else the settings' largest side; none below 1.
    static std::optional<int> maxDimension(const OperationOptions& options, int settingsLimit);

    static QString alreadySmallMessage();
};

} // namespace qv
