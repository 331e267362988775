#pragma once

namespace qv {

// A damped spring pulling a value from `from` to `to`: a mass on a spring of that stiffness
// with that damping. Critically damped by default.
struct Spring {
    double from = 0;
    double to = 1;
    double mass = 1;
    double stiffness = 100;
    double damping = 20;

    // A spring from 0 to 1 named the way interface animations name it: the response (seconds
    // of one undamped swing) and the damping fraction (1 = no overshoot).
    static Spring withResponse(double response, double dampingFraction);

    // Seconds until the envelope of the swing falls to a thousandth of the distance.
    double settlingDuration() const;
    // The value at a time after the start; `from` before it. An underdamped spring passes `to`
    // a little on the way.
    double valueAt(double seconds) const;
};

} // namespace qv
