#include "settings/WheelPreview.h"

#include "model/settings/ModifierGlyph.h"
#include "model/settings/SettingsReaders.h"
#include "platform/settings/SettingsStore.h"
#include "wheel/WheelGeometry.h"
#include "wheel/WheelPalette.h"

#include <QPainter>

#include <cmath>

namespace qv {

WheelPreview::WheelPreview(SettingsStore& store, QWidget* parent) : QWidget(parent), m_store(store)
{
    setMinimumSize(170, 190);
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key.startsWith(QLatin1String("quorvenda.trigger.")))
            update();
    });
}

void WheelPreview::setTitles(const QStringList& titles)
{
    if (titles == m_titles)
        return;
    m_titles = titles;
    setAccessibleName(QStringLiteral("Preview: ") + titles.join(QStringLiteral(", ")));
    update();
}

void WheelPreview::setWheel(WheelKind wheel)
{
    m_wheel = wheel;
    update();
}

QString WheelPreview::centreText() const
{
    return modifierGlyph(triggerModifier(m_wheel, m_store));
}

void WheelPreview::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    // 20 points of room above the drawing.
    const QRectF area(0, 20, width(), height() - 20);
    const double w = area.width();
    const double h = area.height();
    painter.translate(area.topLeft());
    const double d = std::min(w, h);
    const QPointF c(w / 2, h / 2);
    const int n = std::max<int>(1, int(m_titles.size()));
    const QColor text = palette().color(QPalette::WindowText);
    const bool dark = palette().color(QPalette::Window).lightnessF() < 0.5;

    QColor disc = text;
    disc.setAlphaF(0.06f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawEllipse(c, d / 2, d / 2);

    WheelGeometry geometry;
    geometry.diameter = d;
    geometry.segmentCount = n;
    geometry.center = c;
    geometry.gap = 3;
    geometry.cornerRadius = 7;
    QTransform flip;
    flip.translate(0, h);
    flip.scale(1, -1);
    const double radius = (geometry.innerRadius() + geometry.outerRadius()) / 2;
    QFont label = font();
    label.setPointSizeF(7.5);
    label.setBold(true);
    painter.setFont(label);
    const WheelPalette wheelPalette{m_wheel, dark};
    for (int i = 0; i < m_titles.size(); ++i) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(segmentColor(i, int(m_titles.size()), false, wheelPalette));
        painter.drawPath(flip.map(geometry.segmentPath(i)));
        const double angle = M_PI / 2 - i * 2 * M_PI / n;
        const QPointF at(c.x() + radius * std::cos(angle), h - (c.y() + radius * std::sin(angle)));
        painter.setPen(dark ? QColor::fromRgbF(0.97f, 0.97f, 0.97f, 0.95f)
                            : QColor::fromRgbF(0.09f, 0.09f, 0.09f, 0.88f));
        const QRectF box(at.x() - 30, at.y() - 12, 60, 24);
        painter.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, m_titles[i]);
    }

    const double inner = d * 0.21;
    QColor centre = text;
    centre.setAlphaF(0.08f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(centre);
    painter.drawEllipse(QPointF(c.x(), h - c.y()), inner, inner);

    const QString glyph = centreText();
    if (glyph.isEmpty())
        return;
    QFont glyphFont = font();
    glyphFont.setWeight(QFont::Medium);
    glyphFont.setPixelSize(std::max(6, int(inner * 0.8)));
    // Key names are words here, not single glyphs: shrink them into the disc.
    const QFontMetricsF metrics(glyphFont);
    const double fit = inner * 1.6 / std::max(1.0, metrics.horizontalAdvance(glyph));
    if (fit < 1)
        glyphFont.setPixelSize(std::max(6, int(glyphFont.pixelSize() * fit)));
    painter.setFont(glyphFont);
    QColor secondary = text;
    secondary.setAlphaF(0.6f);
    painter.setPen(secondary);
    painter.drawText(QRectF(c.x() - inner, h - c.y() - inner, inner * 2, inner * 2),
                     Qt::AlignCenter, glyph);
}

} // namespace qv
