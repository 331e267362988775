#include "wheel/ui/PointerCatcher.h"

#include "platform/wayland/LayerShell.h"

#include <QDropEvent>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QRegion>
#include <QScreen>

namespace qv {

PointerCatcher::PointerCatcher(QScreen* screen)
    : ClearWindow(screen)
{
}

bool PointerCatcher::isNeeded()
{
    return LayerShell::isAvailable();
}

void PointerCatcher::cover()
{
    setGeometry(screen()->geometry());
    LayerPlacement placement;
    placement.anchors = Qt::TopEdge | Qt::BottomEdge | Qt::LeftEdge | Qt::RightEdge;
    placement.size = QSize(0, 0);
    // The wheel above it holds the keyboard.
    placement.keys = LayerKeys::none;
    placement.screen = screen();
    LayerShell::setPlacement(this, placement);
    show();
    LayerShell::ensureRole(this);
}

void PointerCatcher::leaveHole(const QRect& frame)
{
    setMask(QRegion(QRect(QPoint(), size())) - QRegion(frame.translated(-geometry().topLeft())));
    requestUpdate();
}

bool PointerCatcher::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Enter:
        Q_EMIT pointerSeen(mapToGlobal(static_cast<QEnterEvent*>(event)->position().toPoint()));
        break;
    case QEvent::MouseMove:
        Q_EMIT pointerSeen(mapToGlobal(static_cast<QMouseEvent*>(event)->position().toPoint()));
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        // A drag of the application's own passes over it too; a drop here takes nothing.
        event->ignore();
        Q_EMIT pointerSeen(mapToGlobal(static_cast<QDropEvent*>(event)->position().toPoint()));
        return true;
    case QEvent::MouseButtonPress:
        Q_EMIT pointerSeen(mapToGlobal(static_cast<QMouseEvent*>(event)->position().toPoint()));
        Q_EMIT pressed();
        return true;
    default:
        break;
    }
    return ClearWindow::event(event);
}

} // namespace qv
