#pragma once

#include "graphics/Spring.h"
#include "model/wheel/WheelSegmentModel.h"
#include "wheel/WheelPalette.h"

#include <QEasingCurve>

#include <optional>

namespace qv {

// A straight cross-fade of the fill.
struct FillFade {
    QColor from;
    QColor to;
    double duration = 0.1;
};

// The pulse on a chosen segment: up to 1.09 and back.
struct SegmentPulse {
    QList<double> scales;
    QList<double> keyTimes{0, 0.4, 1};
    double duration = 0.18;
    QList<QEasingCurve> easings; // ease-out, then ease-in
};

// What a highlight change asks the view to animate; the model values are already set.
struct HighlightChange {
    std::optional<Spring> scale;   // "hoverScale"
    std::optional<FillFade> fill; // "hoverFill"
};

// The state of one drawn segment or More-ring item, and the animations its changes play.
// The view owns the drawing; this says what to draw and how to move.
struct SegmentLayer {
    static constexpr double highlightScale = 1.04;
    // The spring the scale moves on: quick, with a little bounce.
    static constexpr double highlightStiffness = 700;
    static constexpr double highlightDamping = 32;
    static constexpr double lineWidth = 1;

    std::optional<WheelSegmentModel> model;
    bool isHighlighted = false;
    WheelPalette palette;
    int index = 0;
    int count = 1;

    // The model values the view draws once animations end.
    double scale = 1;
    QColor fillColor = segmentColor(0, 1, false, WheelPalette());
    int zPosition = 0; // a highlighted segment lies above its neighbours

    // Places the segment in its ring and recomputes its fill.
    void configure(const WheelPalette& newPalette, int newIndex, int newCount);

    // Nothing when the state does not change. With reduced motion the scale stays 1; the
    // fill still fades when animated.
    std::optional<HighlightChange> setHighlighted(bool on, bool animated, bool reduceMotion);

    // Nothing with reduced motion.
    std::optional<SegmentPulse> pulse(bool reduceMotion) const;
};

} // namespace qv
