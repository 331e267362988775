#pragma once

#include "platform/DragEventSource.h"

#include <memory>

namespace qv {

// The drag back end for the session the application runs in (Qt's platform plugin and what the
// compositor offers); null when the session offers no way to see drags.
std::unique_ptr<DragEventSource> makeDesktopDragSource();

} // namespace qv
