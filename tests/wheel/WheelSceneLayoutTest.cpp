#include "wheel/WheelSceneLayout.h"

#include <QFontDatabase>
#include <QFontMetricsF>

#include "wheel/LabelSlot.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qv;

namespace {

QList<WheelEntry> entries(int count, WheelKind kind, bool symbols)
{
    QList<WheelEntry> list;
    for (int i = 0; i < count; ++i) {
        WheelEntry entry{QStringLiteral("entry.%1").arg(i), QStringLiteral("Entry %1").arg(i),
                         std::nullopt, kind, {}};
        if (symbols)
            entry.symbol = QStringLiteral("crop");
        list.append(entry);
    }
    return list;
}

// A wheel placed off the view's middle, so that a missed flip shows.
struct Placement {
    double diameter;
    double viewHeight;
    QPointF center; // y-up
};

const Placement placements[] = {
    {360, 500, QPointF(230, 260)},
    {420, 600, QPointF(300, 250)},
    {480, 700, QPointF(340, 380)},
};

class WheelSceneLayoutTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_GE(QFontDatabase::addApplicationFont(
                      QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")),
                  0);
    }

    static WheelSceneLayout layoutFor(const Placement& at, double backingScale = 2)
    {
        WheelSceneLayout layout;
        layout.geometry.diameter = at.diameter;
        layout.geometry.center = at.center;
        layout.viewHeight = at.viewHeight;
        layout.backingScale = backingScale;
        layout.fontFamily = QStringLiteral("DejaVu Sans");
        return layout;
    }

    // Square pictures of the asked size at the backing scale; remembers the sizes asked for.
    WheelSceneLayout::IconSource icons(double backingScale = 2)
    {
        return [this, backingScale](const QString&, double pointSize) {
            asked.append(pointSize);
            const int side = int(std::ceil(pointSize * backingScale));
            QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
            image.setDevicePixelRatio(backingScale);
            return std::optional<QImage>(image);
        };
    }

    QList<double> asked;
};

TEST_F(WheelSceneLayoutTest, CircleDiscChipAndMessageFollowTheWheel)
{
    for (const Placement& at : placements) {
        SCOPED_TRACE(at.diameter);
        const WheelSceneLayout layout = layoutFor(at);
        const double s = at.diameter / 420;
        const double d = at.diameter;
        const double x = at.center.x();
        const double y = at.viewHeight - at.center.y(); // the centre in widget coordinates

        EXPECT_EQ(layout.wheelCenter(), QPointF(x, y));
        const QRectF circle = layout.circleFrame();
        EXPECT_EQ(circle, QRectF(x - d / 2, y - d / 2, d, d));

        const PlacedCenter center = layout.center(QStringLiteral("PNG"), std::nullopt, 1);
        EXPECT_NEAR(center.disc.center().x(), x, 1e-9);
        EXPECT_NEAR(center.disc.center().y(), y, 1e-9);
        EXPECT_NEAR(center.disc.width(), 0.42 * d, 1e-9);

        // The chip stands 10 points above the circle, its text in its middle.
        const PlacedChip chip = layout.chip(QStringLiteral("Shift  Convert"));
        EXPECT_NEAR(chip.frame.bottom(), circle.top() - 10 * s, 1e-9);
        EXPECT_NEAR(chip.frame.center().x(), x, 1e-9);
        EXPECT_NEAR(chip.text.frame.center().y(), chip.frame.center().y(), 1e-9);
        EXPECT_EQ(chip.text.lines, QStringList{QStringLiteral("Shift  Convert")});

        // The message stands where segment 0's title would: on the label radius above the centre.
        EXPECT_FALSE(layout.message(WheelContent::build(WheelKind::convert, entries(2, WheelKind::convert, false),
                                                        std::nullopt)));
        const std::optional<PlacedText> message =
            layout.message(WheelContent::build(WheelKind::convert, {}, QStringLiteral("No conversions for this file")));
        ASSERT_TRUE(message);
        EXPECT_TRUE(message->wraps);
        EXPECT_NEAR(message->frame.center().x(), x, 1e-9);
        EXPECT_NEAR(message->frame.center().y(), y - layout.geometry.labelRadius(), 1e-9);
        EXPECT_NEAR(message->fontSize, 14 * s, 1e-9);
    }
}

TEST_F(WheelSceneLayoutTest, PicturesKeepTheirShapeAndCardsNeedAPictureAndSeveralFiles)
{
    const Placement at = placements[1];
    const double x = at.center.x();
    const double y = at.viewHeight - at.center.y();
    struct Case {
        std::optional<QSize> thumbnail;
        int files;
        QSizeF picture;
        std::optional<QSize> pixels; // at a backing scale of 2
        bool firstCard;
        bool secondCard;
    };
    const Case cases[] = {
        {std::nullopt, 3, {96, 96}, std::nullopt, false, false},
        {QSize(0, 50), 3, {96, 96}, std::nullopt, false, false}, // an empty picture is none
        {QSize(300, 200), 1, {96, 64}, QSize(192, 128), false, false},
        {QSize(400, 100), 2, {96, 36}, QSize(192, 72), true, false}, // at least 36 points high
        {QSize(100, 400), 3, {36, 96}, QSize(72, 192), true, true},
        {QSize(50, 50), 7, {96, 96}, QSize(192, 192), true, true},
    };
    const WheelSceneLayout layout = layoutFor(at);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.thumbnail ? c.thumbnail->width() * 1000 + c.thumbnail->height() : -1);
        const PlacedCenter center = layout.center(QStringLiteral("PNG"), c.thumbnail, c.files);
        EXPECT_NEAR(center.picture.width(), c.picture.width(), 1e-9);
        EXPECT_NEAR(center.picture.height(), c.picture.height(), 1e-9);
        EXPECT_EQ(center.thumbnailPixels, c.pixels);
        EXPECT_EQ(center.showsFirstCard, c.firstCard);
        EXPECT_EQ(center.showsSecondCard, c.secondCard);
        // Every picture shares the square's centre, 8 points below the pill.
        EXPECT_NEAR(center.picture.center().x(), x, 1e-9);
        EXPECT_NEAR(center.picture.center().y(), center.pill.bottom() + 8 + 48, 1e-9);
        // The pill and the square picture form a pair centred on the wheel.
        EXPECT_NEAR((center.pill.top() + center.picture.center().y() + 48) / 2, y, 1e-9);
        EXPECT_TRUE(center.showsPill);
    }

    // At another backing scale the picture's pixels follow, rounded up.
    const PlacedCenter odd = layoutFor(at, 1.5).center(QStringLiteral("PNG"), QSize(300, 199), 1);
    EXPECT_EQ(odd.thumbnailPixels, QSize(144, 96)); // 96 × 63.68 points

    // A long label's pill is no wider than 1.5 × the disc's radius; an empty label has none.
    EXPECT_NEAR(layout.center(QStringLiteral("A VERY LONG LABEL THAT GOES ON AND ON"), std::nullopt, 1).pill.width(),
                1.5 * 420 * 0.21, 1e-9);
    EXPECT_FALSE(layout.center(QString(), std::nullopt, 1).showsPill);
}

TEST_F(WheelSceneLayoutTest, SymbolsSitAboveTheirTitlesInsideTheirSegments)
{
    for (const Placement& at : placements) {
        SCOPED_TRACE(at.diameter);
        const double s = at.diameter / 420;
        // The layout counts the content's segments itself: the geometry's count may be stale.
        const WheelSceneLayout layout = layoutFor(at);
        ASSERT_EQ(layout.geometry.segmentCount, 0);
        WheelGeometry ring = layout.geometry;
        ring.segmentCount = 6;
        const auto widgetY = [&at](double viewY) { return at.viewHeight - viewY; };

        asked.clear();
        const QList<PlacedSegment> tools =
            layout.segments(WheelContent::build(WheelKind::tools, entries(6, WheelKind::tools, true), std::nullopt),
                            icons());
        ASSERT_EQ(tools.size(), 6);
        EXPECT_EQ(asked, QList<double>(6, 24 * s));
        for (int i = 0; i < tools.size(); ++i) {
            SCOPED_TRACE(i);
            const PlacedSegment& segment = tools[i];
            ASSERT_TRUE(segment.icon);
            EXPECT_TRUE(segment.path.contains(segment.title.frame.center()));
            EXPECT_TRUE(segment.path.contains(segment.iconFrame.center()));
            EXPECT_NEAR(segment.iconFrame.width(), std::ceil(48 * s) / 2, 1e-9);
            // Symbol, a gap of 4, then the title: the block is centred on the label point.
            EXPECT_NEAR(segment.title.frame.top() - segment.iconFrame.bottom(), 4, 1e-9);
            EXPECT_NEAR((segment.iconFrame.top() + segment.title.frame.bottom()) / 2,
                        widgetY(ring.labelCenter(i).y()), 1e-9);
            EXPECT_NEAR(segment.title.frame.center().x(), ring.labelCenter(i).x(), 1e-9);
            EXPECT_EQ(segment.title.lines.join(QLatin1Char(' ')), QStringLiteral("ENTRY %1").arg(i));
        }

        // Bare formats are titles alone, centred on the label point; so is a symbol with no picture.
        asked.clear();
        const QList<PlacedSegment> formats = layout.segments(
            WheelContent::build(WheelKind::convert, entries(6, WheelKind::convert, false), std::nullopt), icons());
        EXPECT_TRUE(asked.isEmpty());
        const QList<PlacedSegment> bare = layout.segments(
            WheelContent::build(WheelKind::tools, entries(6, WheelKind::tools, true), std::nullopt),
            [](const QString&, double) { return std::optional<QImage>(); });
        for (int i = 0; i < 6; ++i) {
            SCOPED_TRACE(i);
            EXPECT_FALSE(formats[i].icon);
            EXPECT_TRUE(formats[i].iconFrame.isNull());
            EXPECT_NEAR(formats[i].title.frame.center().y(), widgetY(ring.labelCenter(i).y()), 1e-9);
            EXPECT_GT(formats[i].title.fontSize, tools[i].title.fontSize);
            EXPECT_FALSE(bare[i].icon);
            EXPECT_NEAR(bare[i].title.frame.center().y(), widgetY(ring.labelCenter(i).y()), 1e-9);
        }
    }
}

TEST_F(WheelSceneLayoutTest, TheMoreRingOpensAboutTheMoreSegment)
{
    for (const Placement& at : placements) {
        SCOPED_TRACE(at.diameter);
        const double s = at.diameter / 420;
        const WheelSceneLayout layout = layoutFor(at);
        const WheelContent full = WheelContent::build(WheelKind::tools, entries(12, WheelKind::tools, true), std::nullopt);
        ASSERT_EQ(full.segments.size(), 8);
        ASSERT_EQ(full.overflow.size(), 5);

        EXPECT_FALSE(layout.moreRing(full, false));
        EXPECT_FALSE(layout.moreRing(
            WheelContent::build(WheelKind::tools, entries(8, WheelKind::tools, true), std::nullopt), true));

        const std::optional<MoreRingGeometry> ring = layout.moreRing(full, true);
        ASSERT_TRUE(ring);
        WheelGeometry wheel = layout.geometry;
        wheel.segmentCount = 8;
        EXPECT_EQ(ring->wheel, wheel);
        EXPECT_EQ(ring->itemCount, 5);
        EXPECT_DOUBLE_EQ(ring->anchorAngle, wheel.centerAngle(7));

        asked.clear();
        const QList<PlacedSegment> items = layout.moreItems(full, *ring, icons());
        ASSERT_EQ(items.size(), 5);
        EXPECT_EQ(asked, QList<double>(5, 17 * s));
        const QList<PlacedSegment> inner = layout.segments(full, icons());
        for (int i = 0; i < items.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_TRUE(items[i].path.contains(items[i].title.frame.center()));
            EXPECT_TRUE(items[i].path.contains(items[i].iconFrame.center()));
            EXPECT_LT(items[i].title.fontSize, inner[0].title.fontSize);
            // Outside the main ring.
            const QPointF offset = items[i].title.frame.center() - layout.wheelCenter();
            EXPECT_GT(std::hypot(offset.x(), offset.y()), wheel.outerRadius());
        }
    }
}

} // namespace

// A format's big name keeps clear of its segment's edges on every side of the ring.
TEST_F(WheelSceneLayoutTest, FormatNamesKeepClearOfTheirSegmentsEdges)
{
    QList<WheelEntry> list;
    for (const char* name : {"PNG", "HEIC", "WEBP", "AVIF", "PDF", "TIFF", "GIF"})
        list.append(WheelEntry{QStringLiteral("convert.%1").arg(QLatin1String(name)), QString::fromLatin1(name),
                               std::nullopt, WheelKind::convert, {}});
    const WheelContent content = WheelContent::build(WheelKind::convert, list, std::nullopt);
    const WheelSceneLayout layout = layoutFor(placements[1]);
    const QList<PlacedSegment> segments = layout.segments(content, icons());
    for (const PlacedSegment& segment : segments) {
        if (segment.title.lines.size() != 1)
            continue;
        SCOPED_TRACE(segment.title.lines.first().toStdString());
        QFont font = segment.title.font;
        const QFontMetricsF metrics(font, pointMeasuringDevice());
        const double half = metrics.horizontalAdvance(segment.title.lines.first()) / 2;
        const QPointF middle = segment.title.frame.center();
        // Around the capitals' height, at least 9 points of the segment either side.
        for (const double dy : {-metrics.capHeight() / 2, 0.0, metrics.capHeight() / 2}) {
            EXPECT_TRUE(segment.path.contains(middle + QPointF(-half - 9, dy))) << dy;
            EXPECT_TRUE(segment.path.contains(middle + QPointF(half + 9, dy))) << dy;
        }
    }
}
