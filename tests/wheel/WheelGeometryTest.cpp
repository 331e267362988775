#include "wheel/MoreRingGeometry.h"
#include "wheel/RingSector.h"
#include "wheel/WheelGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qv;

namespace {

QPointF polar(const QPointF& center, double radius, double angle)
{
    return center + radius * QPointF(std::cos(angle), std::sin(angle));
}

} // namespace

TEST(WheelGeometry, RadiiAndSizes)
{
    WheelGeometry g;
    EXPECT_DOUBLE_EQ(g.innerRadius(), 98.2);
    EXPECT_DOUBLE_EQ(g.outerRadius(), 198);
    EXPECT_DOUBLE_EQ(g.labelRadius(), 148.1);
    const MoreRingGeometry more{g, 3, M_PI / 2};
    EXPECT_DOUBLE_EQ(more.innerRadius(), 208);
    EXPECT_DOUBLE_EQ(more.outerRadius(), 279.4);

    EXPECT_EQ(WheelGeometry::diameterFor(WheelSize::small), 360);
    EXPECT_EQ(WheelGeometry::diameterFor(WheelSize::medium), 420);
    EXPECT_EQ(WheelGeometry::diameterFor(WheelSize::large), 480);

    g.segmentCount = 8;
    EXPECT_NEAR(g.labelWidth(), 2 * 148.1 * std::sin(M_PI / 8) - 6 - 16, 1e-9);
    g.segmentCount = 1;
    EXPECT_NEAR(g.labelWidth(), 2 * 148.1 - 22, 1e-9);
    g.diameter = 100; // a ring too small for a title still leaves 24
    g.segmentCount = 8;
    EXPECT_EQ(g.labelWidth(), 24);

    WheelGeometry at;
    at.center = {50, -20};
    at.segmentCount = 4;
    const QPointF top = at.labelCenter(0);
    EXPECT_NEAR(top.x(), 50, 1e-9);
    EXPECT_NEAR(top.y(), -20 + 148.1, 1e-9); // y up: segment 0 is above the centre
    EXPECT_NEAR(at.labelCenter(1).x(), 50 + 148.1, 1e-9); // then clockwise to the right
}

TEST(WheelGeometry, HitTestWithSlackAndBoundaries)
{
    WheelGeometry g;
    g.center = {10, 20};
    g.segmentCount = 8;
    const QPointF c = g.center;
    EXPECT_EQ(g.hitTest(c), WheelHit::atCenter());
    EXPECT_EQ(g.hitTest(c + QPointF(0, 98.19)), WheelHit::atCenter());
    EXPECT_EQ(g.hitTest(c + QPointF(0, 98.2)), WheelHit::onSegment(0)); // the inner edge is ring
    EXPECT_EQ(g.hitTest(c + QPointF(0, 150)), WheelHit::onSegment(0));
    EXPECT_EQ(g.hitTest(c + QPointF(0, 206)), WheelHit::onSegment(0)); // 8 points of slack
    EXPECT_EQ(g.hitTest(c + QPointF(0, 206.01)), WheelHit::outside());
    EXPECT_EQ(g.hitTest(c + QPointF(150, 0)), WheelHit::onSegment(2));
    EXPECT_EQ(g.hitTest(c + QPointF(0, -150)), WheelHit::onSegment(4));
    EXPECT_EQ(g.hitTest(c + QPointF(-150, 0)), WheelHit::onSegment(6));

    const double border = M_PI / 2 - M_PI / 8;
    EXPECT_EQ(g.hitTest(polar(c, 150, border - 0.001)), WheelHit::onSegment(1));
    EXPECT_EQ(g.hitTest(polar(c, 150, border + 0.001)), WheelHit::onSegment(0));
    // Just counter-clockwise of segment 0 lies the last segment.
    EXPECT_EQ(g.hitTest(polar(c, 150, M_PI / 2 + M_PI / 8 + 0.001)), WheelHit::onSegment(7));

    g.segmentCount = 3;
    EXPECT_EQ(g.hitTest(c + QPointF(150, 0)), WheelHit::onSegment(1));
    EXPECT_EQ(g.hitTest(c + QPointF(-150, 0)), WheelHit::onSegment(2));

    g.segmentCount = 0;
    EXPECT_EQ(g.hitTest(c + QPointF(0, 50)), WheelHit::atCenter());
    EXPECT_EQ(g.hitTest(c + QPointF(0, 150)), WheelHit::outside());
}

TEST(WheelGeometry, SegmentOutlines)
{
    WheelGeometry g;
    g.segmentCount = 8;
    const QPainterPath first = g.segmentPath(0);
    ASSERT_FALSE(first.isEmpty());
    EXPECT_TRUE(first.contains(g.labelCenter(0)));
    EXPECT_FALSE(first.contains(g.labelCenter(1)));
    EXPECT_FALSE(first.contains(QPointF(0, 50)));  // the centre hole
    EXPECT_FALSE(first.contains(QPointF(0, 200))); // beyond the rim
    // The gap between neighbours is in neither outline.
    const QPointF onBorder = polar(QPointF(), 150, M_PI / 2 - M_PI / 8);
    EXPECT_FALSE(first.contains(onBorder));
    EXPECT_FALSE(g.segmentPath(1).contains(onBorder));
    const QRectF box = first.boundingRect();
    EXPECT_LE(box.top() + box.height(), 198.01);
    EXPECT_GE(box.top(), 98.2 * std::cos(M_PI / 8) - 0.01);

    // No segments: a whole ring whose gap is at the bottom.
    g.segmentCount = 0;
    const QPainterPath ring = g.segmentPath(0);
    EXPECT_TRUE(ring.contains(QPointF(0, 150)));
    EXPECT_TRUE(ring.contains(QPointF(150, 0)));
    EXPECT_TRUE(ring.contains(QPointF(-10, -150)));
    EXPECT_FALSE(ring.contains(QPointF(0, -150)));

    // A ring 2 points wide draws nothing; nor does an empty sweep.
    EXPECT_TRUE((RingSector{{}, 100, 102, 0, 1, 6, 18}.path().isEmpty()));
    EXPECT_TRUE((RingSector{{}, 100, 150, 1, 1, 6, 18}.path().isEmpty()));
    EXPECT_FALSE((RingSector{{}, 100, 102.5, 0, 1, 6, 18}.path().isEmpty()));
}

TEST(WheelGeometry, CornerRoundingShrinksOnNarrowSegments)
{
    const RingSector wide{{}, 98.2, 198, 0, M_PI / 2, 6, 18};
    EXPECT_EQ(wide.cornerRadius(), 18);
    // Half the ring's width minus 0.5 bounds it.
    EXPECT_EQ((RingSector{{}, 100, 120, 0, M_PI / 2, 6, 40}.cornerRadius()), 9.5);

    const RingSector narrow{{}, 98.2, 198, 0, 0.25, 6, 60};
    const double r = narrow.cornerRadius();
    EXPECT_LT(r, 18);
    EXPECT_LT(2 * std::asin((3 + r) / (98.2 + r)), 0.92 * 0.25);
    // One more point would no longer fit: the rounding shrinks in whole points.
    EXPECT_GE(2 * std::asin((3 + r + 1) / (98.2 + r + 1)), 0.92 * 0.25);

    // Shrinking stops at 1 point or less, and the result is never below 0.5.
    EXPECT_EQ((RingSector{{}, 98.2, 198, 0, 0.01, 6, 18}.cornerRadius()), 1);
    EXPECT_EQ((RingSector{{}, 98.2, 198, 0, 0.01, 6, 17.5}.cornerRadius()), 0.5);
    EXPECT_EQ((RingSector{{}, 98.2, 198, 0, 1, 6, 0.2}.cornerRadius()), 0.5);
}

TEST(MoreRingGeometry, ItemsAroundTheAnchor)
{
    WheelGeometry wheel;
    wheel.center = {-5, 7};
    const double a = 0.3;
    const MoreRingGeometry ring{wheel, 3, a};
    EXPECT_NEAR(ring.itemCenterAngle(0), a + M_PI / 8, 1e-12);
    EXPECT_NEAR(ring.itemCenterAngle(1), a, 1e-12);
    EXPECT_NEAR(ring.itemCenterAngle(2), a - M_PI / 8, 1e-12);

    const QPointF c = wheel.center;
    EXPECT_EQ(ring.hitTest(polar(c, 240, a + M_PI / 16)), 0); // the lower index wins the border
    EXPECT_EQ(ring.hitTest(polar(c, 240, a + M_PI / 16 - 0.001)), 1);
    EXPECT_EQ(ring.hitTest(polar(c, 240, a - M_PI / 8)), 2);
    EXPECT_EQ(ring.hitTest(polar(c, 240, a - M_PI / 4)), std::nullopt);
    EXPECT_EQ(ring.hitTest(polar(c, 240, a + M_PI / 8 + M_PI / 16 + 0.001)), std::nullopt);

    // Radial borders: 4 points inside the ring, 8 beyond it, both inclusive.
    EXPECT_EQ(ring.hitTest(polar(c, 204, a)), 1);
    EXPECT_EQ(ring.hitTest(polar(c, 203.9, a)), std::nullopt);
    EXPECT_EQ(ring.hitTest(polar(c, 287.4, a)), 1);
    EXPECT_EQ(ring.hitTest(polar(c, 287.5, a)), std::nullopt);

    EXPECT_EQ((MoreRingGeometry{wheel, 0, a}.hitTest(polar(c, 240, a))), std::nullopt);

    const QPointF label = ring.itemLabelCenter(1);
    EXPECT_NEAR(std::hypot(label.x() - c.x(), label.y() - c.y()), (208 + 279.4) / 2, 1e-9);
    EXPECT_TRUE(ring.itemPath(1).contains(label));
    EXPECT_FALSE(ring.itemPath(0).contains(label));
    // Even with a huge corner rounding on the wheel, items round by at most 14.
    WheelGeometry round = wheel;
    round.cornerRadius = 100;
    EXPECT_EQ((MoreRingGeometry{round, 3, a}.itemPath(1)), ring.itemPath(1));
}
