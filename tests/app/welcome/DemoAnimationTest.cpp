#include "app/welcome/DemoAnimation.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>

using namespace qv;

namespace {

QImage frame(const QStringList& titles, QSize size, double t, QColor background = Qt::transparent)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    {
        QPainter painter(&image);
        DemoAnimation{titles, 6.5}.drawFrame(painter, size.width(), size.height(), t);
    }
    return image.convertToFormat(QImage::Format_ARGB32);
}

// How wide the white disc is, read from its coverage along one row (it is drawn at 60 %; the
// hub on top of it counts as covered).
double discChord(const QImage& image, int row, int from, int to)
{
    double sum = 0;
    for (int x = from; x <= to; ++x)
        sum += std::min(qAlpha(image.pixel(x, row)) / (0.6 * 255), 1.0);
    return sum;
}

} // namespace

// At 1.9 s the wheel is fully grown and the file sits on the hub, above the row measured.
TEST(DemoAnimation, WheelDiameterIsNinetyPercentOfTheHeightUpTo190)
{
    for (const auto& [height, diameter] : {std::pair{210, 189.0}, std::pair{300, 190.0}}) {
        const QImage image = frame({}, QSize(596, height), 1.9);
        const double cx = 0.52 * 596;
        const double cy = 0.5 * height;
        const int row = int(cy + 34);
        const double dy = row + 0.5 - cy;
        const double expected = 2 * std::sqrt(diameter * diameter / 4 - dy * dy);
        EXPECT_NEAR(discChord(image, row, int(cx - 100), int(cx + 100)), expected, 0.4) << height;
    }
}

TEST(DemoAnimation, WithoutTitlesOnlyTheDiscAndTheHubShow)
{
    const QImage image = frame({}, QSize(596, 210), 1.9);
    // Where segments would lie: the bare disc, white at 60 %.
    for (const QPoint at : {QPoint(310 - 66, 105), QPoint(310 + 66, 105), QPoint(310, 105 + 66)}) {
        const QRgb pixel = image.pixel(at);
        EXPECT_NEAR(qAlpha(pixel), 153, 2) << at.x() << "," << at.y();
        EXPECT_NEAR(qRed(pixel), 255, 1);
        EXPECT_NEAR(qBlue(pixel), 255, 1);
    }
    // The pointer heads for the top of the ring, where it is at 3.1 s.
    const QImage later = frame({}, QSize(596, 210), 3.1);
    const double labelRadius = (189 * 0.21 + 10 + 189 * 0.5 - 12) / 2;
    const QPoint tip(int(0.52 * 596) + 3, int(105 - labelRadius) + 8); // inside the arrow
    EXPECT_LT(qGray(later.pixel(tip)), 40);
    EXPECT_GT(qAlpha(later.pixel(tip)), 240);
}

TEST(DemoAnimation, OneTitleTakesTheFirstHue)
{
    const QImage image = frame({QStringLiteral("PNG")}, QSize(596, 210), 1.9, Qt::white);
    // Away from the gap at the bottom and the title at the top.
    for (const QPoint at : {QPoint(310 - 66, 105), QPoint(310 + 66, 105), QPoint(357, 58)}) {
        const QColor pixel = image.pixelColor(at);
        EXPECT_NEAR(pixel.hsvHueF() * 360, 214, 1.5) << at.x() << "," << at.y();
        EXPECT_NEAR(pixel.hsvSaturationF(), 0.3 * 0.96, 0.02);
    }
}

TEST(DemoAnimation, EightTitlesSpreadTheirHuesAndLightPng)
{
    const QStringList titles{"JPG", "PNG", "HEIC", "WEBP", "AVIF", "PDF", "TIFF", "GIF"};
    const QSize size(596, 210);
    const QImage before = frame(titles, size, 1.9, Qt::white);
    // Segment 6 sits on the left, 4 at the bottom; sampled beside their titles.
    EXPECT_NEAR(before.pixelColor(238, 85).hsvHueF() * 360, 214 + 16.0 * 6 / 7 - 8, 1.5);
    EXPECT_NEAR(before.pixelColor(329, 176).hsvHueF() * 360, 214 + 16.0 * 4 / 7 - 8, 1.5);
    // Segment 1, up and to the right, lights up once the file is nearly there.
    const QPoint png(374, 68);
    EXPECT_NEAR(before.pixelColor(png).hsvSaturationF(), 0.3 * 0.96, 0.02);
    const QImage lit = frame(titles, size, 3.0, Qt::white);
    EXPECT_NEAR(lit.pixelColor(png).hsvSaturationF(), 0.45 * 0.96, 0.03);
}

TEST(DemoAnimation, DropLeavesNothingUntilTheResultGrows)
{
    const QSize size(596, 210);
    const QPointF home(0.16 * 596, 0.62 * 210);
    const QPoint result(int(home.x()), int(home.y() - 70));
    const QImage dropped = frame({}, size, 3.3);
    EXPECT_EQ(qAlpha(dropped.pixel(result)), 0);
    const QImage shown = frame({}, size, 4.0);
    EXPECT_EQ(qAlpha(shown.pixel(result)), 255);
    // After 6.3 s nothing at all is drawn.
    const QImage empty = frame({"PNG"}, size, 6.35);
    for (int y = 0; y < empty.height(); ++y)
        for (int x = 0; x < empty.width(); ++x)
            ASSERT_EQ(empty.pixel(x, y), 0u) << x << "," << y;
}

TEST(DemoAnimation, PointerIsBlackEdgedInWhiteAndLeavesOpacityAlone)
{
    QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    DemoAnimation::drawPointer(painter, QPointF(10, 10), 0.5);
    EXPECT_EQ(painter.opacity(), 1.0);
    painter.end();
    const QRgb inside = image.pixel(12, 22);
    EXPECT_NEAR(qAlpha(inside), 128, 2);
    EXPECT_EQ(qRed(inside), 0);
    EXPECT_EQ(qAlpha(image.pixel(30, 10)), 0);
    EXPECT_EQ(qAlpha(image.pixel(5, 32)), 0);
}

