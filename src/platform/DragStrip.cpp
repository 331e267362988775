#include "platform/DragStrip.h"

#include "platform/LayerShell.h"

#include <QPainter>
#include <QScreen>

namespace qv {

DragStrip::DragStrip(QScreen* screen)
{
    setFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
             | Qt::BypassWindowManagerHint);
    QSurfaceFormat format;
    format.setAlphaBufferSize(8);
    setFormat(format);
    setScreen(screen);
    setTitle(QStringLiteral("Quorvenda"));
}

void DragStrip::showAlong(Qt::Edge edge)
{
    const QRect frame = frameFor(screen()->geometry(), edge);
    setGeometry(frame);
    LayerPlacement placement;
    // Held along its whole edge: the compositor gives the length, beside any panels.
    switch (edge) {
    case Qt::LeftEdge:
    case Qt::RightEdge:
        placement.anchors = edge | Qt::TopEdge | Qt::BottomEdge;
        placement.size = QSize(thickness, 0);
        break;
    case Qt::TopEdge:
    case Qt::BottomEdge:
        placement.anchors = edge | Qt::LeftEdge | Qt::RightEdge;
        placement.size = QSize(0, thickness);
        break;
    }
    // KWin gives the surface under a drag the keyboard, so modifier taps reach us.
    placement.keys = LayerKeys::onDemand;
    placement.screen = screen();
    LayerShell::setPlacement(this, placement);
    show();
    LayerShell::ensureRole(this);
}

QRect DragStrip::frameFor(const QRect& screen, Qt::Edge edge)
{
    switch (edge) {
    case Qt::LeftEdge:
        return QRect(screen.left(), screen.top(), thickness, screen.height());
    case Qt::RightEdge:
        return QRect(screen.right() + 1 - thickness, screen.top(), thickness, screen.height());
    case Qt::TopEdge:
        return QRect(screen.left(), screen.top(), screen.width(), thickness);
    case Qt::BottomEdge:
        return QRect(screen.left(), screen.bottom() + 1 - thickness, screen.width(), thickness);
    }
    return {};
}

std::optional<Qt::Edge> DragStrip::edgeNamed(const QString& name)
{
    if (name == QLatin1String("left"))
        return Qt::LeftEdge;
    if (name == QLatin1String("right"))
        return Qt::RightEdge;
    if (name == QLatin1String("top"))
        return Qt::TopEdge;
    if (name == QLatin1String("bottom"))
        return Qt::BottomEdge;
    return std::nullopt;
}

void DragStrip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(QRect(QPoint(), size()), Qt::transparent);
}

} // namespace qv
