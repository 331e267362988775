#include "jobs/ui/ColorWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QPixmap>

namespace qv {

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent)
{
    setAutoDefault(false);
    setIconSize(QSize(36, 14));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setColor(Qt::white);
    connect(this, &QPushButton::clicked, this, [this] {
        const QColor picked = QColorDialog::getColor(m_color, window(), tr("Background"));
        if (picked.isValid())
            chooseColor(picked);
    });
}

void ColorWell::setColor(const QColor& color)
{
    m_color = color;
    QPixmap swatch(iconSize() * devicePixelRatioF());
    swatch.setDevicePixelRatio(devicePixelRatioF());
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(color);
    painter.drawRoundedRect(QRectF(0.5, 0.5, iconSize().width() - 1, iconSize().height() - 1), 3, 3);
    painter.end();
    setIcon(QIcon(swatch));
    setToolTip(color.name(QColor::HexRgb).toUpper());
}

void ColorWell::chooseColor(const QColor& color)
{
    setColor(color);
    Q_EMIT colorChosen(color);
}

} // namespace qv
