#include "engines/image/foreign/HeifWriter.h"

#include "engines/image/foreign/CheckedVipsTarget.h"
#include "engines/image/VipsRuntime.h"
#include "model/errors/Error.h"

#include <QFile>

#include <vips/vips.h>

#include <cstring>

namespace qv {

bool writeHeif(const QImage& image, const QString& path, int quality)
{
    if (image.isNull() || quality < 1 || quality > 100 || !ensureVips())
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    const int height = rgb.height();
    const qsizetype rowBytes = qsizetype(width) * 3;
    QByteArray pixels(rowBytes * height, Qt::Uninitialized);
    for (int y = 0; y < height; ++y)
        std::memcpy(pixels.data() + rowBytes * y, rgb.constScanLine(y), size_t(rowBytes));

    VipsImage* in = vips_image_new_from_memory(pixels.constData(), size_t(pixels.size()), width,
                                               height, 3, VIPS_FORMAT_UCHAR);
    if (!in) {
        vips_error_clear();
        return false;
    }
    in->Type = VIPS_INTERPRETATION_sRGB;
    int result = -1;
    {
        CheckedVipsTarget file(path);
        if (file.target())
            result = vips_heifsave_target(in, file.target(), "Q", quality, "compression",
                                          VIPS_FOREIGN_HEIF_COMPRESSION_HEVC, nullptr);
        try {
            file.finish();
        } catch (const Error&) {
            result = -1;
        }
        if (!file.target())
            result = -1;
    }
    g_object_unref(in);
    if (result != 0) {
        vips_error_clear();
        QFile::remove(path);
        return false;
    }
    return true;
}

} // namespace qv
