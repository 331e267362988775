#include "model/operations/Progress.h"

#include <algorithm>
#include <cmath>

namespace qv {

void Progress::raiseCompletedUnitCount(qint64 completed)
{
    qint64 current = m_completed.load();
    while (completed > current && !m_completed.compare_exchange_weak(current, completed)) {
    }
}

void Progress::addChild(std::shared_ptr<Progress> child, qint64 pendingUnitCount)
{
    std::lock_guard locker(m_mutex);
    m_children.emplace_back(std::move(child), pendingUnitCount);
}

double Progress::fractionCompleted() const
{
    const qint64 total = m_total.load();
    if (total <= 0)
        return 0.0;
    double done = double(m_completed.load());
    {
        std::lock_guard locker(m_mutex);
        for (const auto& [child, pending] : m_children)
            done += child->fractionCompleted() * double(pending);
    }
    return std::clamp(done / double(total), 0.0, 1.0);
}

void reportProgress(double fraction, Progress& progress)
{
    if (std::isnan(fraction))
        return;
    const double clamped = std::clamp(fraction, 0.0, 1.0);
    progress.raiseCompletedUnitCount(qint64(std::floor(clamped * double(progress.totalUnitCount()))));
}

} // namespace qv
