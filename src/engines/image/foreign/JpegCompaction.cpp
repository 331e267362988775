#include "engines/image/foreign/JpegCompaction.h"

#include "engines/image/foreign/JpegErrorManager.h"

#include <cstdlib>

namespace qv {

namespace {

// libjpeg's output buffer, which it grows with malloc.
struct Output {
    unsigned char* bytes = nullptr;
    unsigned long size = 0;
    ~Output() { std::free(bytes); }
};

} // namespace

QByteArray JpegCompaction::compact(QByteArrayView jpeg)
{
    if (jpeg.isEmpty())
        return {};
    // Kept out of the frame setjmp returns to, as libjpeg's own examples do.
    auto in = std::make_unique<jpeg_decompress_struct>();
    auto out = std::make_unique<jpeg_compress_struct>();
    auto errors = std::make_unique<JpegErrorManager>();
    auto output = std::make_unique<Output>();
    // A damaged picture is left as it is: its coefficients would be written as the decoder guessed them.
    errors->install(*in, true);
    out->err = &errors->pub;
    if (setjmp(errors->jump)) {
        jpeg_destroy_compress(out.get());
        jpeg_destroy_decompress(in.get());
        return {};
    }
    jpeg_create_decompress(in.get());
    jpeg_create_compress(out.get());
    jpeg_mem_src(in.get(), reinterpret_cast<const unsigned char*>(jpeg.data()), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(in.get(), TRUE);
    jvirt_barray_ptr* coefficients = jpeg_read_coefficients(in.get());
    jpeg_copy_critical_parameters(in.get(), out.get());
    out->optimize_coding = TRUE;
    jpeg_simple_progression(out.get());
    jpeg_mem_dest(out.get(), &output->bytes, &output->size);
    jpeg_write_coefficients(out.get(), coefficients);
    jpeg_finish_compress(out.get());
    jpeg_finish_decompress(in.get());
    QByteArray result(reinterpret_cast<const char*>(output->bytes), qsizetype(output->size));
    jpeg_destroy_compress(out.get());
    jpeg_destroy_decompress(in.get());
    return result;
}

} // namespace qv
