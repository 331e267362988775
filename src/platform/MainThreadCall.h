#pragma once

#include <functional>

namespace qv {

// Runs the function on the main thread's event loop, after what is already queued there. Safe
// from any thread. What the caller wrote before posting is visible to the function, in a way
// ThreadSanitizer can see too: Qt's own queue synchronises where it cannot look.
void postToMainThread(std::function<void()> function);

} // namespace qv
