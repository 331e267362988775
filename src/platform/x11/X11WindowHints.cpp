#include "platform/x11/X11WindowHints.h"

#include "platform/x11/X11QtConnection.h"

#include <xcb/xcb.h>

namespace qv {

WindowHints& WindowHints::system()
{
    static X11WindowHints hints;
    return hints;
}

void X11WindowHints::keepOnAllDesktops(WId window)
{
    xcb_connection_t* connection = X11QtConnection::get();
    if (!connection || !window)
        return;
    const auto id = xcb_window_t(window);
    const xcb_atom_t states[] = {X11QtConnection::atom(connection, "_NET_WM_STATE_STICKY"),
                                 X11QtConnection::atom(connection, "_NET_WM_STATE_ABOVE")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, X11QtConnection::atom(connection, "_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, 2, states);
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, X11QtConnection::atom(connection, "_NET_WM_DESKTOP"),
                        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    xcb_flush(connection);
}

} // namespace qv
