#include "engines/image/VipsRuntime.h"

#include <QThread>

#include <vips/vips.h>

#include <algorithm>

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

void setVipsLanes(int cpuLaneLimit)
{
    if (!ensureVips())
        return;
    vips_concurrency_set(std::max(1, QThread::idealThreadCount() / std::max(1, cpuLaneLimit)));
}

} // namespace qv
