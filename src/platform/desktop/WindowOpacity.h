#pragma once

namespace qv {

// Whether a window can be made see-through as a whole: Qt's Wayland platform cannot, and says
// so in the log each time it is asked. Where it cannot, fades are left out.
bool windowOpacityWorks();

} // namespace qv
