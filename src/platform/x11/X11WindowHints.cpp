#include "platform/x11/X11WindowHints.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace qv {

namespace {

xcb_connection_t* qtConnection()
{
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

} // namespace

WindowHints& WindowHints::system()
{
    static X11WindowHints hints;
    return hints;
}

void X11WindowHints::keepOnAllDesktops(WId window)
{
    xcb_connection_t* connection = qtConnection();
    if (!connection || !window)
        return;
    const auto id = xcb_window_t(window);
    const xcb_atom_t states[] = {atom(connection, "_NET_WM_STATE_STICKY"),
                                 atom(connection, "_NET_WM_STATE_ABOVE")};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, 2, states);
    const uint32_t allDesktops = 0xFFFFFFFF;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, atom(connection, "_NET_WM_DESKTOP"),
                        XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
    xcb_flush(connection);
}

} // namespace qv
