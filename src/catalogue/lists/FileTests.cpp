#include "catalogue/lists/FileTests.h"

namespace qv {

bool isNotEncrypted(const FileInfo& file)
{
    return !file.isEncrypted;
}

bool isAnimated(const FileInfo& file)
{
    return file.frameCount > 1;
}

bool isNotPromise(const FileInfo& file)
{
    return !file.isPromise;
}

bool acceptsAlways(const FileInfo&)
{
    return true;
}

bool mayHoldSound(const FileInfo& file)
{
    return file.hasAudio != false;
}

} // namespace qv
