#include "engines/image/ImageWork.h"

#include "model/operations/Capabilities.h"

namespace qv {

QSet<QString> ImageWork::writable() const
{
    return writableTypes ? *writableTypes : Capabilities::shared().imageIOWritable();
}

std::optional<QUrl> ImageWork::ffmpegProgram() const
{
    return ffmpeg ? *ffmpeg : Capabilities::shared().ffmpegURL();
}

} // namespace qv
