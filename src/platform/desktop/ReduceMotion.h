#pragma once

namespace qv {

// True when the desktop asks for less motion: GNOME's "enable-animations" off, or
// QUORVENDA_REDUCE_MOTION=1.
bool reduceMotion();

} // namespace qv
