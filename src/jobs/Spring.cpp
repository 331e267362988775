#include "jobs/Spring.h"

#include "wheel/SegmentLayer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv {

namespace {

// The same unit-mass spring the wheel's segments use, with stiffness and damping taken from
// the natural frequency 2π / response and the damping ratio.
ScaleSpring unitSpring(const Spring& spring)
{
    const double response = std::max(spring.response, 0.001);
    const double omega = 2 * std::numbers::pi / response;
    // Without any damping it would never settle.
    const double zeta = std::max(spring.dampingFraction, 0.05);
    ScaleSpring s;
    s.from = 0;
    s.to = 1;
    s.mass = 1;
    s.stiffness = omega * omega;
    s.damping = 2 * zeta * omega;
    return s;
}

} // namespace

double Spring::valueAt(double seconds) const
{
    if (seconds <= 0)
        return 0;
    return unitSpring(*this).valueAt(seconds);
}

double Spring::settlingDuration() const
{
    return unitSpring(*this).settlingDuration();
}

} // namespace qv
