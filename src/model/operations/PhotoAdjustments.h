#pragma once

namespace qv {

// The photo editor's adjustments. Default-constructed it is the neutral value, which changes
// nothing; the image engine skips the adjustment step for it.
struct PhotoAdjustments {
    double exposure = 0.0;
    double contrast = 1.0;
    double saturation = 1.0;
    double warmth = 0.0;
    double sharpness = 0.0;

    static PhotoAdjustments neutral() { return {}; }
    bool isNeutral() const { return *this == neutral(); }

    bool operator==(const PhotoAdjustments&) const = default;
};

} // namespace qv
