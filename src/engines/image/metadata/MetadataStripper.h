#pragma once

#include <QByteArray>

#include <optional>

namespace qv {

// Copies a JPEG or a PNG without anything that could name a person, a place, a device or a
// comment, its pictures' bytes untouched. What Exiv2 clears (Exif, IPTC, XMP, the comment)
// leaves other application segments (FLIR, Ducky, JSON, camera makers' own), trailers after the
// picture (a FotoStation caption, IPTC in an AFCP trailer, a second preview) and PNG text
// chunks behind. Kept: what the picture needs to look the same (JFIF density, the colour
// profile, Adobe's colour transform, PNG's colour and transparency chunks, an animation's
// frames) and, when given, the orientation as the only Exif entry.
class MetadataStripper {
public:
    MetadataStripper() = delete;

    // The stripped file, or nothing when the bytes are not a JPEG (or PNG) this can walk whole.
    static std::optional<QByteArray> jpeg(const QByteArray& bytes, std::optional<int> orientation);
    static std::optional<QByteArray> png(const QByteArray& bytes, std::optional<int> orientation);
};

} // namespace qv
