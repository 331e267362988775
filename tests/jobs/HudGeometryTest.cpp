#include "jobs/HudGeometry.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "support/FakeScreens.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

test::FakeScreens twoScreens()
{
    test::FakeScreens screens;
    // A 1920x1080 primary with a 30-point panel at its top, and a 1280x1024 screen to its right.
    screens.list = {{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050)},
                    {QRectF(1920, 0, 1280, 1024), QRectF(1920, 40, 1280, 984)}};
    return screens;
}

} // namespace

TEST(HudGeometry, PillsStackFromTheTopRightWithAnOverflowPillBelow)
{
    const QRectF visible(0, 0, 1920, 1050);
    EXPECT_EQ(hud::pillFrame(visible, 0), QRectF(1562, 980, 344, 56));
    EXPECT_EQ(hud::pillFrame(visible, 1), QRectF(1562, 916, 344, 56));
    EXPECT_EQ(hud::pillFrame(visible, 3), QRectF(1562, 788, 344, 56));
    const QRectF overflow = hud::overflowFrame(visible);
    EXPECT_EQ(overflow, QRectF(1562, 752, 344, 28));
    // Its top edge is 8 below the fourth pill's bottom edge.
    EXPECT_DOUBLE_EQ(hud::pillFrame(visible, 3).top() - (overflow.top() + overflow.height()), 8);

    EXPECT_EQ(hud::hiddenPillCount(0), 0);
    EXPECT_EQ(hud::hiddenPillCount(4), 0);
    EXPECT_EQ(hud::hiddenPillCount(5), 1);
    EXPECT_EQ(hud::hiddenPillCount(9), 5);

    // On the second screen, converted to Qt's coordinates: 14 from its right and top edges.
    const test::FakeScreens screens = twoScreens();
    const auto second = screenForPoint(QPointF(2500, 500), screens);
    ASSERT_TRUE(second);
    const QRectF qtFrame = flipY(hud::pillFrame(second->visibleFrame, 0), screens.primaryHeight());
    EXPECT_EQ(qtFrame, QRectF(3200 - 14 - 344, 1080 - 1024 + 14, 344, 56));
    const QRectF qtOverflow = flipY(hud::overflowFrame(second->visibleFrame), screens.primaryHeight());
    EXPECT_DOUBLE_EQ(qtOverflow.top(), 1080 - 1024 + 270);
}

TEST(HudGeometry, ToastsStandCentredAboveTheBottomOfTheScreenUnderThePointer)
{
    EXPECT_DOUBLE_EQ(hud::toastMaxWidth(QRectF(0, 0, 500, 800)), 420);
    EXPECT_DOUBLE_EQ(hud::toastMaxWidth(QRectF(0, 0, 2560, 1440)), 520);
    EXPECT_DOUBLE_EQ(hud::toastMaxWidth(QRectF(0, 0, 600, 800)), 520);

    test::FakeScreens screens = twoScreens();
    screens.pointer = QPointF(2000, 100);
    const auto screen = screenForPoint(std::nullopt, screens);
    ASSERT_TRUE(screen);
    const QRectF frame = hud::toastFrame(*screen, QSizeF(300, 40));
    EXPECT_EQ(frame, QRectF(1920 + 640 - 150, 40 + 72, 300, 40));
    // In Qt's coordinates its bottom edge is 72 above the visible bottom (y-down 1080 - 40).
    const QRectF qt = flipY(frame, screens.primaryHeight());
    EXPECT_DOUBLE_EQ(qt.bottom(), 1080 - 40 - 72);

    screens.pointer = QPointF(-50, -50); // between screens: the main one
    const auto fallback = screenForPoint(std::nullopt, screens);
    ASSERT_TRUE(fallback);
    EXPECT_EQ(hud::toastFrame(*fallback, QSizeF(100, 40)).left(), 910);
}

TEST(HudGeometry, RemovalDelaysFollowTheOutcome)
{
    EXPECT_EQ(hud::removalDelay(Job::State::cancelled, 0), 1.4);
    EXPECT_EQ(hud::removalDelay(Job::State::failed, 0), 12.0);
    EXPECT_EQ(hud::removalDelay(Job::State::finished, 2), 8.0);
    EXPECT_EQ(hud::removalDelay(Job::State::finished, 0), 4.0);
    EXPECT_FALSE(hud::removalDelay(Job::State::running, 0));
    EXPECT_FALSE(hud::removalDelay(Job::State::waiting, 0));
    EXPECT_FALSE(hud::removalDelay(Job::State::receiving, 0));
}
