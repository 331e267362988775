#pragma once

#include <functional>

class QObject;

namespace qv {

// Runs the function on the main thread's event loop, after what is already queued there; with
// a context object, only if that object still exists by then. Safe from any thread. What the
// caller wrote before posting is visible to the function in a way ThreadSanitizer sees too:
// Qt's own queue synchronises where it cannot look.
void postToMainThread(std::function<void()> function);
void postToMainThread(const QObject* context, std::function<void()> function);

// Runs the work on a pool of threads for work that mostly waits; a higher priority goes ahead of
// waiting work, and the application waits for it as it ends. What the caller wrote before is
// visible to it, the sanitizer seeing so too.
void runInBackground(std::function<void()> work, int priority = 0);

} // namespace qv
