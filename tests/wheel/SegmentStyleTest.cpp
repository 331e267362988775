#include "wheel/SegmentLayer.h"
#include "wheel/SymbolImageCache.h"
#include "wheel/WheelPalette.h"

#include <QPixmap>

#include <gtest/gtest.h>

using namespace qv;

namespace {

struct Expected {
    WheelKind kind;
    bool dark;
    double hue, saturation, brightness, highlightedSaturation, highlightedBrightness, alpha;
};

void expectColor(const QColor& color, double hue, double saturation, double brightness,
                 double alpha)
{
    EXPECT_NEAR(color.hsvHueF() * 360, hue, 0.01);
    EXPECT_NEAR(color.hsvSaturationF(), saturation, 0.001);
    EXPECT_NEAR(color.valueF(), brightness, 0.001);
    EXPECT_NEAR(color.alphaF(), alpha, 0.001);
}

} // namespace

TEST(WheelPalette, SegmentColorsOfEveryWheel)
{
    const Expected table[] = {
        {WheelKind::convert, false, 214, 0.30, 1.00, 0.45, 0.98, 0.96},
        {WheelKind::convert, true, 214, 0.62, 0.68, 0.77, 0.76, 0.92},
        {WheelKind::tools, false, 166, 0.25, 0.95, 0.40, 0.93, 0.96},
        {WheelKind::tools, true, 166, 0.50, 0.48, 0.65, 0.56, 0.92},
        {WheelKind::actions, false, 250, 0.13, 0.97, 0.28, 0.95, 0.96},
        {WheelKind::actions, true, 250, 0.30, 0.52, 0.45, 0.60, 0.92},
    };
    for (const Expected& e : table) {
        SCOPED_TRACE(qPrintable(toString(e.kind) + (e.dark ? " dark" : " light")));
        const WheelPalette palette{e.kind, e.dark};
        expectColor(segmentColor(0, 8, false, palette), e.hue - 8, e.saturation, e.brightness, e.alpha);
        expectColor(segmentColor(7, 8, false, palette), e.hue + 8, e.saturation, e.brightness, e.alpha);
        expectColor(segmentColor(0, 1, false, palette), e.hue, e.saturation, e.brightness, e.alpha);
        expectColor(segmentColor(7, 8, true, palette), e.hue + 8, e.highlightedSaturation,
                    e.highlightedBrightness, e.alpha);
    }
    // Three segments: the middle one has the wheel's hue.
    expectColor(segmentColor(1, 3, false, {}), 214, 0.30, 1.00, 0.96);
}

TEST(SegmentLayer, HighlightAndPulse)
{
    SegmentLayer layer;
    layer.configure({WheelKind::tools, false}, 2, 5);
    const QColor normal = segmentColor(2, 5, false, {WheelKind::tools, false});
    const QColor highlighted = segmentColor(2, 5, true, {WheelKind::tools, false});
    EXPECT_EQ(layer.fillColor, normal);

    const auto change = layer.setHighlighted(true, true, false);
    ASSERT_TRUE(change.has_value());
    ASSERT_TRUE(change->scale.has_value());
    EXPECT_EQ(change->scale->from, 1);
    EXPECT_EQ(change->scale->to, SegmentLayer::highlightScale);
    EXPECT_NEAR(change->scale->valueAt(0), 1, 1e-12);
    const double settle = change->scale->settlingDuration();
    EXPECT_GT(settle, 0.2);
    EXPECT_LT(settle, 1.0);
    EXPECT_NEAR(change->scale->valueAt(settle), 1.04, 0.04 * 0.0011);
    ASSERT_TRUE(change->fill.has_value());
    EXPECT_EQ(change->fill->from, normal);
    EXPECT_EQ(change->fill->to, highlighted);
    EXPECT_EQ(change->fill->duration, 0.1);
    EXPECT_EQ(layer.scale, 1.04);
    EXPECT_EQ(layer.fillColor, highlighted);
    EXPECT_EQ(layer.zPosition, 1);

    // A second identical call changes nothing.
    EXPECT_FALSE(layer.setHighlighted(true, true, false).has_value());

    const auto pulse = layer.pulse(false);
    ASSERT_TRUE(pulse.has_value());
    EXPECT_EQ(pulse->scales, QList<double>({1.04, 1.09, 1.04}));
    EXPECT_EQ(pulse->keyTimes, QList<double>({0, 0.4, 1}));
    EXPECT_EQ(pulse->duration, 0.18);
    ASSERT_EQ(pulse->easings.size(), 2);
    EXPECT_GT(pulse->easings[0].valueForProgress(0.5), 0.5); // ease-out runs ahead
    EXPECT_LT(pulse->easings[1].valueForProgress(0.5), 0.5);
    EXPECT_FALSE(layer.pulse(true).has_value());

    // Reduced motion: the fill changes, animated when asked, the scale never.
    SegmentLayer calm;
    const auto still = calm.setHighlighted(true, true, true);
    ASSERT_TRUE(still.has_value());
    EXPECT_FALSE(still->scale.has_value());
    EXPECT_TRUE(still->fill.has_value());
    EXPECT_EQ(calm.scale, 1);
    const auto off = calm.setHighlighted(false, false, true);
    ASSERT_TRUE(off.has_value());
    EXPECT_FALSE(off->fill.has_value());
    EXPECT_EQ(calm.fillColor, segmentColor(0, 1, false, {}));
    EXPECT_EQ(calm.zPosition, 0);
}

TEST(SymbolImageCache, RendersOncePerKeyAndEmptiesWhenFull)
{
    int loads = 0;
    SymbolImageCache cache([&](const QString& name) {
        ++loads;
        if (name == QLatin1String("missing"))
            return QIcon();
        QPixmap pixmap(64, 64);
        pixmap.fill(Qt::black);
        return QIcon(pixmap);
    });

    const QColor blue(0x20, 0x40, 0xF0);
    const auto image = cache.image(QStringLiteral("star"), 20, QFont::Medium, blue, 2);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->size(), QSize(40, 40));
    EXPECT_EQ(image->devicePixelRatio(), 2);
    EXPECT_EQ(image->pixelColor(20, 20).rgb(), blue.rgb()); // tinted in the one colour
    EXPECT_EQ(cache.image(QStringLiteral("star"), 20, QFont::Medium, blue, 2)->size(), QSize(40, 40));
    EXPECT_EQ(loads, 1);
    EXPECT_EQ(cache.image(QStringLiteral("star"), 20.5, QFont::Medium, blue, 1)->size(), QSize(21, 21));
    cache.image(QStringLiteral("star"), 20, QFont::Medium, Qt::red, 2);
    EXPECT_EQ(loads, 3);
    EXPECT_FALSE(cache.image(QStringLiteral("missing"), 20, QFont::Medium, blue, 2).has_value());

    EXPECT_EQ(SymbolImageCache::key(QStringLiteral("eye"), 20, QFont::Bold, QColor(255, 0, 16), 2),
              QStringLiteral("eye|20.0|700|#FF0010|1.0|2.0"));

    // Storing while 201 images are held empties the cache first.
    SymbolImageCache full([](const QString&) {
        QPixmap pixmap(4, 4);
        pixmap.fill(Qt::black);
        return QIcon(pixmap);
    });
    for (int i = 0; i < 201; ++i)
        full.image(QString::number(i), 4, QFont::Normal, blue, 1);
    EXPECT_EQ(full.count(), 201);
    full.image(QStringLiteral("one more"), 4, QFont::Normal, blue, 1);
    EXPECT_EQ(full.count(), 1);
}

TEST(SymbolImageCache, ByDefaultSymbolNamesGoThroughTheSymbolTable)
{
    SymbolImageCache cache;
    const auto eye = cache.image(QStringLiteral("eye"), 20, QFont::Medium, Qt::black, 1);
    ASSERT_TRUE(eye.has_value());
    EXPECT_EQ(eye->size(), QSize(20, 20));
    EXPECT_FALSE(cache.image(QStringLiteral("no.such.symbol"), 20, QFont::Medium, Qt::black, 1)
                     .has_value());
}
