#pragma once

#include <functional>

class QObject;

namespace qv {

// Runs the function on the thread of the context object's event loop, after what is already
// queued there, unless the object is gone by then. Safe from any thread. What the caller wrote
// before posting is visible to the function in a way ThreadSanitizer sees too: Qt's own queue
// synchronises where it cannot look.
void postToThreadOf(const QObject* context, std::function<void()> function);

// The same, on the main thread.
void postToMainThread(std::function<void()> function);

} // namespace qv
