#include "app/welcome/DemoAnimation.h"

#include "model/operations/HexColor.h"
#include "model/settings/SettingsReaders.h"
#include "wheel/WheelGeometry.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

double clamp01(double x)
{
    return x <= 0 ? 0 : (x > 1 ? 1 : x);
}

double ease(double x)
{
    const double p = clamp01(x);
    return p * p * (3 - 2 * p);
}

QColor hexColor(const char* text)
{
    return colorFromHex(QString::fromLatin1(text)).value_or(QColor(Qt::black));
}

QColor shade(Qt::GlobalColor base, double alpha)
{
    QColor color(base);
    color.setAlphaF(float(alpha));
    return color;
}

// Sizes are in the canvas's units, which are the widget's pixels.
QFont demoFont(const QPainter& painter, const QFont& base, double size, QFont::Weight weight)
{
    QFont font = base;
    const QPaintDevice* device = painter.device();
    const double dpi = device && device->logicalDpiY() > 0 ? device->logicalDpiY() : 96;
    font.setPointSizeF(size * 72.0 / dpi);
    font.setWeight(weight);
    return font;
}

void drawCentredText(QPainter& painter, QPointF centre, const QString& text, const QFont& font,
                     const QColor& color)
{
    painter.setFont(font);
    painter.setPen(color);
    // The box only centres; the text may run past it.
    const QRectF box(centre.x() - 100, centre.y() - 50, 200, 100);
    painter.drawText(box, Qt::AlignCenter | Qt::TextDontClip, text);
}

void drawFileIcon(QPainter& painter, const QFont& base, QPointF c, double s, const QColor& badge,
                  const QString& label)
{
    const QRectF body(c.x() - 17 * s, c.y() - 21 * s, 34 * s, 42 * s);
    painter.setPen(QPen(shade(Qt::black, 0.12), 1));
    painter.setBrush(Qt::white);
    painter.drawRoundedRect(body, 5, 5);

    const QRectF tag(body.left() + 3, body.bottom() - 15 * s, 34 * s - 6, 11 * s);
    painter.setPen(Qt::NoPen);
    painter.setBrush(badge);
    painter.drawRoundedRect(tag, 3, 3);
    drawCentredText(painter, tag.center(), label, demoFont(painter, base, 7 * s, QFont::Bold), Qt::white);
}

double segmentHue(int index, int count)
{
    if (count == 1)
        return 214.0 / 360;
    double hue = (214 + 16.0 * index / (count - 1) - 8) / 360;
    if (hue < 0)
        hue += 1;
    return hue;
}

// What the frame reads from the application, looked up on the caller's thread.
struct FrameInputs {
    QFont base;
    QColor accent;
};

void paintFrame(QPainter& painter, const QStringList& titles, qreal w, qreal h, double t,
                const FrameInputs& inputs);

} // namespace

void DemoAnimation::drawFrame(QPainter& painter, qreal w, qreal h, double t) const
{
    const double fade = 1 - ease((t - 5.6) / 0.7);
    if (fade <= 0)
        return;
    const FrameInputs inputs{QFontDatabase::systemFont(QFontDatabase::GeneralFont), currentAccentColor()};
    paintFrame(painter, titles, w, h, t, inputs);
}

namespace {

void paintFrame(QPainter& painter, const QStringList& titles, qreal w, qreal h, double t,
                const FrameInputs& inputs)
{
    const QFont& base = inputs.base;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    const double fade = 1 - ease((t - 5.6) / 0.7);
    const double e1 = ease((t - 0.3) / 1.1);
    const double e2 = ease((t - 2.2) / 0.9);
    const double k = ease((t - 1.2) / 0.3) * (1 - ease((t - 3.2) / 0.4));
    const bool pressed = t > 1.5 && t < 1.85;
    const double v = ease((t - 1.55) / 0.3) * (1 - ease((t - 3.15) / 0.3));
    const bool highlight = e2 > 0.85 && t < 3.2;
    const double r = ease(2 * (t - 3.4));
    const bool dragging = t < 3.2;

    const QPointF home(0.16 * w, 0.62 * h);
    const QPointF centre(0.52 * w, 0.5 * h);
    const int n = int(titles.size());
    WheelGeometry wheel;
    wheel.diameter = std::min(0.9 * h, 190.0);
    wheel.segmentCount = n;
    wheel.center = centre;
    wheel.gap = 3;
    wheel.cornerRadius = 8;
    // The geometry's y axis points up.
    const QTransform mirror(1, 0, 0, -1, 0, h);
    const QPointF target = mirror.map(wheel.labelCenter(1));
    const QColor heic = hexColor("#7B5CFF");
    const QString heicText = QStringLiteral("HEIC");

    // The ghost left at home.
    painter.setOpacity(fade * 0.35);
    drawFileIcon(painter, base, home, 1, heic, heicText);
    painter.setOpacity(1);

    if (k > 0) {
        painter.setOpacity(fade * k);
        const QString word = QStringLiteral("Shift");
        const QFont font = demoFont(painter, base, 22, QFont::DemiBold);
        // The cap widens to fit its word, about its own centre.
        const double width =
            std::max(52.0, QFontMetricsF(font, painter.device()).horizontalAdvance(word) + 24);
        QRectF cap(0.84 * w - width / 2, 0.2 * h, width, 44);
        if (pressed)
            cap.translate(0, 3);
        painter.setPen(QPen(shade(Qt::black, 0.15), 1));
        painter.setBrush(shade(Qt::white, pressed ? 0.95 : 0.85));
        painter.drawRoundedRect(cap, 9, 9);
        drawCentredText(painter, cap.center(), word, font, shade(Qt::black, 0.75));
        painter.setOpacity(1);
    }

    if (v > 0) {
        painter.save();
        painter.setOpacity(fade * v);
        const double grow = 0.85 + 0.15 * v;
        painter.translate(centre);
        painter.scale(grow, grow);
        painter.translate(-centre);

        const double d = wheel.diameter;
        painter.setPen(Qt::NoPen);
        painter.setBrush(shade(Qt::white, 0.6));
        painter.drawEllipse(centre, d / 2, d / 2);

        const QFont plain = demoFont(painter, base, 11, QFont::ExtraBold);
        const QFont lit = demoFont(painter, base, 13, QFont::ExtraBold);
        const QColor ink = shade(Qt::black, 0.8);
        for (int i = 0; i < n; ++i) {
            const QPainterPath outline = wheel.segmentPath(i);
            if (outline.isEmpty())
                continue;
            const bool on = highlight && i == 1;
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor::fromHsvF(float(segmentHue(i, n)), on ? 0.45f : 0.3f,
                                              on ? 0.98f : 1.0f, 0.96f));
            painter.drawPath(mirror.map(outline));
            drawCentredText(painter, mirror.map(wheel.labelCenter(i)), titles[i], on ? lit : plain, ink);
        }

        painter.setPen(Qt::NoPen);
        painter.setBrush(inputs.accent);
        painter.drawEllipse(centre, 0.21 * d, 0.21 * d);
        painter.restore();
    }

    if (r > 0) {
        painter.setOpacity(fade * r);
        const QPointF spot(home.x(), home.y() - 70);
        drawFileIcon(painter, base, spot, 0.8 + 0.2 * r, hexColor("#34C759"), QStringLiteral("PNG"));
        drawCentredText(painter, QPointF(home.x() + 58, home.y() - 70), QStringLiteral("photo.png"),
                        demoFont(painter, base, 11, QFont::Medium), shade(Qt::black, 0.7));
        painter.setOpacity(1);
    }

    if (dragging) {
        // First to the wheel's centre, then on to the PNG segment.
        const QPointF tip = home + (centre - home) * e1 + (target - centre) * e2;
        const bool moving = t > 0.3;
        painter.setOpacity(moving ? fade * 0.85 : fade);
        drawFileIcon(painter, base, tip + QPointF(-6, 10), moving ? 0.92 : 1, heic, heicText);
        painter.setOpacity(1);
        DemoAnimation::drawPointer(painter, tip, fade);
    }
}

} // namespace

void DemoAnimation::drawPointer(QPainter& painter, QPointF tip, qreal opacity)
{
    static const QPointF arrow[] = {{0, 0}, {0, 17}, {4.5, 13}, {8, 20}, {10.5, 19}, {7.5, 12}, {12.5, 12}};
    QPolygonF polygon;
    for (const QPointF& point : arrow)
        polygon << tip + point;
    painter.setOpacity(opacity);
    painter.setBrush(Qt::black);
    painter.setPen(QPen(Qt::white, 1.2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    painter.drawPolygon(polygon);
    painter.setOpacity(1);
}

} // namespace qv
