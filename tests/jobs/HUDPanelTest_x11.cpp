#include "jobs/ui/HUDPanel.h"
#include "support/FakeCompositor.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeCompositor;
using qv::test::windowDepth;
using qv::test::waitFor;

TEST(HUDPanel, FollowsACompositorThatStartsAndStops)
{
    QV_REQUIRE_X11();
    FakeCompositor compositor;
    ASSERT_TRUE(compositor.isOpen());
    ASSERT_TRUE(waitFor([] { return !HUDPanel::translucencyAvailable(); }));

    HUDPanel panel(QSize(200, 40));
    QPainterPath pill;
    pill.addRoundedRect(QRectF(0, 0, 200, 40), 20, 20);
    panel.setShape(pill);
    panel.setFrame(QRect(100, 100, 200, 40));
    panel.orderFrontRegardless();
    EXPECT_FALSE(panel.isSeeThrough());
    EXPECT_FALSE(panel.mask().isEmpty()) << "without a compositor the window is cut to the pill";
    EXPECT_EQ(windowDepth(panel), 24);

    // The window was made opaque: it stays cut until it is shown again.
    compositor.start();
    ASSERT_TRUE(waitFor([] { return HUDPanel::translucencyAvailable(); }));
    EXPECT_FALSE(panel.isSeeThrough());
    EXPECT_FALSE(panel.mask().isEmpty());
    panel.orderOut();
    panel.orderFrontRegardless();
    EXPECT_TRUE(panel.isSeeThrough());
    EXPECT_TRUE(panel.mask().isEmpty());
    EXPECT_EQ(windowDepth(panel), 32);
    EXPECT_EQ(panel.geometry(), QRect(100, 100, 200, 40));

    // Corners would show black at once: the cut comes back while the panel is shown.
    compositor.stop();
    ASSERT_TRUE(waitFor([&] { return !panel.mask().isEmpty(); }));
    EXPECT_FALSE(panel.isSeeThrough());

    // A hidden panel takes the new visual at its next showing.
    panel.orderOut();
    compositor.start();
    ASSERT_TRUE(waitFor([] { return HUDPanel::translucencyAvailable(); }));
    panel.orderFrontRegardless();
    EXPECT_TRUE(panel.mask().isEmpty());
    EXPECT_EQ(windowDepth(panel), 32);
    panel.orderOut();
    compositor.stop();
    ASSERT_TRUE(waitFor([&] { return !panel.testAttribute(Qt::WA_TranslucentBackground); }));
    panel.orderFrontRegardless();
    EXPECT_FALSE(panel.mask().isEmpty());
    EXPECT_EQ(windowDepth(panel), 24);
}
