#pragma once

#include "platform/drags/DragEventSource.h"

#include <memory>

namespace qv {

// The drag back end for the session the application runs in (Qt's platform plugin and what the
// compositor offers); null when the session offers no way to see drags.
std::unique_ptr<DragEventSource> makeDesktopDragSource();

// Whether a key tapped during a drag reaches us in this session; where not (wlroots compositors
// drop every key during a drag), a rest on the strip opens the wheels.
bool desktopDragsHearKeys();
// Whether the keys tapped during a drag the application started itself reach only its own
// windows, unseen by the back end: on Wayland, where keys reach a drag at all (KWin hands them
// to the window under the drag). Elsewhere the back end hears them as for any drag.
bool ownDragKeysReachOnlyOurWindows();

} // namespace qv
