#include "platform/x11/DragSelectionWatcher.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

using namespace qv;
using qv::test::waitFor;

TEST(DragSelectionWatcher, TellsEachTakeOfTheDragSelection)
{
    QV_REQUIRE_X11();
    DragSelectionWatcher watcher;
    EXPECT_FALSE(watcher.watch(QByteArrayLiteral(":9999")));
    ASSERT_TRUE(watcher.watch());
    int began = 0;
    QObject::connect(&watcher, &DragSelectionWatcher::dragBegan, [&] { ++began; });

    // Another client starting a drag takes the selection; letting it go is no new drag.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(display, "XdndSelection", False);
    XSetSelectionOwner(display, selection, window, CurrentTime);
    XSync(display, False);
    EXPECT_TRUE(waitFor([&] { return began == 1; }));
    XSetSelectionOwner(display, selection, None, CurrentTime);
    XSetSelectionOwner(display, selection, window, CurrentTime);
    XSync(display, False);
    EXPECT_TRUE(waitFor([&] { return began == 2; }));

    // Caught up with at once, without waiting for the event loop: a take the server made is
    // told before what another connection heard after it is weighed.
    XSetSelectionOwner(display, selection, None, CurrentTime);
    XSetSelectionOwner(display, selection, window, CurrentTime);
    XSync(display, False);
    watcher.catchUp();
    EXPECT_EQ(began, 3);
    XCloseDisplay(display);
}
