#include "engines/image/JpegStructure.h"

#include "engines/image/ImageDecoder.h"
#include "model/EngineError.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <memory>

// jpeglib.h needs FILE and size_t declared before it.
#include <jpeglib.h>

namespace qv {

namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
};

[[noreturn]] void errorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// libjpeg reports damaged data as warnings (level -1) and reads on; the first one is kept.
void emitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto* errors = reinterpret_cast<ErrorManager*>(info->err);
    if (errors->pub.num_warnings++ == 0)
        info->err->format_message(info, errors->message);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

QString JpegStructure::fault(const QString& path)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(QFile::encodeName(path).constData(), "rbe"));
    if (!file)
        return QStringLiteral("cannot open the file");
    // Kept out of the frame setjmp returns to, as libjpeg's own examples do.
    auto info = std::make_unique<jpeg_decompress_struct>();
    auto errors = std::make_unique<ErrorManager>();
    info->err = jpeg_std_error(&errors->pub);
    errors->pub.error_exit = errorExit;
    errors->pub.emit_message = emitMessage;
    if (setjmp(errors->jump)) {
        jpeg_destroy_decompress(info.get());
        return QString::fromLatin1(errors->message);
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
    return damaged ? QString::fromLatin1(errors->message) : QString();
}

void JpegStructure::check(const QString& path)
{
    const QString found = fault(path);
    if (!found.isEmpty())
        throw EngineError(ImageDecoder::damagedMessage(), found);
}

} // namespace qv
