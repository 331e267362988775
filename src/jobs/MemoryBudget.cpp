#include "jobs/MemoryBudget.h"

#include <unistd.h>

#include <algorithm>

namespace qv {

MemoryBudget::MemoryBudget(qint64 limitBytes)
    : m_limit(std::max<qint64>(limitBytes, 1))
{
}

QUuid MemoryBudget::acquire(qint64 bytes, Grant grant)
{
    const QUuid id = QUuid::createUuid();
    if (bytes > 0) {
        std::lock_guard locker(m_mutex);
        const bool fits = m_holders == 0 || m_held + bytes <= m_limit;
        if (!m_waiters.empty() || !fits) {
            m_waiters.push_back({id, bytes, std::move(grant)});
            return id;
        }
        m_held += bytes;
        ++m_holders;
    }
    grant(true);
    return id;
}

std::deque<MemoryBudget::Grant> MemoryBudget::admit()
{
    std::deque<Grant> started;
    while (!m_waiters.empty()) {
        Waiter& first = m_waiters.front();
        if (m_holders > 0 && m_held + first.bytes > m_limit)
            break;
        m_held += first.bytes;
        ++m_holders;
        started.push_back(std::move(first.grant));
        m_waiters.pop_front();
    }
    return started;
}

void MemoryBudget::release(qint64 bytes)
{
    if (bytes <= 0)
        return;
    std::deque<Grant> started;
    {
        std::lock_guard locker(m_mutex);
        m_held = std::max<qint64>(m_held - bytes, 0);
        m_holders = std::max(m_holders - 1, 0);
        started = admit();
    }
    // Callbacks run outside the lock: they may acquire or release again.
    for (Grant& grant : started)
        grant(true);
}

void MemoryBudget::setLimit(qint64 limitBytes)
{
    std::deque<Grant> started;
    {
        std::lock_guard locker(m_mutex);
        m_limit = std::max<qint64>(limitBytes, 1);
        started = admit();
    }
    for (Grant& grant : started)
        grant(true);
}

void MemoryBudget::cancel(const QUuid& waiter)
{
    Grant cancelled;
    std::deque<Grant> started;
    {
        std::lock_guard locker(m_mutex);
        const auto it = std::find_if(m_waiters.begin(), m_waiters.end(),
                                     [&](const Waiter& w) { return w.id == waiter; });
        if (it == m_waiters.end())
            return;
        cancelled = std::move(it->grant);
        m_waiters.erase(it);
        // A large waiter that leaves may have held back smaller ones behind it.
        started = admit();
    }
    cancelled(false);
    for (Grant& grant : started)
        grant(true);
}

qint64 MemoryBudget::limit() const
{
    std::lock_guard locker(m_mutex);
    return m_limit;
}

qint64 MemoryBudget::held() const
{
    std::lock_guard locker(m_mutex);
    return m_held;
}

int MemoryBudget::waiterCount() const
{
    std::lock_guard locker(m_mutex);
    return int(m_waiters.size());
}

qint64 MemoryBudget::defaultLimitBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(1) << 30;
    return qint64(pages) * pageSize / 4;
}

} // namespace qv
