#include "graphics/Spring.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qv {

Spring Spring::withResponse(double response, double dampingFraction)
{
    // The natural frequency is 2π / response.
    const double omega = 2 * std::numbers::pi / std::max(response, 0.001);
    // Without any damping it would never settle.
    const double zeta = std::max(dampingFraction, 0.05);
    Spring spring;
    spring.from = 0;
    spring.to = 1;
    spring.mass = 1;
    spring.stiffness = omega * omega;
    spring.damping = 2 * zeta * omega;
    return spring;
}

double Spring::settlingDuration() const
{
    const double omega = std::sqrt(stiffness / mass);
    const double zeta = damping / (2 * std::sqrt(stiffness * mass));
    // The envelope of the swing, e^(-decay t), falls to a thousandth.
    const double decay = zeta < 1 ? zeta * omega : omega * (zeta - std::sqrt(zeta * zeta - 1));
    return std::log(1000.0) / decay;
}

double Spring::valueAt(double seconds) const
{
    if (seconds < 0)
        return from;
    const double omega = std::sqrt(stiffness / mass);
    const double zeta = damping / (2 * std::sqrt(stiffness * mass));
    const double x0 = from - to;
    if (zeta < 1) {
        const double omegaD = omega * std::sqrt(1 - zeta * zeta);
        const double envelope = std::exp(-zeta * omega * seconds);
        return to + envelope * x0 *
            (std::cos(omegaD * seconds) + zeta * omega / omegaD * std::sin(omegaD * seconds));
    }
    if (zeta > 1.001) {
        // Two real decay rates; the slower one dominates.
        const double root = omega * std::sqrt(zeta * zeta - 1);
        const double slow = -zeta * omega + root;
        const double fast = -zeta * omega - root;
        return to + x0 * (fast * std::exp(slow * seconds) - slow * std::exp(fast * seconds)) / (fast - slow);
    }
    // Critical damping, and near enough to it that the rates above would cancel badly.
    return to + x0 * std::exp(-omega * seconds) * (1 + omega * seconds);
}

} // namespace qv
