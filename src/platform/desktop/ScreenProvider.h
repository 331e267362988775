#pragma once

#include <QList>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <Qt>

#include <optional>

namespace qv {

// One display. Both rectangles are in global coordinates measured from the bottom-left corner
// of the primary screen with y pointing up, the coordinates every placement rule is written in.
struct ScreenInfo {
    QRectF frame;
    QRectF visibleFrame; // without panels and docks
    double devicePixelRatio = 1.0;

    bool operator==(const ScreenInfo&) const = default;
};

// The displays and the pointer; tests give fake screens.
class ScreenProvider {
public:
    virtual ~ScreenProvider() = default;
    // In the system's order; the primary screen first.
    virtual QList<ScreenInfo> screens() const = 0;
    // The screen that counts as the main one; absent when there is no screen.
    virtual std::optional<ScreenInfo> mainScreen() const = 0;
    // The pointer, in y-up coordinates.
    virtual QPointF pointerLocation() const = 0;
    // Height of the primary screen: what turns y-up coordinates into Qt's and back.
    virtual double primaryHeight() const = 0;

    static const ScreenProvider& system();
};

// The first screen whose frame holds the point (the pointer when none is given), else the main
// screen, else the first one; absent when there is no screen at all.
std::optional<ScreenInfo> screenForPoint(std::optional<QPointF> point,
                                         const ScreenProvider& screens = ScreenProvider::system());

// Where a drag back end last saw the pointer, in Qt's coordinates, for sessions where Qt cannot
// read it (a Wayland client knows the pointer only over its own windows, and XWayland only over
// X11 windows): the system provider's pointer from then on. Nothing returns to Qt's reading.
void notePointerSeen(std::optional<QPoint> qtGlobal);
// Keeps the system provider's visible frames clear of a strip of ours along that edge of every
// screen, so that nothing is placed over it.
void reserveScreenEdge(std::optional<Qt::Edge> edge, int thickness);

} // namespace qv
