#include "wheel/WheelSceneLayout.h"

#include "wheel/LabelSlot.h"

#include <QFontMetricsF>
#include <QTransform>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

int moreSegmentIndex(const WheelContent& content)
{
    for (int i = 0; i < content.segments.size(); ++i) {
        if (content.segments[i].isMore())
            return i;
    }
    return -1;
}

} // namespace

QPointF WheelSceneLayout::toWidget(QPointF viewPoint) const
{
    return {viewPoint.x(), viewHeight - viewPoint.y()};
}

QRectF WheelSceneLayout::toWidget(const QRectF& viewRect) const
{
    return {viewRect.x(), viewHeight - viewRect.y() - viewRect.height(), viewRect.width(),
            viewRect.height()};
}

QPainterPath WheelSceneLayout::toWidget(const QPainterPath& viewPath) const
{
    return QTransform(1, 0, 0, -1, 0, viewHeight).map(viewPath);
}

QFont WheelSceneLayout::font(double size, QFont::Weight weight) const
{
    QFont result = titleFont(size, weight, fontFamily);
    result.setLetterSpacing(QFont::AbsoluteSpacing, 0);
    return result;
}

QPointF WheelSceneLayout::wheelCenter() const
{
    return toWidget(geometry.center);
}

QRectF WheelSceneLayout::circleFrame() const
{
    const QPointF c = geometry.center;
    const double d = geometry.diameter;
    return toWidget(QRectF(c.x() - d / 2, c.y() - d / 2, d, d));
}

PlacedSegment WheelSceneLayout::segment(const WheelSegmentModel& model, const QPainterPath& outline,
                                        QPointF labelCenter, bool more, const IconSource& icons) const
{
    const double s = geometry.scale();
    PlacedSegment segment;
    segment.path = toWidget(outline);

    const bool format = model.style == WheelSegmentModel::Style::format;
    const QString text = format ? model.title : model.title.toUpper();
    const double fontSize = format ? (more ? 17 : 26) * s : (more ? 9.5 : 13) * s;
    const QFont::Weight weight = format ? QFont::ExtraBold : QFont::DemiBold;
    // Big format names keep clear of the segment's edges: a letter touching them reads as cut.
    const double inset = format ? 18 : 12;

    std::optional<QImage> icon;
    if (!format && model.symbol && icons)
        icon = icons(*model.symbol, (more ? 17 : 24) * s);
    const QSizeF iconSize = icon ? QSizeF(icon->width() / backingScale, icon->height() / backingScale)
                                 : QSizeF(24 * s, 24 * s);
    const double reservedAbove = icon ? iconSize.height() + 4 : 0;

    const LabelSlot slot{outline, labelCenter, inset, reservedAbove};
    const FittedTitle fitted = slot.fittedTitle(text, fontSize, weight, QColor(), fontFamily);
    QRectF titleFrame;
    if (format) {
        titleFrame = QRectF(labelCenter.x() - fitted.width / 2, labelCenter.y() - fitted.height / 2,
                            fitted.width, fitted.height);
    } else {
        // The symbol and the title form one block centred on the label point.
        const double block = reservedAbove + fitted.height;
        const double top = labelCenter.y() + block / 2;
        segment.iconFrame = toWidget(QRectF(labelCenter.x() - iconSize.width() / 2,
                                            top - iconSize.height(), iconSize.width(),
                                            iconSize.height()));
        titleFrame = QRectF(labelCenter.x() - fitted.width / 2, top - block, fitted.width,
                            fitted.height);
    }
    segment.icon = icon;
    segment.title = PlacedText{fitted.lines, fitted.font, fitted.fontSize, fitted.lineHeightMultiple,
                               false, toWidget(titleFrame)};
    return segment;
}

QList<PlacedSegment> WheelSceneLayout::segments(const WheelContent& content, const IconSource& icons) const
{
    WheelGeometry ring = geometry;
    ring.segmentCount = int(content.segments.size());
    QList<PlacedSegment> placed;
    for (int i = 0; i < ring.segmentCount; ++i)
        placed.append(segment(content.segments[i], ring.segmentPath(i), ring.labelCenter(i), false, icons));
    return placed;
}

std::optional<MoreRingGeometry> WheelSceneLayout::moreRing(const WheelContent& content, bool open) const
{
    const int moreIndex = moreSegmentIndex(content);
    if (!open || content.overflow.isEmpty() || content.segments.isEmpty() || moreIndex < 0)
        return std::nullopt;
    WheelGeometry ring = geometry;
    ring.segmentCount = int(content.segments.size());
    return MoreRingGeometry{ring, int(content.overflow.size()), ring.centerAngle(moreIndex)};
}

QList<PlacedSegment> WheelSceneLayout::moreItems(const WheelContent& content, const MoreRingGeometry& ring,
                                                 const IconSource& icons) const
{
    QList<PlacedSegment> placed;
    const int count = std::min(ring.itemCount, int(content.overflow.size()));
    for (int i = 0; i < count; ++i)
        placed.append(segment(content.overflow[i], ring.itemPath(i), ring.itemLabelCenter(i), true, icons));
    return placed;
}

std::optional<PlacedText> WheelSceneLayout::message(const WheelContent& content) const
{
    if (!content.message)
        return std::nullopt;
    const double s = geometry.scale();
    const double d = geometry.diameter;
    const QPointF c = geometry.center;
    PlacedText message;
    message.lines = {*content.message};
    message.fontSize = 14 * s;
    message.font = font(message.fontSize, QFont::DemiBold);
    message.wraps = true;
    const double w = (d * 0.5 - 12) * 1.2;
    const QFontMetricsF metrics(message.font, pointMeasuringDevice());
    const double h = std::ceil(metrics.boundingRect(QRectF(0, 0, w, 200), Qt::TextWordWrap | Qt::AlignHCenter,
                                                    *content.message).height()) + 2;
    message.frame = toWidget(QRectF(c.x() - w / 2, c.y() + geometry.labelRadius() - h / 2, w, h));
    return message;
}

PlacedCenter WheelSceneLayout::center(const QString& sourceLabel, std::optional<QSize> thumbnailSize,
                                      int fileCount) const
{
    const double s = geometry.scale();
    const double d = geometry.diameter;
    const QPointF c = geometry.center;
    const double r = d * 0.21;

    PlacedCenter center;
    center.disc = toWidget(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r));

    // The label in its pill, above the picture.
    PlacedText& label = center.label;
    label.lines = {sourceLabel};
    label.fontSize = 12 * s;
    label.font = font(label.fontSize, QFont::Bold);
    label.font.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    const QFontMetricsF metrics(label.font, pointMeasuringDevice());
    const double tw = std::ceil(metrics.horizontalAdvance(sourceLabel));
    const double th = std::ceil(metrics.height());
    const double ph = 6 * s + th;
    const double pw = std::min(18 * s + tw, 1.5 * r);
    const double side = 96 * s;
    const double y0 = c.y() + (side + 8 * s + ph) / 2 - ph;
    center.pill = toWidget(QRectF(c.x() - pw / 2, y0, pw, ph));
    label.frame = toWidget(QRectF(c.x() - pw / 2, y0 + (ph - th) / 2, pw, th));
    center.showsPill = !sourceLabel.isEmpty();

    const QPointF pictureCenter(c.x(), y0 - 8 * s - 48 * s);
    QSizeF picture(side, side);
    if (thumbnailSize && thumbnailSize->width() > 0 && thumbnailSize->height() > 0) {
        const double aspect = double(thumbnailSize->width()) / thumbnailSize->height();
        picture = aspect >= 1 ? QSizeF(side, side / aspect) : QSizeF(side * aspect, side);
        picture = QSizeF(std::max(picture.width(), 36 * s), std::max(picture.height(), 36 * s));
        // Rendered once at the shown size.
        center.thumbnailPixels = QSize(int(std::ceil(picture.width() * backingScale)),
                                       int(std::ceil(picture.height() * backingScale)));
    }
    center.picture = toWidget(QRectF(pictureCenter.x() - picture.width() / 2,
                                     pictureCenter.y() - picture.height() / 2, picture.width(),
                                     picture.height()));
    center.showsFirstCard = fileCount >= 2 && center.thumbnailPixels.has_value();
    center.showsSecondCard = center.showsFirstCard && fileCount >= 3;
    return center;
}

PlacedChip WheelSceneLayout::chip(const QString& line, bool below) const
{
    const double s = geometry.scale();
    const QPointF c = geometry.center;
    PlacedChip chip;
    PlacedText& text = chip.text;
    text.lines = {line};
    text.fontSize = 12 * s;
    text.font = font(text.fontSize, QFont::DemiBold);
    const QFontMetricsF metrics(text.font, pointMeasuringDevice());
    const double tw = std::ceil(metrics.horizontalAdvance(line));
    const double th = std::ceil(metrics.height());
    const double cw = 20 * s + tw;
    const double ch = 8 * s + th;
    const double y = below ? c.y() - geometry.diameter / 2 - 10 * s - ch : c.y() + geometry.diameter / 2 + 10 * s;
    chip.frame = toWidget(QRectF(c.x() - cw / 2, y, cw, ch));
    text.frame = toWidget(QRectF(c.x() - cw / 2, y + (ch - th) / 2, cw, th));
    return chip;
}

} // namespace qv
