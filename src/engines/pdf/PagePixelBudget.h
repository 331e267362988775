#pragma once

#include <QtGlobal>

#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace qv {

// The page pictures that threads drawing one document may hold at once, in pixels: pages of
// ordinary size never wait, vast ones take turns rather than together exhausting the worker's
// memory. A page larger than the whole budget waits until it is alone.
class PagePixelBudget {
public:
    explicit PagePixelBudget(qint64 pixels) : m_total(pixels) {}

    // Takes a page's share; false when stopped before the pixels were free.
    bool take(qint64 pixels, std::stop_token stop);
    void give(qint64 pixels);

private:
    const qint64 m_total;
    std::mutex m_lock;
    std::condition_variable_any m_free;
    qint64 m_used = 0;
};

} // namespace qv
