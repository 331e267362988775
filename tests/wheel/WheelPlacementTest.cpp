#include "support/FakeScreens.h"
#include "wheel/WheelPlacement.h"

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::WheelPlacement;

TEST(WheelPlacement, CentreKeepsItsDistanceFromTheVisibleEdges)
{
    test::FakeScreens screens;
    // A 1920 × 1080 primary with a 30-point panel at the top, and a second screen to its right.
    screens.list = {ScreenInfo{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050), 1},
                    ScreenInfo{QRectF(1920, 0, 1280, 1024), QRectF(1920, 40, 1280, 984), 1}};

    // Medium: 210 + 48 = 258 from the visible edges.
    EXPECT_EQ(clampCenter(QPointF(10, 10), 420, screens), QPointF(258, 258));
    EXPECT_EQ(clampCenter(QPointF(1910, 1075), 420, screens), QPointF(1920 - 258, 1050 - 258));
    EXPECT_EQ(clampCenter(QPointF(900, 500), 420, screens), QPointF(900, 500));
    // Small and large scale the margin: 180 + 48 × 360/420, 240 + 48 × 480/420.
    EXPECT_NEAR(clampCenter(QPointF(0, 500), 360, screens).x(), 180 + 48 * 360.0 / 420, 1e-9);
    EXPECT_NEAR(clampCenter(QPointF(0, 500), 480, screens).x(), 240 + 48 * 480.0 / 420, 1e-9);
    // The second screen's own visible frame counts, not the primary's.
    EXPECT_EQ(clampCenter(QPointF(1930, 20), 420, screens), QPointF(1920 + 258, 40 + 258));
    // Off every screen: the main screen's rule.
    EXPECT_EQ(clampCenter(QPointF(-500, 500), 420, screens), QPointF(258, 500));

    test::FakeScreens none;
    none.main = -1;
    EXPECT_EQ(clampCenter(QPointF(-5, 7), 420, none), QPointF(-5, 7));
}

TEST(WheelPlacement, PanelSquareGrowsForTheMoreRingStaysOnScreenAndConvertsOnce)
{
    test::FakeScreens screens;
    screens.list = {ScreenInfo{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1050), 1}};

    EXPECT_DOUBLE_EQ(panelHalfSide(420, false), 258);
    // (283.4 + 4) + 12 for the medium wheel: a side of 590.8 before rounding.
    EXPECT_NEAR(2 * panelHalfSide(420, true), 590.8, 1e-9);

    const QRectF closed = panelRect(QPointF(900, 500), 420, false, screens);
    EXPECT_EQ(closed, QRectF(642, 242, 516, 516));
    // Rounded outwards on each side: 605.1...1195.9 and 204.6...795.4.
    const QRectF open = panelRect(QPointF(900.5, 500), 420, true, screens);
    EXPECT_EQ(open, QRectF(605, 204, 591, 592));
    EXPECT_TRUE(open.contains(QRectF(900.5 - 295.4, 500 - 295.4, 590.8, 590.8)));

    // Near a corner the square is moved inside the whole frame, not the visible one.
    const QRectF corner = panelRect(QPointF(258, 1050 - 258), 420, true, screens);
    EXPECT_EQ(corner.left(), 0);
    EXPECT_LE(corner.bottom(), 1080);
    EXPECT_GE(corner.bottom(), 1079);

    // y-up bottom-left (642, 242) is Qt's top-left (642, 1080 - 242 - 516).
    EXPECT_EQ(toQt(closed, 1080), QRect(642, 322, 516, 516));
}
