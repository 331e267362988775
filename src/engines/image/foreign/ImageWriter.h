#pragma once

#include "engines/image/DecodedImage.h"
#include "engines/image/foreign/ImageOutput.h"
#include "engines/image/ImageWork.h"
#include "model/settings/SettingsSnapshot.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace qv {

// The one way out to image files, and the rules for what a written file carries.
class ImageWriter {
public:
    ImageWriter() = delete;

    // What a re-encoded file keeps of its source: the resolution always; EXIF (with the
    // orientation set to 1 and the pixel dimensions dropped) and IPTC only when keepMetadata;
    // never XMP. The pixels written are already upright.
    static ImageProperties destinationProperties(const ImageProperties& source, bool keepMetadata);

    // The quality 0...1 of a re-encode by rotation, resize and edits; a JPEG is never written
    // above its source's estimated quality (percent).
    static double outputQuality(ImageOutput output, std::optional<int> sourceQuality,
                                const SettingsSnapshot& settings);

    // Writes the image to path (a new work file) with exactly these properties; quality 0...1
    // applies to the lossy formats. WebP and AVIF go through FFmpeg when libvips cannot write
    // them, without metadata. Throws EngineError ("This computer can't write <EXT> images",
    // "Couldn't write the <EXT> file", "This file is damaged or not in a supported format",
    // "Not enough memory for this image", checkFits' sentence, "FFmpeg is missing from this copy of Quorvenda"),
    // FFmpegError, CancellationError; on failure nothing is left at path. The stop request
    // reaches libvips while it writes.
    static void write(const DecodedImage& image, ImageOutput output, const QString& path,
                      const ImageProperties& properties, double quality, const ImageWork& work = {});

    // The image as a JPEG or PNG in memory (no metadata but the resolution), for containers that
    // embed images: 8-bit grey or sRGB, with its alpha when it has one (PNG). colourBands, when
    // given, is set to 1 (grey) or 3 (RGB). Throws as write.
    static QByteArray encode(const DecodedImage& image, ImageOutput output, double quality,
                             std::stop_token stop = {}, int* colourBands = nullptr);

    // Refuses, before any pixel is decoded, a picture larger than the format's readers take
    // ("This picture is too large for <EXT>: at most N pixels a side"): HEIC and AVIF past
    // 16,384 pixels a side (libheif's limit, beyond HEVC's largest level), WebP past 16,383.
    static void checkFits(ImageOutput output, int width, int height);

    // "This computer can't write <EXT> images" and "Couldn't write the <EXT> file".
    static QString cannotWriteMessage(ImageOutput output, const QString& noun = QStringLiteral("images"));
    static QString writeFailedMessage(ImageOutput output);

    // 1...100, the libvips quality of a lossy write.
    static int vipsQuality(double quality);
};

} // namespace qv
