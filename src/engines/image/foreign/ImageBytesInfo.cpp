#include "engines/image/foreign/ImageBytesInfo.h"

#include "engines/image/VipsRuntime.h"

#include <vips/vips.h>

#include <memory>

namespace qv {

std::optional<ImageBytesInfo> imageBytesInfo(const QByteArray& bytes)
{
    if (bytes.isEmpty() || !ensureVips())
        return std::nullopt;
    VipsImage* raw = vips_image_new_from_buffer(bytes.constData(), size_t(bytes.size()), "",
                                                "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!raw) {
        vips_error_clear();
        return std::nullopt;
    }
    const std::unique_ptr<VipsImage, void (*)(VipsImage*)> image(raw, [](VipsImage* i) { g_object_unref(i); });
    ImageBytesInfo info;
    info.pixelSize = QSize(vips_image_get_width(raw), vips_image_get_height(raw));
    // libvips reports pixels per millimetre, and 1 when the file names no resolution.
    const double perMillimetre = vips_image_get_xres(raw);
    if (perMillimetre > 1.0 + 1e-9)
        info.dpi = perMillimetre * 25.4;
    return info;
}

} // namespace qv
