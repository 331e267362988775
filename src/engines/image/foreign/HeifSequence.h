#pragma once

#include <QByteArray>

namespace qv {

// An image sequence in a HEIF box structure (an animated AVIF, brand "avis"; "msf1", "hevs") that
// also holds a still primary image. libvips knows HEIF files by their major brand only and takes
// these for something else; its HEIF loader, named, reads their primary image.
class HeifSequence {
public:
    static bool holdsPrimaryImage(const QByteArray& nativePath);
};

} // namespace qv
