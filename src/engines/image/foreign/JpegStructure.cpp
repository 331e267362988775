#include "engines/image/foreign/JpegStructure.h"

#include "engines/image/foreign/ImageDecoder.h"
#include "engines/image/foreign/JpegErrorManager.h"
#include "model/errors/EngineError.h"

namespace qv {

namespace {

// The parse itself, from whatever source `attach` gives libjpeg.
template<typename Attach>
QString parsedFault(Attach attach)
{
    // Kept out of the frame setjmp returns to, as libjpeg's own examples do.
    auto info = std::make_unique<jpeg_decompress_struct>();
    auto errors = std::make_unique<JpegErrorManager>();
    errors->install(*info, false);
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info.get());
        return errors->text();
    }
    jpeg_create_decompress(info.get());
    attach(info.get());
    jpeg_read_header(info.get(), TRUE);
    // An eighth of the size: every scan's coded data is parsed as a full decode parses it, but
    // the coefficients that size does not use are skipped over, not stored or transformed, and
    // the picture made is 1/64 of the pixels, in grey where the file allows.
    info->scale_num = 1;
    info->scale_denom = 8;
    info->dct_method = JDCT_IFAST;
    info->do_fancy_upsampling = FALSE;
    info->do_block_smoothing = FALSE;
    if (info->jpeg_color_space == JCS_YCbCr || info->jpeg_color_space == JCS_GRAYSCALE)
        info->out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(info.get());
    // libjpeg's own pool: nothing of ours is left behind when an error jumps back.
    JSAMPARRAY rows = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info.get()), JPOOL_IMAGE,
                                                 info->output_width * JDIMENSION(info->output_components), 1);
    while (info->output_scanline < info->output_height)
        jpeg_read_scanlines(info.get(), rows, 1);
    // Reads on to EOI: data cut short or extraneous bytes before it are warned of here.
    jpeg_finish_decompress(info.get());
    const bool damaged = errors->pub.num_warnings > 0;
    jpeg_destroy_decompress(info.get());
    return damaged ? errors->text() : QString();
}

} // namespace

QString JpegStructure::fault(const QString& path)
{
    const JpegErrorManager::File file = JpegErrorManager::open(path);
    if (!file)
        return QStringLiteral("cannot open the file");
    return parsedFault([&](jpeg_decompress_struct* info) { jpeg_stdio_src(info, file.get()); });
}

QString JpegStructure::faultOfBytes(QByteArrayView jpeg)
{
    if (jpeg.isEmpty())
        return QStringLiteral("no data");
    return parsedFault([&](jpeg_decompress_struct* info) {
        jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    });
}

void JpegStructure::check(const QString& path)
{
    const QString found = fault(path);
    if (!found.isEmpty())
        throw EngineError(ImageDecoder::damagedMessage(), found);
}

} // namespace qv
