#pragma once

#include <QPointF>
#include <QStringList>

class QPainter;

namespace qv {

// The looping picture of the gesture: a file dragged, Shift tapped, a wheel of formats under
// the pointer, the file dropped on "PNG", a converted copy appearing. Every frame is a pure
// function of the loop time and the canvas size.
struct DemoAnimation {
    QStringList titles; // the wheel's segments, segment 0 first
    double loop = 6.5;  // seconds

    // One frame on a w × h canvas (y down) at loop time t.
    void drawFrame(QPainter& painter, qreal w, qreal h, double t) const;
    // The pointer arrow with its tip at the point.
    static void drawPointer(QPainter& painter, QPointF tip, qreal opacity);
};

} // namespace qv
