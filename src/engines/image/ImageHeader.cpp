#include "engines/image/ImageHeader.h"

#include "engines/image/VipsRuntime.h"

#include <QFile>

#include <vips/vips.h>

namespace qv {

std::optional<int> imageFrameCount(const QString& path)
{
    if (!ensureVips())
        return std::nullopt;
    const QByteArray native = QFile::encodeName(path);
    // Opening reads the header only; no pixel is decoded.
    VipsImage* image = vips_image_new_from_file(native.constData(), "access",
                                                VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!image) {
        vips_error_clear();
        return std::nullopt;
    }
    const int pages = vips_image_get_n_pages(image);
    g_object_unref(image);
    return pages;
}

} // namespace qv
