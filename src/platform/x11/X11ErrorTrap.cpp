#include "platform/x11/X11ErrorTrap.h"

#include <X11/Xlib.h>

namespace qv {

namespace {

Display* g_trapDisplay = nullptr;
int g_trapError = 0;
XErrorHandler g_previousHandler = nullptr;

int trapError(Display* display, XErrorEvent* event)
{
    if (display == g_trapDisplay) {
        if (g_trapError == 0)
            g_trapError = event->error_code;
        return 0;
    }
    return g_previousHandler ? g_previousHandler(display, event) : 0;
}

} // namespace

X11ErrorTrap::X11ErrorTrap(Display* display)
    : m_display(display)
{
    XSync(display, False);
    g_trapDisplay = display;
    g_trapError = 0;
    g_previousHandler = XSetErrorHandler(trapError);
}

int X11ErrorTrap::finish()
{
    if (m_done)
        return m_error;
    m_done = true;
    XSync(m_display, False);
    XSetErrorHandler(g_previousHandler);
    g_previousHandler = nullptr;
    g_trapDisplay = nullptr;
    m_error = g_trapError;
    return m_error;
}

} // namespace qv
