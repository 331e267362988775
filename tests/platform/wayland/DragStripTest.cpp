#include "platform/wayland/DragStrip.h"
#include "platform/wayland/LayerShell.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(DragStrip, LiesAlongTheChosenEdgeOfItsScreen)
{
    // A second screen to the right of the first, as Qt places it.
    const QRect screen(1920, 0, 1280, 800);
    const int t = DragStrip::thickness;
    EXPECT_EQ(DragStrip::frameFor(screen, Qt::LeftEdge), QRect(1920, 0, t, 800));
    EXPECT_EQ(DragStrip::frameFor(screen, Qt::RightEdge), QRect(3200 - t, 0, t, 800));
    EXPECT_EQ(DragStrip::frameFor(screen, Qt::TopEdge), QRect(1920, 0, 1280, t));
    EXPECT_EQ(DragStrip::frameFor(screen, Qt::BottomEdge), QRect(1920, 800 - t, 1280, t));

    EXPECT_EQ(DragStrip::edgeNamed(QStringLiteral("left")), Qt::LeftEdge);
    EXPECT_EQ(DragStrip::edgeNamed(QStringLiteral("bottom")), Qt::BottomEdge);
    EXPECT_FALSE(DragStrip::edgeNamed(QStringLiteral("off")));
    EXPECT_FALSE(DragStrip::edgeNamed(QStringLiteral("Right")));
}

TEST(LayerShell, AWindowIsPlacedFromItsScreensCorner)
{
    const LayerPlacement placement = LayerShell::placementAt(QRect(130, 40, 420, 400), nullptr);
    EXPECT_EQ(placement.anchors, Qt::TopEdge | Qt::LeftEdge);
    EXPECT_EQ(placement.margins, QMargins(130, 40, 0, 0));
    EXPECT_EQ(placement.size, QSize(420, 400));
    EXPECT_FALSE(placement.clearOfPanels);
    // Not on Wayland here: nothing to give a layer to, and no harm in asking.
    EXPECT_FALSE(LayerShell::isAvailable());
}

// A pill clear of the panels holds on to its nearest corner, so that a bar along either edge
// there pushes it in by its own width.
TEST(LayerShell, AWindowClearOfPanelsHoldsOnToItsNearestCorner)
{
    const QRect screen(1280, 0, 1280, 800);
    const LayerPlacement topRight = LayerShell::placementAt(QRect(1280 + 964, 12, 300, 56), screen, true);
    EXPECT_EQ(topRight.anchors, Qt::TopEdge | Qt::RightEdge);
    EXPECT_EQ(topRight.margins, QMargins(0, 12, 16, 0));
    EXPECT_EQ(topRight.size, QSize(300, 56));
    EXPECT_TRUE(topRight.clearOfPanels);
    const LayerPlacement bottomLeft = LayerShell::placementAt(QRect(1280 + 20, 700, 300, 56), screen, true);
    EXPECT_EQ(bottomLeft.anchors, Qt::BottomEdge | Qt::LeftEdge);
    EXPECT_EQ(bottomLeft.margins, QMargins(20, 0, 0, 44));
    // Without: from the screen's top-left corner, whatever the panels.
    EXPECT_EQ(LayerShell::placementAt(QRect(1280 + 964, 12, 300, 56), screen, false).margins, QMargins(964, 12, 0, 0));
}
