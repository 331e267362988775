#include "model/settings/SettingsDefaults.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/DragStrip.h"
#include "platform/wayland/LayerShellDragSource.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QWindow>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

using namespace qv;
using qv::test::waitFor;

namespace {

void enter(QWindow* window, QMimeData* data)
{
    QDragEnterEvent event(QPoint(2, 200), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &event);
}

void leave(QWindow* window)
{
    QDragLeaveEvent event;
    QCoreApplication::sendEvent(window, &event);
}

void waitMs(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

} // namespace

// Through XWayland (GNOME without our Shell extension) the Shell tells the wheel of a drag only
// once it has shown it, which a busy machine took over a second to do: on its way from the
// strip a drag is waited for longer. What Mutter's bridge does for every drag, taking the drag
// selection, tells a new drag from the last one coming back however soon it follows.
TEST(LayerShellDragSource, ThroughXWaylandTheWayToTheWheelIsWaitedForAndANewDragIsKnownByItsTake)
{
    QV_REQUIRE_X11();
    SettingsStore store{QString()};
    registerDefaultSettings(store);
    LayerShellDragSource source(store);
    QString whyNot;
    ASSERT_TRUE(source.start(&whyNot)) << whyNot.toStdString();
    DragStrip* strip = nullptr;
    for (QWindow* window : QGuiApplication::allWindows()) {
        if (auto* found = qobject_cast<DragStrip*>(window))
            strip = found;
    }
    ASSERT_NE(strip, nullptr);
    QWindow wheel;
    int presses = 0;
    int releases = 0;
    QObject::connect(&source, &DragEventSource::primaryButtonPressed, [&] { ++presses; });
    QObject::connect(&source, &DragEventSource::primaryButtonReleased, [&] { ++releases; });
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/photo.jpg"))});

    enter(strip, &data);
    ASSERT_EQ(presses, 1);
    leave(strip);
    // Past the second a drag may be away once it reached the wheel.
    waitMs(LayerShellDragSource::goneAfterMs + 500);
    EXPECT_EQ(releases, 0);
    enter(&wheel, &data);
    leave(&wheel);
    // Away from the wheel it is over after the usual while.
    ASSERT_TRUE(waitFor([&] { return releases == 1; }));

    // Another program's drag takes the drag selection as it begins.
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom selection = XInternAtom(display, "XdndSelection", False);
    const auto take = [&] {
        XSetSelectionOwner(display, selection, window, CurrentTime);
        XSync(display, False);
    };
    take();
    enter(strip, &data);
    EXPECT_EQ(presses, 2);
    leave(strip);
    // Back on the strip with no take: the same drag.
    enter(strip, &data);
    leave(strip);
    EXPECT_EQ(presses, 2);
    EXPECT_EQ(releases, 1);
    // A new drag reaches the strip while the last is still waited for: that one is over.
    take();
    enter(strip, &data);
    EXPECT_EQ(releases, 2);
    EXPECT_EQ(presses, 3);
    leave(strip);
    XCloseDisplay(display);
}
