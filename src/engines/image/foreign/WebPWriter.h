#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <stop_token>

struct _VipsImage;

namespace qv {

// Lossy WebP straight from libvips' pixels to the file: the rows are converted to the encoder's
// YUV a strip at a time while they are decoded, and the encoded bytes go to the file as they
// come, so beside the encoder's own needs only the YUV picture is held. libwebp's default
// encoder keeps a token buffer for the whole picture (a few bytes per pixel of busy content);
// its low-memory mode keeps none but runs a statistics pass first, costing up to twice the CPU.
class WebPWriter {
public:
    WebPWriter() = delete;

    // Writes 8-bit pixels (1 to 4 bands; grey is made RGB) at quality 1...100 with the ICC
    // profile, EXIF and XMP the image carries. Returns 0, or -1 with the reason in libvips'
    // error buffer ("out of memory" for memory; the loader's own text for a damaged input).
    // A stop request ends the encoding too. A failed write may leave a partial file at path.
    static int save(_VipsImage* image, const char* path, int quality, bool lowMemory, std::stop_token stop = {});

    // What one picture of this size needs while it is written, in bytes: the YUV picture, the
    // encoder's working rows and, unless lowMemory, its token buffer. The token buffer follows
    // the content, which the compressed size of a lossy source tells: sourceBytes as
    // sourceBytes() gives it (0 assumes the busiest content).
    static qint64 memoryNeed(qint64 width, qint64 height, bool alpha, qint64 sourceBytes, bool lowMemory);

    // The size of the file when it is a JPEG or a lossy WebP, whose bytes follow the busyness
    // of the pixels; 0 for other files.
    static qint64 sourceBytes(const QString& path);

    // Whether a picture should be written in low-memory mode when budgetBytes of memory are
    // shared by up to lanes pictures at a time: only when the full mode would leave most
    // lanes waiting for memory, so that more pictures in the slower mode finish sooner.
    // False without a budget (0) or with a single lane.
    static bool lowMemoryPays(qint64 width, qint64 height, bool alpha, qint64 sourceBytes, qint64 budgetBytes,
                              int lanes);
};

} // namespace qv
