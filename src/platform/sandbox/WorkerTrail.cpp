#include "platform/sandbox/WorkerTrail.h"

#include <mutex>

namespace qv {

namespace {

std::mutex& observerLock()
{
    static std::mutex lock;
    return lock;
}

WorkerTrail::Observer& currentObserver()
{
    // Never destroyed: a late item may still record during static destruction.
    static auto* observer = new WorkerTrail::Observer;
    return *observer;
}

} // namespace

void WorkerTrail::setObserver(Observer observer)
{
    std::lock_guard locker(observerLock());
    currentObserver() = std::move(observer);
}

void WorkerTrail::record(Kind kind, const QString& path)
{
    std::lock_guard locker(observerLock());
    if (currentObserver())
        currentObserver()(kind, path);
}

} // namespace qv
