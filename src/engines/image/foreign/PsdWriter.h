#pragma once

#include <QByteArray>

#include <vips/vips.h>

namespace qv {

// A flat Photoshop file at the picture's own depth. ImageMagick, libvips' only road to PSD,
// writes 16 bits whatever it is given.
//
// Grey or RGB by the image's interpretation; 8 bits for uchar pixels, 16 for ushort. An
// alpha band becomes one layer with its transparency, over the merged picture, as Photoshop
// itself writes it. The resolution and the colour profile go into the image resources.
class PsdWriter {
public:
    PsdWriter() = delete;

    // Decodes the image (its eval signals fire) and writes the file. 0 on success; -1 with the
    // reason on libvips' error buffer when encoding failed, a reading fault of the pixels
    // included; throws SystemError, leaving no file, when the system refused a write.
    static int save(VipsImage* image, const char* path);

    // The whole file in memory; empty with libvips' error buffer set on failure.
    static QByteArray encode(VipsImage* image);
};

} // namespace qv
