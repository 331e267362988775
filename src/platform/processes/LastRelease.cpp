#include "platform/processes/LastRelease.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace qv {

namespace {

std::atomic<bool> g_endsWithItem{false};

struct Kept {
    std::mutex lock;
    std::shared_ptr<void> object;
};

Kept& kept()
{
    // Never destroyed: freeing it at exit is the work this saves.
    static auto* value = new Kept;
    return *value;
}

} // namespace

void LastRelease::endWithItem()
{
    g_endsWithItem = true;
}

void LastRelease::hand(std::shared_ptr<void> object)
{
    if (!g_endsWithItem)
        return;
    Kept& state = kept();
    std::shared_ptr<void> previous;
    {
        std::lock_guard locker(state.lock);
        previous = std::exchange(state.object, std::move(object));
    }
    // previous is freed here, outside the lock.
}

} // namespace qv
