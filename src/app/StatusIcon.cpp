#include "app/StatusIcon.h"

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

QRectF circleRect(QPointF centre, double radius)
{
    return QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
}

// The idle symbol: a small wheel of three segments around a hub, filling the box it is given.
void drawBaseSymbol(QPainter& painter, const QRectF& box, const QColor& colour)
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
    painter.fillPath(path, colour);
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

QImage statusIconImage(std::optional<double> fraction, bool paused, double spinnerPhase,
                       int pixelSize, const QColor& foreground)
{
    QImage image(pixelSize, pixelSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixelSize / kDesignSize, pixelSize / kDesignSize);
    const QRectF box(0, 0, kDesignSize, kDesignSize);
    const QPointF centre = box.center();

    if (!fraction) {
        painter.setOpacity(paused ? kPausedOpacity : 1.0);
        drawBaseSymbol(painter, box.adjusted(kBaseInset, kBaseInset, -kBaseInset, -kBaseInset),
                       foreground);
        return image;
    }

    // While jobs run the pause flag changes nothing: the ring is what matters then.
    const QRectF ring = circleRect(centre, kRingRadius);
    QColor track = foreground;
    track.setAlphaF(kTrackAlpha);
    painter.setPen(QPen(track, kTrackWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(ring);

    const RingArc arc = progressArc(*fraction, spinnerPhase);
    QPainterPath arcPath;
    arcPath.arcMoveTo(ring, arc.startDegrees);
    arcPath.arcTo(ring, arc.startDegrees, arc.spanDegrees);
    painter.setPen(QPen(foreground, kArcWidth, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(arcPath);

    painter.setPen(Qt::NoPen);
    painter.setBrush(foreground);
    painter.drawEllipse(circleRect(centre, kCentreDot / 2));
    return image;
}

QIcon statusIcon(std::optional<double> fraction, bool paused, double spinnerPhase,
                 const QColor& foreground)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(QPixmap::fromImage(
            statusIconImage(fraction, paused, spinnerPhase, size, foreground)));
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
