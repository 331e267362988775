#pragma once

namespace qv {

// Starts libvips once per process; false when it could not start.
bool ensureVips();

} // namespace qv
