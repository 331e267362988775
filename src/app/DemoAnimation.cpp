#include "app/DemoAnimation.h"

#include <QPainter>

namespace qv {

void DemoAnimation::drawFrame(QPainter& painter, qreal w, qreal h, double t) const
{
    Q_UNUSED(painter);
    Q_UNUSED(w);
    Q_UNUSED(h);
    Q_UNUSED(t);
}

void DemoAnimation::drawPointer(QPainter& painter, QPointF tip, qreal opacity)
{
    Q_UNUSED(painter);
    Q_UNUSED(tip);
    Q_UNUSED(opacity);
}

} // namespace qv
