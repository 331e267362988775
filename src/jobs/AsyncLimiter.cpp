#include "jobs/AsyncLimiter.h"

#include <algorithm>
#include <vector>

namespace qv {

AsyncLimiter::AsyncLimiter(int limit)
    : m_limit(std::max(limit, 1))
{
}

QUuid AsyncLimiter::acquire(Grant grant)
{
    const QUuid id = QUuid::createUuid();
    {
        std::lock_guard locker(m_mutex);
        if (m_running >= m_limit) {
            m_waiters.push_back({id, std::move(grant)});
            return id;
        }
        ++m_running;
    }
    grant(true);
    return id;
}

void AsyncLimiter::release()
{
    Grant next;
    {
        std::lock_guard locker(m_mutex);
        if (!m_waiters.empty() && m_running <= m_limit) {
            // The slot passes straight to the oldest waiter.
            next = std::move(m_waiters.front().grant);
            m_waiters.pop_front();
        } else {
            m_running = std::max(m_running - 1, 0);
        }
    }
    // Callbacks run outside the lock: they may acquire or release again.
    if (next)
        next(true);
}

void AsyncLimiter::setLimit(int limit)
{
    std::vector<Grant> started;
    {
        std::lock_guard locker(m_mutex);
        m_limit = std::max(limit, 1);
        while (m_running < m_limit && !m_waiters.empty()) {
            ++m_running;
            started.push_back(std::move(m_waiters.front().grant));
            m_waiters.pop_front();
        }
    }
    for (Grant& grant : started)
        grant(true);
}

void AsyncLimiter::cancel(const QUuid& waiter)
{
    Grant cancelled;
    {
        std::lock_guard locker(m_mutex);
        const auto it = std::find_if(m_waiters.begin(), m_waiters.end(),
                                     [&](const Waiter& w) { return w.id == waiter; });
        if (it == m_waiters.end())
            return;
        cancelled = std::move(it->grant);
        m_waiters.erase(it);
    }
    cancelled(false);
}

int AsyncLimiter::limit() const
{
    std::lock_guard locker(m_mutex);
    return m_limit;
}

int AsyncLimiter::running() const
{
    std::lock_guard locker(m_mutex);
    return m_running;
}

int AsyncLimiter::waiterCount() const
{
    std::lock_guard locker(m_mutex);
    return int(m_waiters.size());
}

} // namespace qv
