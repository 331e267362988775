#include "editors/annotate/AnnotateSwatch.h"

#include "model/operations/HexColor.h"

#include <QPainter>

namespace qv {

AnnotateSwatch::AnnotateSwatch(const QString& hex, QWidget* parent) : QAbstractButton(parent), m_hex(hex)
{
    setFixedSize(18, 18);
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
    const QString name = QStringLiteral("Color ") + hex;
    setToolTip(name);
    setAccessibleName(name);
}

void AnnotateSwatch::setSelected(bool selected)
{
    if (selected == m_selected)
        return;
    m_selected = selected;
    update();
}

void AnnotateSwatch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect());
    painter.setPen(Qt::NoPen);
    painter.setBrush(colorFromHex(m_hex).value_or(QColor(Qt::red)));
    painter.drawEllipse(box);
    QColor ring = palette().color(QPalette::WindowText);
    ring.setAlphaF(m_selected ? 0.9 : 0.15);
    const double width = m_selected ? 2.0 : 1.0;
    painter.setPen(QPen(ring, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(box.adjusted(width / 2, width / 2, -width / 2, -width / 2));
}

} // namespace qv
