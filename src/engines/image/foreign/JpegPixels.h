#pragma once

// Included only inside engines/image (it speaks libvips' types).

#include <QString>

#include <vips/vips.h>

namespace qv {

// A JPEG decoded by libjpeg in one pass, at 1/1, 1/2, 1/4 or 1/8 of its size (shrink-on-load,
// as libvips' loader does it), into an image in memory that carries the file's metadata. Every
// warning libjpeg gives about damage refuses the file, through to the end marker: the one
// decode checks the file as a full decode and JpegStructure would. Safe on any thread.
class JpegPixels {
public:
    JpegPixels() = delete;

    // The picture with the metadata fields of `header` (the file opened by libvips), or null
    // when this road does not take the file (a colour model other than grey, YCbCr or RGB, or
    // pixels over maxBytes at that scale): the caller decodes it another way. Throws
    // EngineError "This file is damaged or not in a supported format" on damage.
    static VipsImage* decode(const QString& path, int shrink, VipsImage* header, qint64 maxBytes);

    // The shrink-on-load libvips' thumbnail takes for a picture `factor` times larger than
    // the size asked for: at least a factor of two is left for the final resize.
    static int loadShrink(double factor);
};

} // namespace qv
