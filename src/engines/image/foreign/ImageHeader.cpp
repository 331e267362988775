#include "engines/image/foreign/ImageHeader.h"

#include "engines/image/foreign/HeifSequence.h"
#include "engines/image/VipsRuntime.h"

#include <QFile>

#include <vips/vips.h>

#include <memory>
#include <utility>

namespace qv {

namespace {

struct Unref {
    void operator()(VipsImage* image) const { g_object_unref(image); }
};
using HeaderPointer = std::unique_ptr<VipsImage, Unref>;

// Opening reads the header only; no pixel is decoded.
HeaderPointer openHeader(const QString& path)
{
    if (!ensureVipsToRead(path))
        return {};
    VipsImage* image = nullptr;
    const QByteArray native = QFile::encodeName(path);
    if (isSvgName(path)) {
        if (VipsSource* source = svgSource(path)) {
            image = vips_image_new_from_source(source, "", "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
            g_object_unref(source);
        }
    } else if (HeifSequence::holdsPrimaryImage(native)) {
        if (vips_heifload(native.constData(), &image, "access", VIPS_ACCESS_SEQUENTIAL, nullptr) != 0)
            image = nullptr;
    } else {
        image = vips_image_new_from_file(native.constData(), "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    }
    if (!image)
        vips_error_clear();
    return HeaderPointer(image);
}

} // namespace

std::optional<int> imageFrameCount(const QString& path)
{
    const HeaderPointer image = openHeader(path);
    if (!image)
        return std::nullopt;
    return vips_image_get_n_pages(image.get());
}

std::optional<QSize> imagePixelSize(const QString& path)
{
    const HeaderPointer owned = openHeader(path);
    VipsImage* image = owned.get();
    if (!image)
        return std::nullopt;
    int width = image->Xsize;
    int height = image->Ysize;
    // Only the first page of a multi-page file is shown.
    if (vips_image_get_typeof(image, VIPS_META_PAGE_HEIGHT)) {
        int pageHeight = 0;
        if (vips_image_get_int(image, VIPS_META_PAGE_HEIGHT, &pageHeight) == 0 && pageHeight > 0)
            height = pageHeight;
    }
    if (vips_image_get_typeof(image, VIPS_META_ORIENTATION)) {
        int orientation = 1;
        if (vips_image_get_int(image, VIPS_META_ORIENTATION, &orientation) == 0 && orientation >= 5
            && orientation <= 8)
            std::swap(width, height);
    }
    if (width <= 0 || height <= 0)
        return std::nullopt;
    return QSize(width, height);
}

std::optional<bool> imageHasAlpha(const QString& path)
{
    const HeaderPointer image = openHeader(path);
    if (!image)
        return std::nullopt;
    return vips_image_hasalpha(image.get()) != 0;
}

std::optional<int> imageBandCount(const QString& path)
{
    const HeaderPointer image = openHeader(path);
    if (!image)
        return std::nullopt;
    return image->Bands;
}

QByteArray imageColourProfile(const QString& path)
{
    const HeaderPointer image = openHeader(path);
    const void* data = nullptr;
    size_t length = 0;
    if (!image || !vips_image_get_typeof(image.get(), VIPS_META_ICC_NAME)
        || vips_image_get_blob(image.get(), VIPS_META_ICC_NAME, &data, &length) != 0 || !data) {
        vips_error_clear();
        return {};
    }
    return QByteArray(static_cast<const char*>(data), qsizetype(length));
}

} // namespace qv
