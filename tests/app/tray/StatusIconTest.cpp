#include "app/AppIcon.h"
#include "app/tray/StatusIcon.h"
#include "app/tray/StatusIconModel.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>
#include <numbers>

using namespace qv;

namespace {

constexpr int kSize = 180; // ten pixels to the point
constexpr double kScale = kSize / 18.0;

// Alpha of the pixel on the ring (radius 7.2 points) at an angle counter-clockwise from 3 o'clock.
int ringAlpha(const QImage& image, double degrees)
{
    const double radians = degrees * std::numbers::pi / 180;
    const int x = static_cast<int>(std::lround(9 * kScale + 7.2 * kScale * std::cos(radians)));
    const int y = static_cast<int>(std::lround(9 * kScale - 7.2 * kScale * std::sin(radians)));
    return qAlpha(image.pixel(x, y));
}

bool isArc(int alpha) { return alpha > 200; }
bool isTrackOnly(int alpha) { return alpha > 40 && alpha < 110; }

int maxAlpha(const QImage& image)
{
    int best = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            best = std::max(best, qAlpha(image.pixel(x, y)));
    return best;
}

} // namespace

TEST(StatusIconTest, FractionAndAccessibilityTexts)
{
    EXPECT_EQ(statusFraction({}), std::nullopt);
    EXPECT_EQ(statusFraction({0.5, 0.0}), 0.5); // a job not yet reporting does not pull it down
    EXPECT_EQ(statusFraction({0.0, 0.0}), -1.0);
    EXPECT_DOUBLE_EQ(*statusFraction({0.2, 0.6}), 0.4);

    EXPECT_EQ(statusAccessibilityValue(0.5, false), QStringLiteral("50 percent"));
    EXPECT_EQ(statusAccessibilityValue(0.426, true), QStringLiteral("42 percent"));
    EXPECT_EQ(statusAccessibilityValue(0.01, false), QStringLiteral("1 percent"));
    EXPECT_EQ(statusAccessibilityValue(0.29, false), QStringLiteral("29 percent"));
    EXPECT_EQ(statusAccessibilityValue(0.999, false), QStringLiteral("99 percent"));
    EXPECT_EQ(statusAccessibilityValue(-1.0, false), QStringLiteral("Working"));
    EXPECT_EQ(statusAccessibilityValue(std::nullopt, true), QStringLiteral("Paused"));
    EXPECT_EQ(statusAccessibilityValue(std::nullopt, false), QStringLiteral("Idle"));
    EXPECT_EQ(statusToolTip(QStringLiteral("Idle")), QStringLiteral("Quorvenda — Idle"));
}

TEST(StatusIconTest, RingGeometry)
{
    EXPECT_DOUBLE_EQ(progressArc(0.5, 0).startDegrees, 90);
    EXPECT_DOUBLE_EQ(progressArc(0.5, 0).spanDegrees, -180);
    EXPECT_DOUBLE_EQ(progressArc(0.01, 0).spanDegrees, -14.4); // the 4 % minimum
    EXPECT_DOUBLE_EQ(progressArc(0.0, 0).spanDegrees, -14.4);
    EXPECT_DOUBLE_EQ(progressArc(1.5, 0).spanDegrees, -360);
    // The indeterminate arc turns by the phase.
    EXPECT_DOUBLE_EQ(progressArc(-1, 0.08).startDegrees, 90 - 28.8);
    EXPECT_DOUBLE_EQ(progressArc(-1, 0.08).spanDegrees, -100);
    EXPECT_NEAR(progressArc(-1, 1.08).startDegrees, 90 - 28.8, 1e-9);
}

TEST(StatusIconTest, DrawsTheRingTheMinimumAndTheSpinner)
{
    const QImage half = statusIconImage(0.5, false, 0, kSize, Qt::black);
    ASSERT_EQ(half.size(), QSize(kSize, kSize));
    EXPECT_TRUE(isArc(ringAlpha(half, 0)));        // right half: progress
    EXPECT_TRUE(isArc(ringAlpha(half, -60)));
    EXPECT_TRUE(isTrackOnly(ringAlpha(half, 180))); // left half: the faint track
    EXPECT_TRUE(isTrackOnly(ringAlpha(half, 120)));
    EXPECT_EQ(qAlpha(half.pixel(90, 90)), 255);     // centre dot
    EXPECT_EQ(qAlpha(half.pixel(90 + 40, 90)), 0);  // between dot and ring
    // While jobs run the pause flag changes nothing.
    EXPECT_EQ(statusIconImage(0.5, true, 0, kSize, Qt::black), half);

    const QImage tiny = statusIconImage(0.01, false, 0, kSize, Qt::black);
    EXPECT_TRUE(isArc(ringAlpha(tiny, 83)));        // inside the 14.4 degrees from the top
    EXPECT_TRUE(isTrackOnly(ringAlpha(tiny, 45)));

    const QImage phase0 = statusIconImage(-1, false, 0, kSize, Qt::black);
    const QImage phase25 = statusIconImage(-1, false, 0.25, kSize, Qt::black);
    EXPECT_TRUE(isArc(ringAlpha(phase0, 40)));
    EXPECT_TRUE(isTrackOnly(ringAlpha(phase25, 40)));
    EXPECT_TRUE(isArc(ringAlpha(phase25, -50)));
    EXPECT_TRUE(isTrackOnly(ringAlpha(phase25, 90)));

    // Idle: the wheel symbol, faded when paused.
    const QImage idle = statusIconImage(std::nullopt, false, 0, kSize, Qt::black);
    const QImage paused = statusIconImage(std::nullopt, true, 0, kSize, Qt::black);
    EXPECT_EQ(maxAlpha(idle), 255);
    EXPECT_NEAR(maxAlpha(paused), 0.45 * 255, 3);

    // The panel's colour is used as it is.
    const QImage white = statusIconImage(0.5, false, 0, kSize, Qt::white);
    EXPECT_EQ(QColor(white.pixel(90, 90)), QColor(Qt::white));
}

TEST(StatusIconTest, RedrawsOnlyWhenTheIconChanges)
{
    StatusIconModel model;
    auto frame = model.update({}, false);
    ASSERT_TRUE(frame); // the first update always draws
    EXPECT_EQ(frame->accessibilityValue, QStringLiteral("Idle"));
    EXPECT_FALSE(model.update({}, false));

    frame = model.update({0.5, 0.0}, false);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->fraction, 0.5);
    EXPECT_EQ(frame->accessibilityValue, QStringLiteral("50 percent"));
    EXPECT_FALSE(model.update({0.5}, false)); // same mean, same flag: drawn once

    // Pausing while jobs run keeps the ring and the value.
    frame = model.update({0.5}, true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->fraction, 0.5);
    EXPECT_EQ(frame->accessibilityValue, QStringLiteral("50 percent"));

    // The indeterminate ring is drawn on every update, a step further each time.
    frame = model.update({0.0, 0.0}, true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->accessibilityValue, QStringLiteral("Working"));
    EXPECT_DOUBLE_EQ(frame->spinnerPhase, 0.08);
    frame = model.update({0.0}, true);
    ASSERT_TRUE(frame);
    EXPECT_DOUBLE_EQ(frame->spinnerPhase, 0.16);

    frame = model.update({}, true);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->accessibilityValue, QStringLiteral("Paused"));
    EXPECT_DOUBLE_EQ(model.spinnerPhase(), 0.16); // turns only while it shows
}

namespace {

// The share of the icon's box that stands out from the panel it is drawn on.
double standsOut(const QImage& icon, const QColor& panel)
{
    QImage shown(icon.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(panel);
    {
        QPainter painter(&shown);
        painter.drawImage(0, 0, icon);
    }
    int visible = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            visible += std::abs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())) > 90;
    return double(visible) / (shown.width() * shown.height());
}

} // namespace

// The panel's colour is a guess: whichever colour the icon is drawn in, it reads on a dark and
// on a light panel.
TEST(StatusIconTest, ReadsOnDarkAndLightPanelsWhateverTheGuess)
{
    for (const QColor& foreground : {QColor(Qt::black), QColor(Qt::white), QColor(0x30, 0x30, 0x30)}) {
        for (const QColor& panel : {QColor(0x1d, 0x1f, 0x21), QColor(0xee, 0xee, 0xee)}) {
            SCOPED_TRACE(foreground.name().toStdString() + " on " + panel.name().toStdString());
            EXPECT_GT(standsOut(statusIconImage(std::nullopt, false, 0, 24, foreground), panel), 0.15);
            EXPECT_GT(standsOut(statusIconImage(0.4, false, 0, 24, foreground), panel), 0.08);
        }
    }
}

// The icons installed under the hicolor theme are the ones the program draws.
TEST(AppIconTest, TheInstalledIconsAreTheDrawnOnes)
{
    for (int size : appIconSizes) {
        const QString path = QStringLiteral(QV_SOURCE_DIR "/data/icons/hicolor/%1x%1/apps/quorvenda.png").arg(size);
        const QImage installed = QImage(path).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        ASSERT_EQ(installed.size(), QSize(size, size)) << path.toStdString();
        const QImage drawn = appIconImage(size);
        int off = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb a = installed.pixel(x, y);
                const QRgb b = drawn.pixel(x, y);
                off += std::abs(qRed(a) - qRed(b)) + std::abs(qAlpha(a) - qAlpha(b)) > 24;
            }
        EXPECT_LE(off, size * size / 100) << size << ": quorvenda-dev render-icon --size " << size;
    }
    // Opaque in the middle, clear in the corners: it is a shape, not a square of colour.
    const QImage big = appIconImage(256);
    EXPECT_EQ(qAlpha(big.pixel(128, 128)), 255);
    EXPECT_EQ(qAlpha(big.pixel(2, 2)), 0);
}
