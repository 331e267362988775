#include "wheel/LabelSlot.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QImage>

#include <cmath>

namespace qv {

const QPaintDevice* pointMeasuringDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
        const int dotsPerMeter = qRound(72 / 0.0254);
        image.setDotsPerMeterX(dotsPerMeter);
        image.setDotsPerMeterY(dotsPerMeter);
        return image;
    }();
    return &device;
}


namespace {

struct Candidate {
    QStringList lines;
    double size;
};

// A device where a point is one unit, so measuring does not depend on the screen.

QList<Candidate> candidates(const QStringList& words, double f)
{
    const QStringList whole{words.join(QLatin1Char(' '))};
    QList<Candidate> list;
    for (const double factor : {1.0, 0.95, 0.90, 0.85})
        list.append({whole, f * factor});
    if (const auto split = balancedTwoLineSplit(words)) {
        for (const double factor : {1.0, 0.95, 0.90, 0.85, 0.80})
            list.append({*split, f * factor});
    }
    const double floor = std::max(0.55 * f, 7.0);
    for (double size = 0.80 * f; size >= floor - 1e-9; size -= 0.5)
        list.append({whole, size});
    return list;
}

} // namespace

QFont titleFont(double fontSize, QFont::Weight weight, const QString& family)
{
    QFont font = family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont)
                                  : QFont(family);
    font.setPointSizeF(fontSize);
    font.setWeight(weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.2);
    font.setKerning(true);
    return font;
}

std::optional<QStringList> balancedTwoLineSplit(const QStringList& words)
{
    if (words.size() < 2)
        return std::nullopt;
    int best = 1;
    qsizetype bestLength = -1;
    for (int k = 1; k < words.size(); ++k) {
        const qsizetype length = std::max(words.mid(0, k).join(QLatin1Char(' ')).size(),
                                          words.mid(k).join(QLatin1Char(' ')).size());
        if (bestLength < 0 || length < bestLength) {
            best = k;
            bestLength = length;
        }
    }
    return QStringList{words.mid(0, best).join(QLatin1Char(' ')),
                       words.mid(best).join(QLatin1Char(' '))};
}

double LabelSlot::edgeDistance(const QPointF& from, int direction) const
{
    QPainterPath outline = path;
    outline.setFillRule(Qt::WindingFill);
    const auto inside = [&](double distance) {
        return outline.contains(from + QPointF(direction * distance, 0));
    };
    double in = 0;
    while (in < 600 && inside(in + 4))
        in += 4;
    double out = in + 4;
    for (int i = 0; i < 4; ++i) {
        const double mid = (in + out) / 2;
        (inside(mid) ? in : out) = mid;
    }
    return in;
}

double LabelSlot::availableWidth(double textHeight) const
{
    QPainterPath outline = path;
    outline.setFillRule(Qt::WindingFill);
    const double bottom = center.y() - (textHeight + reservedAbove) / 2;
    double narrowest = -1;
    for (const double row : {bottom + 1.5, bottom + textHeight / 2, bottom + textHeight - 1.5}) {
        const QPointF point(center.x(), row);
        const double width = outline.contains(point)
            ? 2 * std::min(edgeDistance(point, -1), edgeDistance(point, 1))
            : 0;
        narrowest = narrowest < 0 ? width : std::min(narrowest, width);
    }
    return narrowest - inset;
}

namespace {

struct FitQuestion {
    QString title;
    double fontSize;
    QFont::Weight weight;
    QString font; // the family, or the system font's description
    LabelSlot slot;

    bool operator==(const FitQuestion& other) const
    {
        return title == other.title && fontSize == other.fontSize && weight == other.weight
            && font == other.font && slot.center == other.slot.center
            && slot.inset == other.slot.inset && slot.reservedAbove == other.slot.reservedAbove
            && slot.path == other.slot.path;
    }
};

} // namespace

FittedTitle LabelSlot::fittedTitle(const QString& title, double fontSize, QFont::Weight weight,
                                   const QColor& color, const QString& family) const
{
    // Fitting probes the outline many times over; a wheel opened again for the same kind of
    // files asks the same questions.
    constexpr qsizetype remembered = 64;
    thread_local QList<std::pair<FitQuestion, FittedTitle>> answers;
    FitQuestion question{title, fontSize, weight,
                         family.isEmpty() ? QFontDatabase::systemFont(QFontDatabase::GeneralFont).key() : family,
                         *this};
    for (qsizetype i = answers.size() - 1; i >= 0; --i) {
        if (answers[i].first == question) {
            FittedTitle known = answers[i].second;
            known.color = color;
            return known;
        }
    }
    FittedTitle fitted = fit(title, fontSize, weight, family);
    fitted.color = color;
    if (answers.size() >= remembered)
        answers.removeFirst();
    answers.append({std::move(question), fitted});
    return fitted;
}

FittedTitle LabelSlot::fit(const QString& title, double fontSize, QFont::Weight weight,
                           const QString& family) const
{
    const QStringList words = title.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QHash<int, double> freeWidthByHeight;
    FittedTitle result;
    for (const Candidate& candidate : candidates(words, fontSize)) {
        FittedTitle layout;
        layout.lines = candidate.lines;
        layout.font = titleFont(candidate.size, weight, family);
        layout.fontSize = candidate.size;
        layout.lineHeightMultiple = candidate.lines.size() > 1 ? 0.9 : 1.0;

        const QFontMetricsF metrics(layout.font, pointMeasuringDevice());
        double textWidth = 0;
        for (const QString& line : candidate.lines)
            textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
        const double textHeight =
            candidate.lines.size() * metrics.lineSpacing() * layout.lineHeightMultiple;
        layout.width = std::ceil(textWidth) + 2;
        layout.height = std::ceil(textHeight) + 1;

        const int key = static_cast<int>(layout.height);
        auto free = freeWidthByHeight.find(key);
        if (free == freeWidthByHeight.end())
            free = freeWidthByHeight.insert(key, availableWidth(layout.height));
        result = layout;
        if (layout.width <= free.value())
            return result;
    }
    return result;
}

} // namespace qv
