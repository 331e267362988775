#pragma once

#include "model/EnumText.h"

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace qv {

// The image formats the image engine can write; a case's name is also its file extension.
enum class ImageOutput { jpg, png, heic, webp, avif, tiff, gif, bmp, ico, icns, jp2, psd, tga, pdf };

template <>
struct EnumText<ImageOutput> {
    static constexpr std::array names{"jpg", "png", "heic", "webp", "avif", "tiff", "gif",
                                      "bmp", "ico", "icns", "jp2",  "psd",  "tga",  "pdf"};
};

// Exactly one of the fourteen names, case-sensitive and untrimmed; none for any other text.
std::optional<ImageOutput> imageOutputFromString(const QString& text);

// The type identifier the format is known by in the catalogue.
QString imageOutputTypeIdentifier(ImageOutput output);

// Whether a writer adds a lossy compression quality (jpg, heic, webp, avif, jp2).
bool isLossy(ImageOutput output);

// Whether the format cannot hold an alpha channel, so transparent images are flattened first.
bool lacksAlpha(ImageOutput output);

inline size_t qHash(ImageOutput output, size_t seed = 0) noexcept
{
    return ::qHash(static_cast<int>(output), seed);
}

} // namespace qv
