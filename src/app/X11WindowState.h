#pragma once

class QWidget;

namespace qv {

// Asks the window manager to keep the window on every desktop and above other windows. Set
// before the window is first shown; nothing happens off X11.
void keepOnAllDesktops(QWidget* window);

} // namespace qv
