// Where a new pill's window stands on a real X server, frame by frame.
#include "jobs/Job.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/ui/PillController.h"
#include "support/FakeScreens.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <X11/Xlib.h>

using namespace qv;
using qv::test::waitFor;

TEST(JobHUDOnX11, ANewPillsWindowIsAtItsPlaceFromItsFirstFrame)
{
    QV_REQUIRE_X11();
    qunsetenv("QUORVENDA_REDUCE_MOTION");
    // A panel 30 high along the top: the pill's place is 14 below it, 14 from the right.
    test::FakeScreens screens;
    screens.list = {{QRectF(0, 0, 1024, 768), QRectF(0, 0, 1024, 738)}};
    JobHUD hud(JobHUD::Services{&screens, nullptr, nullptr, [](const JobPtr&) {}});
    auto job = std::make_shared<Job>(QStringLiteral("Compressing"), QStringLiteral("photo.stack"), 1,
                                     QStringLiteral("a.png"), std::nullopt, QDateTime::currentDateTimeUtc());
    job->setState(Job::State::running);
    const QRect place(1024 - 14 - 344, 30 + 14, 344, 56); // 666,44

    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    hud.show(job);
    ASSERT_EQ(hud.pills().size(), 1);
    HUDPanel* panel = hud.pills().first()->panel();
    ASSERT_TRUE(panel->isVisible());
    const Window window = Window(panel->winId());

    // Every place the server holds the window at while it is mapped, until its fade is over.
    QStringList seen;
    QElapsedTimer clock;
    clock.start();
    do {
        QCoreApplication::processEvents();
        XSync(display, False);
        XWindowAttributes attributes{};
        ASSERT_TRUE(XGetWindowAttributes(display, window, &attributes));
        const QString where = QStringLiteral("%1,%2 %3x%4").arg(attributes.x).arg(attributes.y).arg(attributes.width).arg(attributes.height);
        if (attributes.map_state == IsViewable && (seen.isEmpty() || seen.last() != where))
            seen.append(where);
    } while ((panel->isAnimating() || seen.isEmpty()) && clock.elapsed() < 20000);
    XCloseDisplay(display);
    EXPECT_EQ(seen, QStringList{QStringLiteral("666,44 344x56")});
    EXPECT_EQ(panel->geometry(), place);
}
