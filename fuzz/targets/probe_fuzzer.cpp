// What "ffmpeg -i FILE" prints, through parseFFmpegProbeOutput.
#include "FuzzSupport.h"

#include "engines/media/probe/FFmpegProbeParser.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qvfuzz::startQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    (void)qv::parseFFmpegProbeOutput(QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
