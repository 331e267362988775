#pragma once

#include <QUuid>

#include <deque>
#include <mutex>
#include <functional>

namespace qv {

// A counting semaphore whose waiters hold no thread: a waiter is a callback, started when a slot
// passes to it, oldest first. The limit may change while slots are held.
class AsyncLimiter {
public:
    // Called exactly once: true when the slot is held, false when the wait was cancelled.
    using Grant = std::function<void(bool granted)>;

    explicit AsyncLimiter(int limit);

    // Grants a free slot at once (calling `grant` before returning) or queues the caller;
    // returns the waiter's id for cancel().
    QUuid acquire(Grant grant);
    void release();
    void setLimit(int limit);
    // Gives up a waiter; nothing happens when it already holds its slot.
    void cancel(const QUuid& waiter);

    int limit() const;
    int running() const;
    int waiterCount() const;

private:
    struct Waiter {
        QUuid id;
        Grant grant;
    };

    mutable std::mutex m_mutex;
    int m_limit;
    int m_running = 0;
    std::deque<Waiter> m_waiters;
};

} // namespace qv
