#include "platform/desktop/ScreenCoordinates.h"
#include "support/FakeScreens.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(ScreenProvider, ScreenForPoint)
{
    test::FakeScreens screens;
    const ScreenInfo left{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050)};
    const ScreenInfo right{QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1024)};
    screens.list = {left, right};

    EXPECT_EQ(screenForPoint(QPointF(100, 100), screens), left);
    // The second screen wins for its points even though the first is the main one.
    EXPECT_EQ(screenForPoint(QPointF(2000, 500), screens), right);
    // Between displays: the main screen.
    EXPECT_EQ(screenForPoint(QPointF(2000, 1060), screens), left);
    screens.main = 1;
    EXPECT_EQ(screenForPoint(QPointF(-50, -50), screens), right);
    screens.main = -1;
    EXPECT_EQ(screenForPoint(QPointF(-50, -50), screens), left);
    // No point: the pointer decides.
    screens.pointer = QPointF(3000, 10);
    EXPECT_EQ(screenForPoint(std::nullopt, screens), right);
    EXPECT_FALSE(screenForPoint(QPointF(), test::FakeScreens()));
}

TEST(ScreenCoordinates, FlipsBetweenYUpAndQt)
{
    // A 1080-high primary screen: the top-left pixel row is y = 1080 going up.
    EXPECT_EQ(flipY(QPointF(10, 0), 1080), QPointF(10, 1080));
    EXPECT_EQ(flipY(QPointF(10, 1080), 1080), QPointF(10, 0));
    // A 100x50 window whose bottom edge is 72 above the screen bottom.
    const QRectF yUp(500, 72, 100, 50);
    const QRectF qt = flipY(yUp, 1080);
    EXPECT_EQ(qt, QRectF(500, 1080 - 72 - 50, 100, 50));
    EXPECT_EQ(flipY(qt, 1080), yUp);
}
