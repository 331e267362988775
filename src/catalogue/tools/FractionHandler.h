#pragma once

#include <functional>

namespace qv {

// Told how far a long archive step has come, from 0 to 1; may throw to stop the step.
using FractionHandler = std::function<void(double fraction)>;

} // namespace qv
