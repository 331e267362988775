#include "engines/image/resample/ImageThumbnail.h"

#include "engines/image/foreign/StoredSamples.h"
#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"

#include <QFile>

#include <vips/vips.h>

#include <cstring>
#include <memory>

namespace qv {
namespace {

struct Unref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using VipsPointer = std::unique_ptr<VipsImage, Unref>;

// Each step consumes its input; a failure clears libvips' error buffer and gives null.
VipsPointer step(VipsPointer in, int (*operation)(VipsImage*, VipsImage**))
{
    VipsImage* out = nullptr;
    if (!in || operation(in.get(), &out) != 0) {
        vips_error_clear();
        return {};
    }
    return VipsPointer(out);
}

// A PPM or JPEG 2000 whose samples libvips hands over as stored, put right first; null for
// every other file, which libvips' own thumbnail reads.
VipsRef correctedSource(const QByteArray& native)
{
    const char* loader = vips_foreign_find_load(native.constData());
    if (!loader || (qstrcmp(loader, "VipsForeignLoadPpmFile") != 0 && qstrcmp(loader, "VipsForeignLoadJp2kFile") != 0)) {
        vips_error_clear();
        return {};
    }
    VipsRef header(vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr));
    if (!header || !StoredSamples::needCorrection(native, header.get())) {
        vips_error_clear();
        return {};
    }
    return StoredSamples::corrected(native, header.get(), nullptr);
}

} // namespace

std::optional<QImage> imageThumbnail(const QString& path, QSize box, bool wholeFile)
{
    if (!ensureVipsToRead(path) || box.isEmpty())
        return std::nullopt;
    const QByteArray native = QFile::encodeName(path);
    VipsImage* raw = nullptr;
    int status = -1;
    if (isSvgName(path)) {
        // From its bytes alone: nothing beside it is drawn.
        if (VipsSource* source = svgSource(path)) {
            status = vips_thumbnail_source(source, &raw, box.width(), "height", box.height(), "size", VIPS_SIZE_DOWN,
                                           nullptr);
            g_object_unref(source);
        }
    } else if (VipsRef corrected = correctedSource(native)) {
        status = vips_thumbnail_image(corrected.get(), &raw, box.width(), "height", box.height(), "size",
                                      VIPS_SIZE_DOWN, nullptr);
    } else {
        status = wholeFile ? vips_thumbnail(native.constData(), &raw, box.width(), "height", box.height(), "size",
                                            VIPS_SIZE_DOWN, "fail_on", VIPS_FAIL_ON_TRUNCATED, nullptr)
                           : vips_thumbnail(native.constData(), &raw, box.width(), "height", box.height(), "size",
                                            VIPS_SIZE_DOWN, nullptr);
    }
    if (status != 0) {
        vips_error_clear();
        return std::nullopt;
    }
    VipsPointer image(raw);
    image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
        return vips_colourspace(in, out, VIPS_INTERPRETATION_sRGB, nullptr);
    });
    image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
        return vips_cast(in, out, VIPS_FORMAT_UCHAR, nullptr);
    });
    if (!image)
        return std::nullopt;
    // sRGB with or without alpha; any further bands are dropped.
    const bool alpha = image->Bands >= 4 || image->Bands == 2;
    const int bands = alpha ? 4 : 3;
    if (image->Bands > bands) {
        image = step(std::move(image), [](VipsImage* in, VipsImage** out) {
            return vips_extract_band(in, out, 0, "n", 4, nullptr);
        });
        if (!image)
            return std::nullopt;
    }
    if (image->Bands != bands)
        return std::nullopt;
    size_t length = 0;
    const VipsErrorWatch lostFailure;
    void* memory = vips_image_write_to_memory(image.get(), &length);
    if (memory && lostFailure.failed()) {
        g_free(memory);
        memory = nullptr;
    }
    if (!memory) {
        vips_error_clear();
        return std::nullopt;
    }
    const int width = image->Xsize;
    const int height = image->Ysize;
    QImage result(width, height, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    const auto* source = static_cast<const uchar*>(memory);
    const int rowBytes = width * bands;
    if (result.isNull() || length < size_t(rowBytes) * size_t(height)) {
        g_free(memory);
        return std::nullopt;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(result.scanLine(y), source + size_t(y) * rowBytes, rowBytes);
    g_free(memory);
    return result;
}

} // namespace qv
