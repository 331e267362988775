#pragma once

namespace qv {

// Starts libvips once per process; false when it could not start.
bool ensureVips();

// Shares the machine's cores among the jobs that may run at once on the cpu lane: each
// libvips pipeline gets max(1, cores / lanes) threads.
void setVipsLanes(int cpuLaneLimit);

} // namespace qv
