#pragma once

#include <QUuid>

#include <deque>
#include <functional>
#include <mutex>

namespace qv {

// Bytes that the items running at once may need together. An item waits until its need fits
// beside what runs; one item always runs, however large, so nothing waits for ever. Waiters
// hold no thread and are served oldest first: a large item is not passed by small ones.
class MemoryBudget {
public:
    // Called exactly once: true when the bytes are held, false when the wait was cancelled.
    using Grant = std::function<void(bool granted)>;

    explicit MemoryBudget(qint64 limitBytes);

    // Grants at once (calling `grant` before returning) or queues the caller; returns the
    // waiter's id for cancel(). A need of 0 or less is granted at once and holds nothing.
    QUuid acquire(qint64 bytes, Grant grant);
    // Gives back what one acquire() of `bytes` holds.
    void release(qint64 bytes);
    void setLimit(qint64 limitBytes);
    // Gives up a waiter; nothing happens when it already holds its bytes.
    void cancel(const QUuid& waiter);

    qint64 limit() const;
    qint64 held() const;
    int waiterCount() const;

    // A quarter of the physical memory: the default limit.
    static qint64 defaultLimitBytes();

private:
    struct Waiter {
        QUuid id;
        qint64 bytes;
        Grant grant;
    };

    // Takes the waiters that now fit, oldest first; under m_mutex.
    std::deque<Grant> admit();

    mutable std::mutex m_mutex;
    qint64 m_limit;
    qint64 m_held = 0;
    int m_holders = 0;
    std::deque<Waiter> m_waiters;
};

} // namespace qv
