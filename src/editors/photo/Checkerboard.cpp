#include "editors/photo/Checkerboard.h"

#include <QPainter>
#include <QPainterPath>

namespace qv {

void Checkerboard::paint(QPainter& painter, const QRectF& area) const
{
    painter.fillRect(area, QColor(lightGrey, lightGrey, lightGrey));
    if (m_square <= 0)
        return;
    const int rows = int(area.height() / m_square), cols = int(area.width() / m_square);
    QPainterPath dark;
    for (int row = 0; row < rows; ++row)
        for (int col = (row % 2 == 0 ? 0 : 1); col < cols; col += 2)
            dark.addRect(area.x() + col * m_square, area.y() + row * m_square, m_square, m_square);
    dark.setFillRule(Qt::WindingFill);
    painter.fillPath(dark, QColor(darkGrey, darkGrey, darkGrey));
}

int Checkerboard::darkSquares(const QSizeF& area) const
{
    if (m_square <= 0)
        return 0;
    const int rows = int(area.height() / m_square), cols = int(area.width() / m_square);
    return (rows * cols + 1) / 2;
}

} // namespace qv
