#pragma once

namespace qv {

// A damped spring from 0 to 1, named the way interface animations name it: the response
// (seconds of one undamped swing) and the damping fraction (1 = no overshoot).
struct Spring {
    double response = 0.3;
    double dampingFraction = 0.85;

    // 0 at the start, 1 once settled; an underdamped spring passes 1 a little on the way.
    double valueAt(double seconds) const;
    // Seconds until the swing stays within about a thousandth of the distance.
    double settlingDuration() const;
};

} // namespace qv
