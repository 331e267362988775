#include "model/wheel/WheelContent.h"
#include "support/FakeCompositor.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"
#include "wheel/ui/WheelPanel.h"
#include "wheel/ui/WheelView.h"

#include <gtest/gtest.h>

using namespace qv;
using qv::test::FakeCompositor;
using qv::test::windowDepth;
using qv::test::waitFor;

TEST(WheelPanel, FollowsACompositorThatStartsAndStops)
{
    QV_REQUIRE_X11();
    FakeCompositor compositor;
    ASSERT_TRUE(compositor.isOpen());
    ASSERT_TRUE(waitFor([] { return !WheelPanel::translucencyAvailable(); }));

    WheelPanel panel;
    panel.setFrame(QRect(100, 100, 500, 500));
    panel.view()->setContent(WheelContent::build(WheelKind::convert, {}, QStringLiteral("No conversions")), false);
    ASSERT_FALSE(panel.view()->paintedShape().isEmpty());
    panel.orderFront();
    EXPECT_FALSE(panel.mask().isEmpty()) << "without a compositor the window is cut to the wheel";
    EXPECT_EQ(windowDepth(panel), 24);

    // A shown wheel keeps its window and its cut.
    compositor.start();
    ASSERT_TRUE(waitFor([] { return WheelPanel::translucencyAvailable(); }));
    EXPECT_FALSE(panel.isSeeThrough());
    EXPECT_FALSE(panel.mask().isEmpty());
    panel.orderOut();
    panel.orderFront();
    EXPECT_TRUE(panel.isSeeThrough());
    EXPECT_TRUE(panel.mask().isEmpty());
    EXPECT_EQ(windowDepth(panel), 32);
    EXPECT_EQ(panel.view()->geometry(), QRect(0, 0, 500, 500));

    compositor.stop();
    ASSERT_TRUE(waitFor([&] { return !panel.mask().isEmpty(); }));
    panel.orderOut();
    panel.orderFront();
    EXPECT_FALSE(panel.isSeeThrough());
    EXPECT_EQ(windowDepth(panel), 24);
}
