#pragma once

#include <QByteArray>

#include <cstdint>

struct xcb_connection_t;

namespace qv {

// Qt's own connection to the X server, for the few requests Qt has no call for.
class X11QtConnection {
public:
    // Null without an X11 display.
    static xcb_connection_t* get();
    // 0 (None) when the server gave no answer.
    static std::uint32_t atom(xcb_connection_t* connection, const char* name);
    // Qt's display, which may come from -display rather than $DISPLAY; empty without one.
    static QByteArray displayName();
    // The screen Qt's windows open on by default.
    static int defaultScreen();
};

} // namespace qv
