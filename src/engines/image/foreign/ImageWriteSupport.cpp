#include "engines/image/foreign/ImageWriteSupport.h"

#include "engines/image/VipsRuntime.h"
#include "model/operations/Capabilities.h"


#include <vips/vips.h>

namespace qv {

bool ImageWriteSupport::canWrite(ImageOutput output) const
{
    switch (output) {
    case ImageOutput::webp: return vipsWebp || hasFFmpeg;
    case ImageOutput::avif: return vipsAvif || hasFFmpeg;
    default: return true;
    }
}

ImageWriteSupport ImageWriteSupport::current()
{
    return {vipsCanSave(ImageOutput::webp), vipsCanSave(ImageOutput::avif),
            !ffmpegProgramPath().isEmpty()};
}

bool vipsCanSave(ImageOutput output)
{
    if (!ensureVips())
        return false;
    const QByteArray name = QByteArray("x.") + toString(output).toLatin1();
    const char* saver = vips_foreign_find_save(name.constData());
    // A failed lookup leaves a message on libvips' error buffer; it is not an error here.
    if (!saver)
        vips_error_clear();
    return saver != nullptr;
}

QString ffmpegProgramPath()
{
    const std::optional<QUrl>& url = Capabilities::shared().ffmpegURL();
    return url ? url->toLocalFile() : QString();
}

} // namespace qv
