#include "engines/image/foreign/JpegPixels.h"

#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/JpegErrorManager.h"
#include "model/errors/EngineError.h"

#include <cstring>

namespace qv {

namespace {

// Fields libvips keeps in the image itself, not as metadata.
bool isBuiltIn(const char* name)
{
    static const char* const builtIn[] = {"width",  "height", "bands",   "format",  "coding",
                                          "interpretation", "xoffset", "yoffset", "xres",
                                          "yres",   "filename", "mode",  "scale",   "offset"};
    for (const char* field : builtIn) {
        if (std::strcmp(name, field) == 0)
            return true;
    }
    return false;
}

void copyMetadata(VipsImage* from, VipsImage* to)
{
    gchar** fields = vips_image_get_fields(from);
    for (gchar** field = fields; field && *field; ++field) {
        if (isBuiltIn(*field))
            continue;
        GValue value = G_VALUE_INIT;
        if (vips_image_get(from, *field, &value) == 0)
            vips_image_set(to, *field, &value);
        g_value_unset(&value);
    }
    g_strfreev(fields);
    vips_error_clear();
}

} // namespace

int JpegPixels::loadShrink(double factor)
{
    if (factor >= 16)
        return 8;
    if (factor >= 8)
        return 4;
    if (factor >= 4)
        return 2;
    return 1;
}

VipsImage* JpegPixels::decode(const QString& path, int shrink, VipsImage* header, qint64 maxBytes)
{
    const JpegErrorManager::File file = JpegErrorManager::open(path);
    if (!file)
        throw EngineError(ImageDecoder::damagedMessage(), QStringLiteral("cannot open the file"));
    // Kept out of the frame setjmp returns to, as libjpeg's own examples do.
    auto info = std::make_unique<jpeg_decompress_struct>();
    auto errors = std::make_unique<JpegErrorManager>();
    // Damage ends the decode at its first warning.
    errors->install(*info, true);
    VipsImage* volatile image = nullptr;
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info.get());
        if (image)
            g_object_unref(image);
        throw EngineError(ImageDecoder::damagedMessage(), errors->text());
    }
    jpeg_create_decompress(info.get());
    jpeg_stdio_src(info.get(), file.get());
    jpeg_read_header(info.get(), TRUE);
    const bool grey = info->num_components == 1 && info->jpeg_color_space == JCS_GRAYSCALE;
    const bool colour = info->num_components == 3
        && (info->jpeg_color_space == JCS_YCbCr || info->jpeg_color_space == JCS_RGB);
    if (!grey && !colour) {
        jpeg_destroy_decompress(info.get());
        return nullptr;
    }
    info->out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    info->scale_num = 1;
    info->scale_denom = unsigned(shrink);
    jpeg_calc_output_dimensions(info.get());
    const int bands = grey ? 1 : 3;
    if (info->output_width < 1 || info->output_height < 1
        || qint64(info->output_width) * info->output_height * bands > maxBytes) {
        jpeg_destroy_decompress(info.get());
        return nullptr;
    }
    VipsImage* made = vips_image_new_memory();
    image = made;
    vips_image_init_fields(made, int(info->output_width), int(info->output_height), bands, VIPS_FORMAT_UCHAR,
                           VIPS_CODING_NONE, grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB,
                           header->Xres, header->Yres);
    if (vips_image_write_prepare(made) != 0) {
        vips_error_clear();
        jpeg_destroy_decompress(info.get());
        g_object_unref(made);
        return nullptr;
    }
    jpeg_start_decompress(info.get());
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = VIPS_IMAGE_ADDR(made, 0, int(info->output_scanline));
        jpeg_read_scanlines(info.get(), &row, 1);
    }
    // Reads on to the end marker: data cut short or bytes that belong to no scan are warned of here.
    jpeg_finish_decompress(info.get());
    jpeg_destroy_decompress(info.get());
    copyMetadata(header, made);
    return made;
}

} // namespace qv
