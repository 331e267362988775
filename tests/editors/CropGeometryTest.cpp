#include "editors/CropGeometry.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

void expectRect(const QRectF& actual, const QRectF& expected, double tolerance = 1e-9)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance);
    EXPECT_NEAR(actual.y(), expected.y(), tolerance);
    EXPECT_NEAR(actual.width(), expected.width(), tolerance);
    EXPECT_NEAR(actual.height(), expected.height(), tolerance);
}

const QSizeF landscape(4000, 3000);

} // namespace

TEST(CropGeometry, StartingRectanglesTakeNinetyPercentOfTheLimitingSideCentred)
{
    expectRect(*initialCropRect(AspectPreset::square, landscape), {0.1625, 0.05, 0.675, 0.9});
    expectRect(*initialCropRect(AspectPreset::wide, landscape), {0.05, 0.1625, 0.9, 0.675});
    expectRect(*initialCropRect(AspectPreset::original, landscape), {0.05, 0.05, 0.9, 0.9});
    EXPECT_FALSE(initialCropRect(AspectPreset::free, landscape));
    // 16:9 on a portrait picture: 0.9 of the width, centred.
    const QRectF wide = *initialCropRect(AspectPreset::wide, QSizeF(3000, 4000));
    EXPECT_NEAR(wide.width(), 0.9, 1e-9);
    EXPECT_NEAR(wide.center().y(), 0.5, 1e-9);
}

TEST(CropGeometry, MovingStopsFlushAtTheEdgesAndKeepsTheSize)
{
    const QRectF start(0.1625, 0.05, 0.675, 0.9);
    expectRect(movedCrop(start, 5, 0), {0.325, 0.05, 0.675, 0.9});
    expectRect(movedCrop(start, -5, -5), {0, 0, 0.675, 0.9});
    expectRect(movedCrop(start, 0.1, 0.02), {0.2625, 0.07, 0.675, 0.9});
}

TEST(CropGeometry, ResizingKeepsAMinimumAndTheLockedShape)
{
    const QRectF start(0.2, 0.2, 0.5, 0.5);
    // The left edge dragged past the right one stops 0.03 before it.
    expectRect(resizedCrop(start, CropHandle::left, 2, 0, std::nullopt, landscape), {0.67, 0.2, 0.03, 0.5});
    // Free: only the owned edges move, clamped to the picture.
    expectRect(resizedCrop(start, CropHandle::bottomRight, 1, 1, std::nullopt, landscape), {0.2, 0.2, 0.8, 0.8});

    // 1:1 on 4:3 pixels: width 0.3 gives height 0.4; topLeft keeps the bottom-right corner.
    const QRectF square = resizedCrop(start, CropHandle::topLeft, 0.2, 0, 1.0, landscape);
    expectRect(square, {0.4, 0.3, 0.3, 0.4});
    // top keeps the height and grows the width to the right of the left edge.
    const QRectF top = resizedCrop(start, CropHandle::top, 0, -0.1, 1.0, landscape);
    expectRect(top, {0.2, 0.1, 0.6 * 0.75, 0.6});
    // Wider than the picture: width 1, height 1 / rn.
    const QRectF full = resizedCrop(QRectF(0, 0, 0.9, 0.3), CropHandle::right, 1, 0, 16.0 / 9.0, landscape);
    EXPECT_NEAR(full.width(), 1.0, 1e-9);
    EXPECT_NEAR(full.height(), 0.75, 1e-9);
}

TEST(CropGeometry, PixelRectanglesRoundHalvesAwayAndStayInsideThePicture)
{
    EXPECT_EQ(pixelCropRect(*initialCropRect(AspectPreset::square, landscape), QSize(4000, 3000)),
              QRect(650, 150, 2700, 2700));
    // Flush right at a half pixel: x and width both round up, the width gives way.
    const QRect flush = pixelCropRect(QRectF(0.125, 0.25, 0.875, 0.75), QSize(4, 2));
    EXPECT_EQ(flush, QRect(1, 1, 3, 1));
    EXPECT_EQ(pixelCropRect(QRectF(0, 0, 1, 1), QSize(320, 240)), QRect(0, 0, 320, 240));
}
