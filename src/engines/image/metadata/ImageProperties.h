#pragma once

#include <QByteArray>

#include <optional>

namespace qv {

// What a file says about its image besides the pixels: resolution, orientation and the
// metadata blocks as the file holds them. Decoding reports them before any turn is applied;
// writing puts exactly these into the new file (the colour profile travels with the pixels).
struct ImageProperties {
    std::optional<double> dpiWidth;  // dots per inch
    std::optional<double> dpiHeight;
    std::optional<int> orientation;  // EXIF 1...8
    QByteArray exif;                 // the EXIF block as libvips holds it ("Exif\0\0" + TIFF)
    QByteArray iptc;
    QByteArray xmp;

    bool operator==(const ImageProperties&) const = default;
};

} // namespace qv
