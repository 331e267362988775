#pragma once

#include <functional>

namespace qv::test {

// Runs the event loop until the condition holds; false when it did not within the time.
bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000);

} // namespace qv::test
