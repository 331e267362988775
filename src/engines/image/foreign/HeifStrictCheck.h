#pragma once

#include <QString>

#include <optional>

namespace qv {

// libvips decodes HEIF and AVIF through libheif, which by default lets a tile it cannot decode
// (a feature it lacks, damaged data) pass as a warning and leaves its pixels black: the picture
// would look decoded. This decodes the image once more with libheif's strict decoding, so that
// every such warning is an error.
class HeifStrictCheck {
public:
    // What libheif says is wrong with the image at index (0: the primary image, else that
    // top-level image), or nothing when it decodes cleanly.
    static std::optional<QString> problem(const QString& path, int index = 0);
};

} // namespace qv
