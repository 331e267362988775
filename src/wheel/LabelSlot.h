#pragma once

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QStringList>

#include <optional>

class QPaintDevice;

namespace qv {

// A device of 72 dots per inch, so that one point of a font measures one unit of the wheel.
const QPaintDevice* pointMeasuringDevice();

// A title laid out to fit its segment. Sizes are in the wheel's points; the font is measured
// at 72 dots per inch, where one point is one unit, so a view on another resolution scales
// the point size by 72 / its dots per inch.
struct FittedTitle {
    QStringList lines;
    QFont font;
    QColor color;
    double fontSize = 0;
    double letterSpacing = 0.2;
    double lineHeightMultiple = 1; // 0.9 for two lines
    double width = 0;              // for the title's frame: rounded up plus 2
    double height = 0;             // rounded up plus 1

    QString text() const { return lines.join(QLatin1Char('\n')); }
};

// Where one segment's title goes, in the wheel's y-up space.
struct LabelSlot {
    QPainterPath path;        // the segment's outline
    QPointF center;           // where the title is centred
    double inset = 0;         // taken off the free width
    double reservedAbove = 0; // kept free above the text for the icon

    // The width free at three rows of a text block of that height (bottom, middle, top);
    // 0 when the block's middle leaves the outline.
    double availableWidth(double textHeight) const;

    // How far one can go from an inside point in one horizontal direction (+1 right, -1 left)
    // before leaving the outline, to a quarter point.
    double edgeDistance(const QPointF& from, int direction) const;

    // The largest layout that fits: one line shrinking to 0.85, a balanced two-line split
    // down to 0.80, then one line shrinking by half points to max(0.55 × size, 7); the last
    // of these when nothing fits. An empty family means the system's font.
    FittedTitle fittedTitle(const QString& title, double fontSize, QFont::Weight weight,
                            const QColor& color, const QString& family = QString()) const;

private:
    FittedTitle fit(const QString& title, double fontSize, QFont::Weight weight,
                    const QString& family) const;
};

// The two lines whose longer one is shortest, the earliest on ties; none for fewer than two
// words.
std::optional<QStringList> balancedTwoLineSplit(const QStringList& words);

// The font titles are measured and drawn with.
QFont titleFont(double fontSize, QFont::Weight weight, const QString& family = QString());

} // namespace qv
