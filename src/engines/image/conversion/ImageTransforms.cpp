#include "engines/image/conversion/ImageTransforms.h"

#include "engines/image/VipsPixels.h"
#include "model/errors/EngineError.h"

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

[[noreturn]] void noMemory(const QString& log = {})
{
    throw EngineError(QStringLiteral("Not enough memory for this image"), log);
}

DecodedImage derived(const DecodedImage& from, VipsRef image)
{
    return decodedFromVips(image.release(), from.properties(), from.dpi());
}

// Steps decode lazily: a step's failure is the file's when its reader says so.
VipsRef must(VipsRef image, const QString& log)
{
    if (!image)
        throwStepFailure(log);
    return image;
}

// 8-bit sRGB (with alpha when there is one), the form every redraw works in.
VipsRef srgb8(VipsImage* in, QString* log)
{
    VipsRef image = vipsStep(in, [](VipsImage* i, VipsImage** o) {
        return vips_colourspace(i, o, VIPS_INTERPRETATION_sRGB, nullptr);
    }, log);
    return vipsStep(image.get(), [](VipsImage* i, VipsImage** o) {
        return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr);
    }, log);
}

} // namespace

DecodedImage ImageTransforms::scaledImage(const DecodedImage& image, double width, double height)
{
    VipsImage* in = vipsImage(image);
    if (!in)
        noMemory();
    const int targetWidth = std::max(1, int(std::lround(width)));
    const int targetHeight = std::max(1, int(std::lround(height)));
    QString log;
    const bool alpha = vips_image_hasalpha(in);
    VipsRef work;
    VipsImage* current = in;
    if (alpha) {
        work = must(vipsStep(current, [](VipsImage* i, VipsImage** o) { return vips_premultiply(i, o, nullptr); }, &log), log);
        current = work.get();
    }
    const double hscale = double(targetWidth) / in->Xsize;
    const double vscale = double(targetHeight) / in->Ysize;
    VipsRef resized = must(vipsStep(current, [&](VipsImage* i, VipsImage** o) {
        return vips_resize(i, o, hscale, "vscale", vscale, "kernel", VIPS_KERNEL_LANCZOS3, nullptr);
    }, &log), log);
    if (resized->Xsize != targetWidth || resized->Ysize != targetHeight) {
        resized = must(vipsStep(resized.get(), [&](VipsImage* i, VipsImage** o) {
            return vips_gravity(i, o, VIPS_COMPASS_DIRECTION_CENTRE, targetWidth, targetHeight,
                                "extend", VIPS_EXTEND_COPY, nullptr);
        }, &log), log);
    }
    if (alpha) {
        resized = must(vipsStep(resized.get(), [](VipsImage* i, VipsImage** o) { return vips_unpremultiply(i, o, nullptr); }, &log), log);
        resized = must(vipsStep(resized.get(), [&](VipsImage* i, VipsImage** o) {
            return vips_cast(i, o, in->BandFmt, nullptr);
        }, &log), log);
    }
    return derived(image, std::move(resized));
}

DecodedImage ImageTransforms::flatten(const DecodedImage& image, const QColor& color)
{
    VipsImage* in = vipsImage(image);
    if (!in)
        noMemory();
    QString log;
    VipsRef rgb = must(srgb8(in, &log), log);
    if (!vips_image_hasalpha(rgb.get()))
        return derived(image, std::move(rgb));
    const QColor c = color.isValid() ? color.toRgb() : QColor(Qt::white);
    double background[3] = {double(c.red()), double(c.green()), double(c.blue())};
    VipsArrayDouble* array = vips_array_double_new(background, 3);
    VipsRef flat = vipsStep(rgb.get(), [&](VipsImage* i, VipsImage** o) {
        return vips_flatten(i, o, "background", array, nullptr);
    }, &log);
    vips_area_unref(VIPS_AREA(array));
    flat = must(std::move(flat), log);
    flat = must(vipsStep(flat.get(), [](VipsImage* i, VipsImage** o) { return vips_cast(i, o, VIPS_FORMAT_UCHAR, nullptr); }, &log), log);
    return derived(image, std::move(flat));
}

DecodedImage ImageTransforms::transformed(const DecodedImage& image, int degrees, bool flipHorizontally,
                                          bool flipVertically)
{
    VipsImage* in = vipsImage(image);
    if (!in)
        noMemory();
    QString log;
    const int quarter = (degrees / 90) & 3;
    // A turn or an upside-down flip reads the picture out of order; decoded top-down, as files
    // are, a picture taller than the decoder's few lines must be whole in memory first.
    const bool outOfOrder = quarter != 0 || flipVertically;
    VipsRef out = must(vipsStep(in, [outOfOrder](VipsImage* i, VipsImage** o) {
        if (!outOfOrder)
            return vips_copy(i, o, nullptr);
        *o = vips_image_copy_memory(i);
        return *o ? 0 : -1;
    }, &log), log);
    if (quarter != 0) {
        const VipsAngle angle = quarter == 1 ? VIPS_ANGLE_D90 : quarter == 2 ? VIPS_ANGLE_D180 : VIPS_ANGLE_D270;
        out = must(vipsStep(out.get(), [&](VipsImage* i, VipsImage** o) { return vips_rot(i, o, angle, nullptr); }, &log), log);
    }
    if (flipHorizontally)
        out = must(vipsStep(out.get(), [](VipsImage* i, VipsImage** o) { return vips_flip(i, o, VIPS_DIRECTION_HORIZONTAL, nullptr); }, &log), log);
    if (flipVertically)
        out = must(vipsStep(out.get(), [](VipsImage* i, VipsImage** o) { return vips_flip(i, o, VIPS_DIRECTION_VERTICAL, nullptr); }, &log), log);
    return derived(image, std::move(out));
}

DecodedImage ImageTransforms::squareCanvas(const DecodedImage& image)
{
    VipsImage* in = vipsImage(image);
    if (!in)
        noMemory();
    if (in->Xsize == in->Ysize)
        return image;
    QString log;
    VipsRef rgb = must(srgb8(in, &log), log);
    if (!vips_image_hasalpha(rgb.get()))
        rgb = must(vipsStep(rgb.get(), [](VipsImage* i, VipsImage** o) { return vips_addalpha(i, o, nullptr); }, &log), log);
    const int side = std::max(in->Xsize, in->Ysize);
    const int left = (side - in->Xsize) / 2;
    const int top = (side - in->Ysize) / 2;
    double transparent[4] = {0, 0, 0, 0};
    VipsArrayDouble* array = vips_array_double_new(transparent, 4);
    VipsRef square = vipsStep(rgb.get(), [&](VipsImage* i, VipsImage** o) {
        return vips_embed(i, o, left, top, side, side, "extend", VIPS_EXTEND_BACKGROUND, "background", array, nullptr);
    }, &log);
    vips_area_unref(VIPS_AREA(array));
    return derived(image, must(std::move(square), log));
}

} // namespace qv
