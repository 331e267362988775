#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace qv {

// A thread-safe count of completed units out of a total. Children attached with a number of
// pending units contribute their own fraction of those units to their parent.
class Progress {
public:
    explicit Progress(qint64 totalUnits = 0) : m_total(totalUnits) {}

    qint64 totalUnitCount() const { return m_total.load(); }
    void setTotalUnitCount(qint64 total) { m_total.store(total); }
    qint64 completedUnitCount() const { return m_completed.load(); }
    void setCompletedUnitCount(qint64 completed) { m_completed.store(completed); }

    // Raises the completed count to `completed` unless it is already higher.
    void raiseCompletedUnitCount(qint64 completed);

    void addChild(std::shared_ptr<Progress> child, qint64 pendingUnitCount);

    // 0 to 1, children included.
    double fractionCompleted() const;

private:
    std::atomic<qint64> m_total;
    std::atomic<qint64> m_completed{0};
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::shared_ptr<Progress>, qint64>> m_children;
};

// The one progress call of every engine: raises the progress to the whole part of
// fraction (clamped to 0...1) times its total; never lowers it.
void reportProgress(double fraction, Progress& progress);

} // namespace qv
