#include "platform/drags/ClearWindow.h"

#include <QPainter>

namespace qv {

ClearWindow::ClearWindow(QScreen* screen)
{
    setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
             | Qt::BypassWindowManagerHint);
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    setFormat(format);
    setScreen(screen);
    setTitle(QStringLiteral("Quorvenda"));
}

void ClearWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(QPoint(), size()), Qt::transparent);
}

} // namespace qv
