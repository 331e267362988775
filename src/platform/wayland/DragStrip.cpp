#include "platform/wayland/DragStrip.h"

#include "platform/wayland/LayerShell.h"

#include <QRegion>
#include <QScreen>

namespace qv {

DragStrip::DragStrip(QScreen* screen)
    : ClearWindow(screen)
{
}

void DragStrip::showAlong(Qt::Edge edge)
{
    m_edge = edge;
    place();
}

void DragStrip::place()
{
    const Qt::Edge edge = *m_edge;
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
    // A strip that asked for the keyboard all the time would have it from the user's windows
    // (sway gives it to a surface that asks as it maps and keeps it there).
    placement.keys = m_takesKeys ? LayerKeys::onDemand : LayerKeys::none;
    placement.screen = screen();
    placement.clearOfPanels = true;
    LayerShell::setPlacement(this, placement);
    show();
    LayerShell::ensureRole(this);
    applyPointerInput();
}

void DragStrip::setTakesPointer(bool takes)
{
    if (takes == m_takesPointer)
        return;
    m_takesPointer = takes;
    if (isVisible())
        applyPointerInput();
}

void DragStrip::applyPointerInput()
{
    // Qt makes the mask the surface's input region, and no mask the whole surface; a surface
    // shown again starts whole whatever Qt last sent, so the mask is sent anew.
    setMask(QRegion());
    if (!m_takesPointer)
        setMask(QRegion(-1, -1, 1, 1)); // outside the strip: nothing of it
}

void DragStrip::setTakesKeys(bool takes)
{
    takes = takes && LayerShell::keysReachDragTarget();
    if (takes == m_takesKeys || !m_edge || !isVisible())
        return;
    m_takesKeys = takes;
    // KWin leaves the keyboard with a surface that stops asking for it, until it goes: the
    // strip goes and comes back, and the keyboard returns to the window that had it.
    if (!takes)
        hide();
    place();
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

} // namespace qv
