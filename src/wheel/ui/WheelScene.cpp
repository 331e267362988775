#include "wheel/ui/WheelScene.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QRadialGradient>
#include <QtMath>

#include <algorithm>

namespace qv {

namespace {

// Fonts are sized in the wheel's points, which are the widget's pixels.
QFont deviceFont(const QFont& font, double fontSize, const QPaintDevice* device)
{
    QFont result = font;
    const double dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
    result.setPointSizeF(fontSize * 72.0 / dpi);
    return result;
}

void paintText(QPainter& painter, const SceneText& text)
{
    if (!text.visible || text.lines.isEmpty())
        return;
    const QFont font = deviceFont(text.font, text.fontSize, painter.device());
    painter.setFont(font);
    painter.setPen(text.color);
    if (text.wraps) {
        painter.drawText(text.frame, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text.text());
        return;
    }
    const QFontMetricsF metrics(font, painter.device());
    const double lineHeight = metrics.lineSpacing() * text.lineHeightMultiple;
    double y = text.frame.center().y() - lineHeight * text.lines.size() / 2;
    // Wide enough never to cut a glyph; the frame only centres.
    const double spare = 200;
    for (const QString& line : text.lines) {
        const QRectF row(text.frame.left() - spare, y, text.frame.width() + 2 * spare, lineHeight);
        painter.drawText(row, Qt::AlignCenter | Qt::TextDontClip, line);
        y += lineHeight;
    }
}

// A soft shadow: the shape repeated a few times, each wider and fainter.
void paintSoftShadow(QPainter& painter, const QPainterPath& path, QPointF offset, double radius,
                     double opacity)
{
    const QPainterPath moved = path.translated(offset);
    painter.setBrush(Qt::NoBrush);
    const int passes = 4;
    for (int i = passes; i >= 1; --i) {
        QColor color(0, 0, 0);
        color.setAlphaF(std::clamp(opacity / passes, 0.0, 1.0));
        painter.setPen(QPen(color, radius * i / passes, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(moved);
    }
    QColor core(0, 0, 0);
    core.setAlphaF(std::clamp(opacity * 0.6, 0.0, 1.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(core);
    painter.drawPath(moved);
}

void paintSegment(QPainter& painter, const SceneSegment& segment, QPointF center)
{
    if (segment.opacity <= 0)
        return;
    painter.save();
    const double scale = segment.pulseScale.value_or(segment.scale) * segment.appearScale;
    painter.translate(center);
    painter.scale(scale, scale);
    painter.translate(-center);
    painter.setOpacity(painter.opacity() * segment.opacity);
    if (segment.castsShadow)
        paintSoftShadow(painter, segment.path, QPointF(0, 2), 6, 0.16);
    painter.setPen(QPen(segment.stroke, SegmentLayer::lineWidth));
    painter.setBrush(segment.fill);
    painter.drawPath(segment.path);
    if (segment.icon)
        painter.drawImage(segment.iconFrame, *segment.icon);
    paintText(painter, segment.title);
    painter.restore();
}

void paintRing(QPainter& painter, const QList<SceneSegment>& ring, QPointF center)
{
    // A highlighted segment lies above its neighbours.
    QList<const SceneSegment*> order;
    for (const SceneSegment& segment : ring)
        order.append(&segment);
    std::stable_sort(order.begin(), order.end(), [](const SceneSegment* a, const SceneSegment* b) {
        return a->layer.zPosition < b->layer.zPosition;
    });
    for (const SceneSegment* segment : order)
        paintSegment(painter, *segment, center);
}

void paintCard(QPainter& painter, const QRectF& frame, double radians)
{
    painter.save();
    painter.translate(frame.center());
    painter.rotate(qRadiansToDegrees(radians));
    const QRectF box(-frame.width() / 2, -frame.height() / 2, frame.width(), frame.height());
    QPainterPath path;
    path.addRoundedRect(box, 6, 6);
    paintSoftShadow(painter, path, QPointF(0, 1), 3, 0.18);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPath(path);
    painter.restore();
}

} // namespace

void WheelScene::paintMessageAndChip(QPainter& painter) const
{
    paintText(painter, message);
    if (!showChip)
        return;
    QPainterPath chip;
    chip.addRoundedRect(chipFrame, chipFrame.height() / 2, chipFrame.height() / 2);
    paintSoftShadow(painter, chip, QPointF(0, 1), 5, 0.18);
    painter.setPen(QPen(chipBorder, 0.5));
    painter.setBrush(chipBackground);
    painter.drawPath(chip);
    paintText(painter, chipText);
}

void WheelScene::paintSwappable(QPainter& painter) const
{
    paintRing(painter, segments, center);
    paintRing(painter, moreItems, center);
    paintMessageAndChip(painter);
}

void WheelScene::paintBackdrop(QPainter& painter) const
{
    const double radius = diameter / 2;
    QRadialGradient shadow(center + QPointF(0, 8), radius + 22);
    const double edge = radius / (radius + 22);
    shadow.setColorAt(0, QColor(0, 0, 0, 56));
    shadow.setColorAt(edge * 0.92, QColor(0, 0, 0, 56));
    shadow.setColorAt(edge, QColor(0, 0, 0, 40));
    shadow.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(center + QPointF(0, 8), radius + 22, radius + 22);
    painter.setBrush(backdrop);
    painter.drawPath(circle);
}

WheelScene::BackdropLayer WheelScene::backdropLayer(double ratio) const
{
    // Whole pixels apart from the view's origin, so that the picture lands on the pixels it
    // was drawn for.
    const double radius = diameter / 2 + 22;
    const QRectF area = QRectF(center + QPointF(-radius, 8 - radius), QSizeF(2 * radius, 2 * radius))
                            .united(circle.boundingRect());
    const QPoint origin(int(std::floor(area.left())), int(std::floor(area.top())));
    const QSize size(int(std::ceil(area.right())) - origin.x() + 1,
                     int(std::ceil(area.bottom())) - origin.y() + 1);
    BackdropKey key{center - origin, diameter, circle.translated(-origin), backdrop, ratio, size};
    if (m_backdrop && m_backdrop->key == key)
        return {origin, m_backdrop->image};
    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter layer(&image);
        layer.setRenderHint(QPainter::Antialiasing);
        layer.translate(-origin);
        paintBackdrop(layer);
    }
    m_backdrop = CachedBackdrop{std::move(key), image};
    return {origin, image};
}

void WheelScene::paint(QPainter& painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // The drop shadow and the flat tinted backdrop stay put while the content opens.
    const BackdropLayer layer = backdropLayer(painter.device()->devicePixelRatioF());
    painter.drawImage(layer.origin, layer.image);

    // The first frame of the fade in shows the backdrop alone.
    if (rootOpacity <= 0)
        return;
    painter.save();
    painter.translate(center);
    painter.scale(rootScale, rootScale);
    painter.translate(-center);
    painter.setOpacity(rootOpacity);

    painter.setPen(QPen(overlayStroke, 1));
    painter.setBrush(overlayFill);
    painter.drawPath(overlayPath);

    const double swapOpacity = fadeFrom ? fadeProgress : 1;
    painter.save();
    painter.setOpacity(painter.opacity() * swapOpacity);
    paintRing(painter, segments, center);
    paintRing(painter, moreItems, center);
    painter.restore();

    QLinearGradient disc(discFrame.topLeft(), discFrame.bottomLeft());
    disc.setColorAt(0, discTop);
    disc.setColorAt(1, discBottom);
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(discFrame);
    painter.setPen(QPen(rim, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(discFrame.adjusted(0.5, 0.5, -0.5, -0.5));

    if (showFirstCard)
        paintCard(painter, cardFrame, 0.1);
    if (showSecondCard)
        paintCard(painter, cardFrame, -0.1);
    if (thumb) {
        QPainterPath rounded;
        rounded.addRoundedRect(thumbFrame, 6, 6);
        painter.save();
        painter.setClipPath(rounded);
        painter.drawImage(thumbFrame, *thumb);
        painter.restore();
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(rounded);
    }
    if (showPill) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 179));
        painter.drawRoundedRect(pillFrame, pillFrame.height() / 2, pillFrame.height() / 2);
        paintText(painter, pillText);
    }

    painter.save();
    painter.setOpacity(painter.opacity() * swapOpacity);
    paintMessageAndChip(painter);
    painter.restore();

    if (fadeFrom && fadeProgress < 1) {
        painter.setOpacity(painter.opacity() * (1 - fadeProgress));
        painter.drawImage(QPointF(0, 0), *fadeFrom);
    }
    painter.restore();
}

QPainterPath WheelScene::outline() const
{
    QPainterPath area = circle;
    for (const SceneSegment& item : moreItems)
        area.addPath(item.path);
    if (showChip)
        area.addRoundedRect(chipFrame.adjusted(-1, -1, 1, 2), chipFrame.height() / 2,
                            chipFrame.height() / 2);
    return area;
}

QPainterPath WheelScene::shape() const
{
    return outline().simplified();
}

} // namespace qv
