#pragma once

#include "platform/drags/ClearWindow.h"

#include <optional>

namespace qv {

// A thin, see-through window along one edge of a screen that a drag from another program
// passes over: on Wayland, the only place a client sees a drag it did not start. It accepts
// nothing, so a drop on it is no drop; what it sees, the drag source reads through the
// application's events.
class DragStrip : public ClearWindow {
    Q_OBJECT

public:
    explicit DragStrip(QScreen* screen);

    // Places the strip along the edge of its screen and shows it, without the keyboard.
    void showAlong(Qt::Edge edge);
    // Asks for the keyboard while a drag is over the strip, where the compositor then hands
    // it over (KWin), and gives it back; elsewhere the strip never asks for it.
    void setTakesKeys(bool takes);
    // Whether the pointer reaches the strip at all: where the desktop tells when a drag
    // begins, clicks pass through to the windows beneath until one does.
    void setTakesPointer(bool takes);
    bool takesPointer() const { return m_takesPointer; }

    // The strip's frame along that edge of a screen with this geometry (Qt's coordinates).
    static QRect frameFor(const QRect& screen, Qt::Edge edge);
    // "left", "right", "top" or "bottom"; nothing for "off" or another name.
    static std::optional<Qt::Edge> edgeNamed(const QString& name);

    // The pointer stops at a screen's edge, so a drag pushed there finds even a thin strip;
    // and a thin one takes little from the windows beside it (a scroll bar at the edge).
    static constexpr int thickness = 2;


private:
    void place();
    void applyPointerInput();

    std::optional<Qt::Edge> m_edge;
    bool m_takesKeys = false;
    bool m_takesPointer = true;
};

} // namespace qv
