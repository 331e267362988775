#pragma once

#include <QString>
#include <QtGui/qwindowdefs.h>

namespace qv {

// What a window asks of the window manager beyond Qt's own flags. A window manager without
// such hints (no X11 session) is not asked, and the calls do nothing.
class WindowHints {
public:
    virtual ~WindowHints() = default;

    // Gives the window exactly this title. Qt adds " — Quorvenda" to every title that does not
    // end in the application's name; the settings window is called "Quorvenda Settings".
    virtual void setExactTitle(WId window, const QString& title) = 0;

    // Keeps the window on every desktop and above other windows. Set before the window is
    // first shown.
    virtual void keepOnAllDesktops(WId window) = 0;

    static WindowHints& system();
};

} // namespace qv
