#include "engines/pdf/PagePixelBudget.h"

namespace qv {

bool PagePixelBudget::take(qint64 pixels, std::stop_token stop)
{
    std::unique_lock locker(m_lock);
    if (!m_free.wait(locker, stop, [&] { return m_used == 0 || m_used + pixels <= m_total; }))
        return false;
    m_used += pixels;
    return true;
}

void PagePixelBudget::give(qint64 pixels)
{
    {
        std::lock_guard locker(m_lock);
        m_used -= pixels;
    }
    m_free.notify_all();
}

} // namespace qv
