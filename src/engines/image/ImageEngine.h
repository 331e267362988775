#pragma once

#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/foreign/ImageWriteSupport.h"
#include "model/files/FileInfo.h"
#include "model/settings/SettingsEnums.h"

#include <QByteArrayView>

#include <optional>

namespace qv {

// The image engine's shared rules. Stateless; every function may run on any thread.
class ImageEngine {
public:
    ImageEngine() = delete;

    // The output that keeps the file's own format; png when it has none the engine writes, and
    // for webp or avif when neither libvips nor ffmpeg can write them.
    static ImageOutput sameFormatOutput(const FileInfo& file,
                                        const ImageWriteSupport& support = ImageWriteSupport::current());

    // The quality 0...1 of the compress tool. A known JPEG source quality (percent) lowers it to
    // a little below the source's, never under 0.3.
    static double compressionQuality(ImageOutput output, QualityPreset preset,
                                     std::optional<int> sourceQuality);

    // The quality 1...100 a JPEG was saved at, on the IJG scale, read from its first luminance
    // quantisation table before the first scan; the image data is never read or decoded.
    static std::optional<int> estimatedJPEGQuality(const FileInfo& file);
    static std::optional<int> estimatedJPEGQuality(const QString& path);

    // Sum of the 64 entries of table 0 in one DQT payload; none when it holds no whole table 0.
    static std::optional<int> luminanceTableSum(QByteArrayView payload);

    // Inverts the IJG scaling of the standard luminance table (sum 3688).
    static int qualityFromTableSum(int sum);

    // The quality handed to the JPEG writer for a chosen quality 0...1. libjpeg writes the IJG
    // tables itself, so a quality means the same everywhere as it stands.
    static double calibratedJPEGQuality(double quality) { return quality; }

    static constexpr int standardLuminanceTableSum = 3688;
};

} // namespace qv
