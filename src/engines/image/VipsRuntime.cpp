#include "engines/image/VipsRuntime.h"

#include <vips/vips.h>

namespace qv {

bool ensureVips()
{
    static const bool started = [] {
        if (VIPS_INIT("quorvenda") != 0)
            return false;
        // Files change on disk between jobs: never answer from a cached load.
        vips_cache_set_max(0);
        return true;
    }();
    return started;
}

} // namespace qv
