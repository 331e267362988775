#include "app/tray/StatusIcon.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

constexpr double kDesignSize = 18.0;
constexpr double kRingRadius = 7.2;
constexpr double kTrackWidth = 1.6;
constexpr double kArcWidth = 1.9;
constexpr double kCentreDot = 5.2;
constexpr double kBaseInset = 1.35;
constexpr double kPausedOpacity = 0.45;
constexpr double kTrackAlpha = 0.28;
constexpr double kHaloWidth = 0.9;
constexpr double kHaloAlpha = 0.8;

QRectF circleRect(QPointF centre, double radius)
{
    return QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
}

// The idle symbol: a small wheel of three segments around a hub, filling the box it is given.
QPainterPath baseSymbol(const QRectF& box)
{
    const QPointF centre = box.center();
    const double outer = box.width() / 2;
    const double inner = outer * 0.52;
    const QRectF outerRect = circleRect(centre, outer);
    const QRectF innerRect = circleRect(centre, inner);
    constexpr double gap = 14;
    constexpr double span = 120 - gap;

    QPainterPath path;
    for (int i = 0; i < 3; ++i) {
        const double start = 90 + gap / 2 + i * 120;
        QPainterPath segment;
        segment.arcMoveTo(outerRect, start);
        segment.arcTo(outerRect, start, span);
        segment.arcTo(innerRect, start + span, -span);
        segment.closeSubpath();
        path.addPath(segment);
    }
    path.addEllipse(centre, inner * 0.45, inner * 0.45);
    return path.simplified();
}

} // namespace

std::optional<double> statusFraction(const QList<double>& activeFractions)
{
    if (activeFractions.isEmpty())
        return std::nullopt;
    double sum = 0;
    int reporting = 0;
    for (double f : activeFractions) {
        if (f > 0) {
            sum += f;
            ++reporting;
        }
    }
    if (reporting == 0)
        return -1.0;
    return sum / reporting;
}

RingArc progressArc(double fraction, double spinnerPhase)
{
    if (fraction < 0) {
        const double phase = spinnerPhase - std::floor(spinnerPhase);
        return {90 - phase * 360, -spinnerArcDegrees};
    }
    const double shown = std::clamp(fraction, minimumRingFraction, 1.0);
    return {90, -shown * 360};
}

int wholePercent(double fraction)
{
    return static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 100 + 1e-9));
}

QString progressAccessibilityValue(double fraction)
{
    if (fraction < 0)
        return QStringLiteral("Working");
    return QString::number(wholePercent(fraction)) + QStringLiteral(" percent");
}

QString statusAccessibilityValue(std::optional<double> fraction, bool paused)
{
    if (fraction)
        return progressAccessibilityValue(*fraction);
    return paused ? QStringLiteral("Paused") : QStringLiteral("Idle");
}

QString statusToolTip(const QString& accessibilityValue)
{
    return QStringLiteral("Quorvenda — ") + accessibilityValue;
}

QColor haloColor(const QColor& foreground)
{
    QColor halo = foreground.lightness() < 128 ? QColor(Qt::white) : QColor(Qt::black);
    halo.setAlphaF(kHaloAlpha);
    return halo;
}

namespace {

// One of the icon's shapes in the 18-point design, with the edge around it.
struct IconShape {
    QPainterPath halo;
    QPainterPath shape;
    QColor fill;
};

struct IconDrawing {
    double opacity = 1.0;
    QList<IconShape> shapes;
};

// The edges' boolean operations cost most of the drawing: they are made once in design units
// and drawn at every size.
IconDrawing iconDrawing(std::optional<double> fraction, bool paused, double spinnerPhase, const QColor& foreground)
{
    const QRectF box(0, 0, kDesignSize, kDesignSize);
    const QPointF centre = box.center();
    IconDrawing drawing;
    // The panel's colour is a guess (a dark panel may come with a light theme): each shape gets
    // a thin edge of the opposite lightness, so the icon reads on either.
    const auto add = [&drawing](const QPainterPath& shape, const QColor& fill) {
        QPainterPathStroker stroker;
        stroker.setWidth(2 * kHaloWidth);
        stroker.setJoinStyle(Qt::RoundJoin);
        stroker.setCapStyle(Qt::RoundCap);
        drawing.shapes.append({stroker.createStroke(shape).united(shape).subtracted(shape), shape, fill});
    };
    if (!fraction) {
        drawing.opacity = paused ? kPausedOpacity : 1.0;
        add(baseSymbol(box.adjusted(kBaseInset, kBaseInset, -kBaseInset, -kBaseInset)), foreground);
        return drawing;
    }

    // While jobs run the pause flag changes nothing: the ring is what matters then.
    const QRectF ring = circleRect(centre, kRingRadius);
    QPainterPath circle;
    circle.addEllipse(ring);
    QPainterPathStroker trackStroker;
    trackStroker.setWidth(kTrackWidth);
    QColor track = foreground;
    track.setAlphaF(kTrackAlpha);
    add(trackStroker.createStroke(circle), track);

    const RingArc arc = progressArc(*fraction, spinnerPhase);
    QPainterPath arcPath;
    arcPath.arcMoveTo(ring, arc.startDegrees);
    arcPath.arcTo(ring, arc.startDegrees, arc.spanDegrees);
    QPainterPathStroker arcStroker;
    arcStroker.setWidth(kArcWidth);
    arcStroker.setCapStyle(Qt::RoundCap);
    add(arcStroker.createStroke(arcPath), foreground);

    QPainterPath dot;
    dot.addEllipse(circleRect(centre, kCentreDot / 2));
    add(dot, foreground);
    return drawing;
}

QImage drawnIcon(const IconDrawing& drawing, int pixelSize, const QColor& foreground)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixelSize / kDesignSize, pixelSize / kDesignSize);
    painter.setOpacity(drawing.opacity);
    const QColor halo = haloColor(foreground);
    for (const IconShape& shape : drawing.shapes) {
        painter.fillPath(shape.halo, halo);
        painter.fillPath(shape.shape, shape.fill);
    }
    return image;
}

} // namespace

QImage statusIconImage(std::optional<double> fraction, bool paused, double spinnerPhase,
                       int pixelSize, const QColor& foreground)
{
    return drawnIcon(iconDrawing(fraction, paused, spinnerPhase, foreground), pixelSize, foreground);
}

QIcon statusIcon(std::optional<double> fraction, bool paused, double spinnerPhase,
                 const QColor& foreground)
{
    const IconDrawing drawing = iconDrawing(fraction, paused, spinnerPhase, foreground);
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(drawnIcon(drawing, size, foreground)));
    return icon;
}

QColor trayForegroundColor()
{
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower();
    // GNOME's top bar and its relatives are dark whatever the application theme says.
    for (const char* dark : {"gnome", "unity", "pantheon", "budgie"}) {
        if (desktop.contains(QLatin1String(dark)))
            return Qt::white;
    }
    const QPalette palette = QGuiApplication::palette();
    if (palette.color(QPalette::Window).lightness() < 128)
        return Qt::white;
    return palette.color(QPalette::WindowText);
}

} // namespace qv
