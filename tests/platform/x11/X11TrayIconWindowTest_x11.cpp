#include "platform/x11/X11TrayIconWindow.h"

#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QScopeGuard>
#include <QWindow>

#include <X11/Xlib.h>

#include <vector>

using namespace qv;
using qv::test::waitFor;

// Under a window manager, a drag reaches the icon through the tray's window, which names the
// icon's to take its drops. The source is answered twice, once for each name sources compare;
// a Qt source reads only the last answer waiting for it and compares the tray's window, which
// the protocol names: that answer goes last, or a Qt source that is kept waiting sees its drag
// refused and cancels it at the drop.
TEST(X11TrayIconWindow, ADragHandedOnByTheTraysWindowIsAnsweredInTheTraysNameLast)
{
    QV_REQUIRE_X11();
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    const auto closeDisplay = qScopeGuard([display] { XCloseDisplay(display); });
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const Atom xdndEnter = XInternAtom(display, "XdndEnter", False);
    const Atom xdndPosition = XInternAtom(display, "XdndPosition", False);
    const Atom xdndStatus = XInternAtom(display, "XdndStatus", False);
    const Atom xdndLeave = XInternAtom(display, "XdndLeave", False);
    const Atom xdndProxy = XInternAtom(display, "XdndProxy", False);
    const Atom uriList = XInternAtom(display, "text/uri-list", False);
    const Atom actionCopy = XInternAtom(display, "XdndActionCopy", False);

    // The tray's window as a window manager shows it, taking no drops itself; the source's.
    const Window root = DefaultRootWindow(display);
    const Window host = XCreateSimpleWindow(display, root, 0, 0, 64, 64, 0, 0, 0);
    const long state[2] = {1, None};
    XChangeProperty(display, host, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
    XMapWindow(display, host);
    const Window source = XCreateSimpleWindow(display, root, 200, 200, 1, 1, 0, 0, 0);
    const auto destroyWindows = qScopeGuard([&] {
        XDestroyWindow(display, source);
        XDestroyWindow(display, host);
        XSync(display, False);
    });
    XSync(display, False);

    QWindow icon;
    icon.resize(32, 32);
    icon.create();
    int answered = 0;
    X11TrayIconWindow target(icon.winId(), {[&](bool files) { answered += files ? 1 : 0; }, {}});
    // Docked: the tray takes the icon's window into its own.
    XReparentWindow(display, Window(icon.winId()), host, 0, 0);
    XMapWindow(display, Window(icon.winId()));
    XSync(display, False);
    ASSERT_TRUE(waitFor([&] { return target.proxiedHost() == host; })) << "the tray's window hands nothing on";
    {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, left = 0;
        unsigned char* data = nullptr;
        ASSERT_EQ(XGetWindowProperty(display, host, xdndProxy, 0, 1, False, AnyPropertyType, &type, &format, &count,
                                     &left, &data),
                  Success);
        ASSERT_EQ(count, 1u);
        EXPECT_EQ(*reinterpret_cast<unsigned long*>(data), Window(icon.winId()));
        XFree(data);
    }

    // What a source sends on finding the tray's window: to the window it names, in the tray's name.
    const auto send = [&](Atom type, long second, long third) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = host;
        event.xclient.message_type = type;
        event.xclient.format = 32;
        event.xclient.data.l[0] = long(source);
        event.xclient.data.l[1] = second;
        event.xclient.data.l[2] = third;
        event.xclient.data.l[4] = long(actionCopy);
        XSendEvent(display, Window(icon.winId()), False, NoEventMask, &event);
        XSync(display, False);
    };
    send(xdndEnter, 5L << 24, long(uriList));
    send(xdndPosition, 0, (16L << 16) | 16);

    std::vector<XClientMessageEvent> statuses;
    ASSERT_TRUE(waitFor([&] {
        XEvent event;
        while (XCheckTypedWindowEvent(display, source, ClientMessage, &event)) {
            if (event.xclient.message_type == xdndStatus)
                statuses.push_back(event.xclient);
        }
        return statuses.size() >= 2;
    })) << statuses.size() << " answers";
    EXPECT_EQ(answered, 1);
    for (const XClientMessageEvent& status : statuses) {
        EXPECT_EQ(status.data.l[1] & 1, 1) << "the files were refused";
        EXPECT_EQ(Atom(status.data.l[4]), actionCopy);
    }
    EXPECT_EQ(Window(statuses.back().data.l[0]), host) << "the last answer names the icon's window";
    send(xdndLeave, 0, 0);
}
