#include "wheel/LabelSlot.h"
#include "wheel/WheelGeometry.h"

#include <QFontDatabase>

#include <gtest/gtest.h>

using namespace qv;

namespace {

const QString family = QStringLiteral("DejaVu Sans");

class TitleFitting : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_GE(QFontDatabase::addApplicationFont(
                      QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")),
                  0);
    }

    // A rectangular slot: its free width is its width, to a quarter point.
    static LabelSlot box(double width)
    {
        QPainterPath path;
        path.addRect(-width / 2, -100, width, 200);
        return LabelSlot{path, QPointF(0, 0), 0, 0};
    }

    static FittedTitle fit(const LabelSlot& slot, const QString& title, double size)
    {
        return slot.fittedTitle(title, size, QFont::DemiBold, Qt::white, family);
    }

    // The width a layout at this size needs, measured where anything fits.
    static double widthAt(const QString& title, double size)
    {
        return fit(box(2000), title, size).width;
    }
};

} // namespace

TEST_F(TitleFitting, ShrinksThenSplitsThenFallsBack)
{
    const QString word = QStringLiteral("Background");
    const FittedTitle roomy = fit(box(2000), word, 20);
    EXPECT_EQ(roomy.lines, QStringList({word}));
    EXPECT_EQ(roomy.fontSize, 20);
    EXPECT_EQ(roomy.lineHeightMultiple, 1);
    EXPECT_EQ(roomy.font.family(), family);
    EXPECT_EQ(roomy.font.pointSizeF(), 20);
    EXPECT_EQ(roomy.width, std::ceil(roomy.width)); // whole points for the frame
    EXPECT_GT(roomy.height, 20);

    // Just room for the 0.90 size: the largest that fits wins.
    EXPECT_DOUBLE_EQ(fit(box(widthAt(word, 18) + 0.6), word, 20).fontSize, 18);

    // A single word never splits; it shrinks by half points to max(0.55 × 20, 7) = 11 and
    // takes that when nothing fits.
    const FittedTitle tiny = fit(box(10), word, 20);
    EXPECT_EQ(tiny.lines, QStringList({word}));
    EXPECT_DOUBLE_EQ(tiny.fontSize, 11);
    // Frames are whole points, so a neighbouring half point may need the same width.
    const double narrow = widthAt(word, 14.5) + 0.6;
    const FittedTitle shrunk = fit(box(narrow), word, 20);
    EXPECT_GE(shrunk.fontSize, 14.5);
    EXPECT_LE(shrunk.fontSize, 15);
    EXPECT_LE(shrunk.width, narrow);
    EXPECT_GT(widthAt(word, shrunk.fontSize + 0.5), narrow - 0.5);
    EXPECT_DOUBLE_EQ(fit(box(10), word, 13).fontSize, 7.4); // 7.15 is not a step
    EXPECT_DOUBLE_EQ(fit(box(10), word, 10).fontSize, 7);

    // Several words: two balanced lines at full size before shrinking below 0.85.
    const QString phrase = QStringLiteral("Make Background Transparent");
    const double oneLine = widthAt(phrase, 20);
    const FittedTitle two = fit(box(oneLine * 0.7), phrase, 20);
    EXPECT_EQ(two.lines, QStringList({"Make Background", "Transparent"}));
    EXPECT_EQ(two.text(), QStringLiteral("Make Background\nTransparent"));
    EXPECT_EQ(two.fontSize, 20);
    EXPECT_DOUBLE_EQ(two.lineHeightMultiple, 0.9);
    EXPECT_GT(two.height, roomy.height);
    EXPECT_LE(two.width, oneLine * 0.7);
    // At 0.85 × width one line still fits at 0.85.
    EXPECT_EQ(fit(box(widthAt(phrase, 17) + 0.6), phrase, 20).lines.size(), 1);

    // Nothing fits: the smallest single line.
    const FittedTitle last = fit(box(10), phrase, 20);
    EXPECT_EQ(last.lines, QStringList({phrase}));
    EXPECT_DOUBLE_EQ(last.fontSize, 11);
}

TEST_F(TitleFitting, FreeWidthFollowsTheOutline)
{
    QPainterPath path;
    path.addRect(-50, 0, 100, 20);
    LabelSlot slot{path, QPointF(0, 10), 0, 0};
    EXPECT_NEAR(slot.availableWidth(10), 100, 0.5);
    EXPECT_LE(slot.availableWidth(10), 100);
    EXPECT_NEAR(slot.edgeDistance(QPointF(30, 10), 1), 20, 0.25);
    EXPECT_NEAR(slot.edgeDistance(QPointF(30, 10), -1), 80, 0.25);
    slot.inset = 12;
    EXPECT_NEAR(slot.availableWidth(10), 88, 0.5);
    // Room kept above the text pushes its bottom row out of the outline.
    slot.inset = 0;
    slot.reservedAbove = 20;
    EXPECT_EQ(slot.availableWidth(10), 0);

    // A block whose middle lies outside has no free width: only the last candidate remains.
    LabelSlot away{path, QPointF(0, 300), 0, 0};
    EXPECT_EQ(away.availableWidth(10), 0);
    EXPECT_DOUBLE_EQ(away.fittedTitle(QStringLiteral("PNG"), 13, QFont::Bold, Qt::black, family)
                         .fontSize,
                     7.4);

    // A short title fits a real segment at its size.
    WheelGeometry wheel;
    wheel.segmentCount = 8;
    const LabelSlot segment{wheel.segmentPath(0), wheel.labelCenter(0), 8, 0};
    const FittedTitle png =
        segment.fittedTitle(QStringLiteral("PNG"), 13, QFont::Bold, Qt::black, family);
    EXPECT_EQ(png.fontSize, 13);
    EXPECT_EQ(png.lines, QStringList({"PNG"}));
}

TEST(BalancedTwoLineSplit, ShortestLongerLineEarliestOnTies)
{
    EXPECT_FALSE(balancedTwoLineSplit({"One"}).has_value());
    EXPECT_FALSE(balancedTwoLineSplit({}).has_value());
    EXPECT_EQ(*balancedTwoLineSplit({"a", "b", "c"}), QStringList({"a", "b c"}));
    EXPECT_EQ(*balancedTwoLineSplit({"Remove", "Background"}), QStringList({"Remove", "Background"}));
    EXPECT_EQ(*balancedTwoLineSplit({"To", "Animated", "WebP", "Now"}),
              QStringList({"To Animated", "WebP Now"}));
}
