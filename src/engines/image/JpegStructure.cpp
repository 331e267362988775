#include "engines/image/JpegStructure.h"

#include "engines/image/ImageDecoder.h"
#include "engines/image/JpegErrorManager.h"
#include "model/EngineError.h"

namespace qv {

QString JpegStructure::fault(const QString& path)
{
    const JpegErrorManager::File file = JpegErrorManager::open(path);
    if (!file)
        return QStringLiteral("cannot open the file");
    // Kept out of the frame setjmp returns to, as libjpeg's own examples do.
    auto info = std::make_unique<jpeg_decompress_struct>();
    auto errors = std::make_unique<JpegErrorManager>();
    errors->install(*info, false);
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info.get());
        return errors->text();
    }
    jpeg_create_decompress(info.get());
    jpeg_stdio_src(info.get(), file.get());
    jpeg_read_header(info.get(), TRUE);
    // Every scan's entropy-coded data, Huffman or arithmetic, baseline or progressive, into
    // coefficient blocks; no inverse DCT, upsampling or colour conversion.
    jpeg_read_coefficients(info.get());
    // Reads on to EOI: data cut short or extraneous bytes before it are warned of here.
    jpeg_finish_decompress(info.get());
    const bool damaged = errors->pub.num_warnings > 0;
    jpeg_destroy_decompress(info.get());
    return damaged ? errors->text() : QString();
}

void JpegStructure::check(const QString& path)
{
    const QString found = fault(path);
    if (!found.isEmpty())
        throw EngineError(ImageDecoder::damagedMessage(), found);
}

} // namespace qv
