#pragma once

#include <QtGlobal>

#include <functional>

namespace qv::test {

// Runs the event loop until the condition holds; false when it did not within the time.
bool waitFor(const std::function<bool()>& condition, int milliseconds = 10000);

// Runs the event loop until the count has not changed for quietMs; false when it kept changing
// for the whole time.
bool waitForQuiet(const std::function<qsizetype()>& count, int quietMs, int milliseconds = 10000);

} // namespace qv::test
