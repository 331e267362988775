#include "widgets/ColorWell.h"

#include <QColorDialog>
#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qv {

ColorWell::ColorWell(QWidget* parent) : QPushButton(parent)
{
    setAutoDefault(false);
    setIconSize(QSize(36, 14));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setColor(Qt::white);
    connect(this, &QPushButton::clicked, this, [this] {
        if (m_opensChooser)
            openChooser();
    });
}

QColorDialog* ColorWell::openChooser()
{
    auto* dialog = new QColorDialog(m_color, window());
    dialog->setOptions(dialog->options() & ~QColorDialog::ShowAlphaChannel);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(toolTip().isEmpty() || m_shape == Shape::bar ? tr("Color") : toolTip());
    connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& picked) {
        if (picked.isValid())
            chooseColor(picked);
    });
    dialog->open();
    return dialog;
}

void ColorWell::setShape(Shape shape)
{
    m_shape = shape;
    setFlat(shape == Shape::round);
    setFocusPolicy(shape == Shape::round ? Qt::NoFocus : Qt::StrongFocus);
    updateFace();
    updateGeometry();
}

void ColorWell::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    update();
}

void ColorWell::setFace(std::function<void(QPainter&, const QRectF&)> face)
{
    m_face = std::move(face);
    update();
}

void ColorWell::setColor(const QColor& color)
{
    m_color = color;
    updateFace();
    if (m_shape == Shape::bar)
        setToolTip(color.name(QColor::HexRgb).toUpper());
}

void ColorWell::updateFace()
{
    if (m_shape == Shape::round) {
        setIcon(QIcon());
        update();
        return;
    }
    QPixmap swatch(iconSize() * devicePixelRatioF());
    swatch.setDevicePixelRatio(devicePixelRatioF());
    swatch.fill(Qt::transparent);
    QPainter painter(&swatch);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(m_color);
    painter.drawRoundedRect(QRectF(0.5, 0.5, iconSize().width() - 1, iconSize().height() - 1), 3, 3);
    painter.end();
    setIcon(QIcon(swatch));
}

QSize ColorWell::sizeHint() const
{
    if (m_shape == Shape::round)
        return {discSide + 4, discSide + 4};
    return QPushButton::sizeHint();
}

void ColorWell::paintEvent(QPaintEvent* event)
{
    if (m_shape == Shape::bar) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(0.4);
    const QRectF disc(QPointF((width() - discSide) / 2.0, (height() - discSide) / 2.0), QSizeF(discSide, discSide));
    QPainterPath circle;
    circle.addEllipse(disc);
    painter.save();
    painter.setClipPath(circle);
    if (m_face)
        m_face(painter, disc);
    else
        painter.fillRect(disc, m_color);
    painter.restore();
    if (m_opensChooser) {
        // A ring of every hue tells the chooser apart from the fixed swatches beside it.
        QConicalGradient hues(disc.center(), 90);
        for (int i = 0; i <= 6; ++i)
            hues.setColorAt(i / 6.0, QColor::fromHsv((i * 60) % 360, 200, 235));
        painter.setPen(QPen(QBrush(hues), 2.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(disc.adjusted(1.25, 1.25, -1.25, -1.25));
        return;
    }
    QColor ring = m_selected ? palette().color(QPalette::Active, QPalette::Highlight)
                             : palette().color(QPalette::Active, QPalette::WindowText);
    if (!m_selected)
        ring.setAlphaF(0.2);
    const double line = m_selected ? 2 : 1;
    painter.setPen(QPen(ring, line));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc.adjusted(line / 2, line / 2, -line / 2, -line / 2));
}

void ColorWell::chooseColor(const QColor& color)
{
    // The chooser offers no opacity; whatever arrives is made opaque.
    QColor opaque = color.toRgb();
    opaque.setAlpha(255);
    setColor(opaque);
    Q_EMIT colorChosen(opaque);
}

} // namespace qv
