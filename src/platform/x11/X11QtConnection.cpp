#include "platform/x11/X11QtConnection.h"

#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace qv {

namespace {

QNativeInterface::QX11Application* qtX11()
{
    return qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

} // namespace

xcb_connection_t* X11QtConnection::get()
{
    auto* x11 = qtX11();
    return x11 ? x11->connection() : nullptr;
}

std::uint32_t X11QtConnection::atom(xcb_connection_t* connection, const char* name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

QByteArray X11QtConnection::displayName()
{
    auto* x11 = qtX11();
    Display* display = x11 ? x11->display() : nullptr;
    return display ? QByteArray(DisplayString(display)) : QByteArray();
}

int X11QtConnection::defaultScreen()
{
    auto* x11 = qtX11();
    Display* display = x11 ? x11->display() : nullptr;
    return display ? DefaultScreen(display) : 0;
}

} // namespace qv
