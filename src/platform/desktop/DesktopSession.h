#pragma once

#include <QString>

namespace qv {

// What kind of desktop session the process runs in, from the variables the session sets.
namespace DesktopSession {

// A Wayland session ($WAYLAND_DISPLAY, or $XDG_SESSION_TYPE "wayland"), even when the process
// itself talks X11 through XWayland.
bool isWayland();
// GNOME Shell is the desktop ($XDG_CURRENT_DESKTOP names GNOME, as Ubuntu's does too).
bool isGnomeShell();
// sway is the compositor ($XDG_CURRENT_DESKTOP names it, or its socket is set).
bool isSway();

} // namespace DesktopSession

} // namespace qv
