#include "engines/image/foreign/ImageToPng.h"

#include "engines/image/VipsPixels.h"
#include "engines/image/VipsRuntime.h"

#include <vips/vips.h>

#include <memory>

namespace qv {

std::optional<QByteArray> imageToPng(const QByteArray& bytes, qint64 maxPixels)
{
    if (bytes.isEmpty() || !ensureVips())
        return std::nullopt;
    // Only the header is read here; a huge canvas is refused before any pixel is decoded.
    VipsImage* raw = vips_image_new_from_buffer(bytes.constData(), size_t(bytes.size()), "",
                                                "access", VIPS_ACCESS_SEQUENTIAL, "fail_on",
                                                VIPS_FAIL_ON_ERROR, nullptr);
    if (!raw) {
        vips_error_clear();
        return std::nullopt;
    }
    const std::unique_ptr<VipsImage, void (*)(VipsImage*)> image(
        raw, [](VipsImage* i) { g_object_unref(i); });
    if (qint64(vips_image_get_width(raw)) * vips_image_get_height(raw) > maxPixels)
        return std::nullopt;
    // PNG holds no CMYK, and the saver's own conversion gives 16 bits; an 8-bit picture stays at 8.
    VipsImage* ready = raw;
    std::unique_ptr<VipsImage, void (*)(VipsImage*)> converted(nullptr, [](VipsImage* i) { g_object_unref(i); });
    if (vips_image_guess_interpretation(raw) == VIPS_INTERPRETATION_CMYK) {
        VipsImage* rgb = nullptr;
        VipsImage* narrow = nullptr;
        if (vips_colourspace(raw, &rgb, VIPS_INTERPRETATION_sRGB, nullptr) != 0) {
            vips_error_clear();
            return std::nullopt;
        }
        const int status = vips_cast(rgb, &narrow, VIPS_FORMAT_UCHAR, nullptr);
        g_object_unref(rgb);
        if (status != 0) {
            vips_error_clear();
            return std::nullopt;
        }
        vips_image_remove(narrow, VIPS_META_ICC_NAME);
        converted.reset(narrow);
        ready = narrow;
    }
    void* buffer = nullptr;
    size_t length = 0;
    const VipsErrorWatch lostFailure;
    if (vips_image_write_to_buffer(ready, ".png", &buffer, &length, nullptr) != 0 || lostFailure.failed()) {
        g_free(buffer);
        vips_error_clear();
        return std::nullopt;
    }
    QByteArray png(static_cast<const char*>(buffer), qsizetype(length));
    g_free(buffer);
    return png;
}

} // namespace qv
