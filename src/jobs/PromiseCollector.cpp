#include "jobs/PromiseCollector.h"

namespace qv {

PromiseCollector::PromiseCollector(int expected, Completion completion)
    : m_remaining(expected)
    , m_completion(std::move(completion))
{
}

void PromiseCollector::add(const std::optional<QUrl>& url)
{
    QList<QUrl> delivered;
    {
        std::lock_guard locker(m_lock);
        if (url)
            m_urls.append(*url);
        if (--m_remaining > 0 || m_done)
            return;
        m_done = true;
        delivered = m_urls;
    }
    // Never called under the lock.
    m_completion(delivered);
}

void PromiseCollector::finish()
{
    QList<QUrl> delivered;
    {
        std::lock_guard locker(m_lock);
        if (m_done)
            return;
        m_done = true;
        delivered = m_urls;
    }
    m_completion(delivered);
}

bool PromiseCollector::abandon()
{
    std::lock_guard locker(m_lock);
    const bool wasPending = !m_done;
    m_done = true;
    return wasPending;
}

} // namespace qv
