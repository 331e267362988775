#include "engines/image/foreign/JpegErrorManager.h"

#include <QFile>

namespace qv {

namespace {

[[noreturn]] void errorExit(j_common_ptr info)
{
    auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    info->err->format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

void emitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    auto* errors = reinterpret_cast<JpegErrorManager*>(info->err);
    if (errors->failOnWarning)
        errorExit(info);
    if (errors->pub.num_warnings++ == 0)
        info->err->format_message(info, errors->message);
}

} // namespace

void JpegErrorManager::install(jpeg_decompress_struct& info, bool endOnWarning)
{
    failOnWarning = endOnWarning;
    info.err = jpeg_std_error(&pub);
    pub.error_exit = errorExit;
    pub.emit_message = emitMessage;
}

JpegErrorManager::File JpegErrorManager::open(const QString& path)
{
    return File(std::fopen(QFile::encodeName(path).constData(), "rbe"));
}

} // namespace qv
