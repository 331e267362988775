#pragma once

#include "model/SharedEnums.h"

#include <QColor>

namespace qv {

// The colour scheme of one wheel in one appearance.
struct WheelPalette {
    WheelKind kind = WheelKind::convert;
    bool isDark = false;

    bool operator==(const WheelPalette&) const = default;
};

// The fill of a segment: the wheel's hue spread over ±8 degrees across the ring, deeper when
// highlighted.
QColor segmentColor(int index, int count, bool highlighted, const WheelPalette& palette);

} // namespace qv
