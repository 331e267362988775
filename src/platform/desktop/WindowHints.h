#pragma once

#include <QtGui/qwindowdefs.h>

namespace qv {

// What a window asks of the window manager beyond Qt's own flags. A window manager without
// such hints (no X11 session) is not asked, and the calls do nothing.
class WindowHints {
public:
    virtual ~WindowHints() = default;

    // Keeps the window on every desktop and above other windows. Set before the window is
    // first shown.
    virtual void keepOnAllDesktops(WId window) = 0;

    static WindowHints& system();
};

} // namespace qv
