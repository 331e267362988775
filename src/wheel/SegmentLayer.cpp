#include "wheel/SegmentLayer.h"

namespace qv {

namespace {

// The standard ease-out and ease-in curves of interface animation.
QEasingCurve bezier(double x1, double y1, double x2, double y2)
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(x1, y1), QPointF(x2, y2), QPointF(1, 1));
    return curve;
}

} // namespace

void SegmentLayer::configure(const WheelPalette& newPalette, int newIndex, int newCount)
{
    palette = newPalette;
    index = newIndex;
    count = newCount;
    fillColor = segmentColor(index, count, isHighlighted, palette);
}

std::optional<HighlightChange> SegmentLayer::setHighlighted(bool on, bool animated,
                                                            bool reduceMotion)
{
    if (isHighlighted == on)
        return std::nullopt;
    isHighlighted = on;
    const double targetScale = on && !reduceMotion ? highlightScale : 1;
    const QColor targetFill = segmentColor(index, count, on, palette);

    HighlightChange change;
    if (animated) {
        if (!reduceMotion)
            change.scale = Spring{scale, targetScale, 1, highlightStiffness, highlightDamping};
        change.fill = FillFade{fillColor, targetFill};
    }
    scale = targetScale;
    fillColor = targetFill;
    zPosition = on ? 1 : 0;
    return change;
}

std::optional<SegmentPulse> SegmentLayer::pulse(bool reduceMotion) const
{
    if (reduceMotion)
        return std::nullopt;
    SegmentPulse pulse;
    pulse.scales = {scale, 1.09, scale};
    pulse.easings = {bezier(0, 0, 0.58, 1), bezier(0.42, 0, 1, 1)};
    return pulse;
}

} // namespace qv
