#include "jobs/MemoryBudget.h"

#include <gtest/gtest.h>

#include <vector>

using namespace qv;

namespace {

constexpr qint64 MB = 1 << 20;

} // namespace

TEST(MemoryBudget, AdmitsWhatFitsOldestFirstAndAlwaysOne)
{
    MemoryBudget budget(700 * MB);
    std::vector<int> started;
    const auto start = [&](int n) { return [&started, n](bool granted) { if (granted) started.push_back(n); }; };

    budget.acquire(400 * MB, start(1));
    budget.acquire(400 * MB, start(2)); // 800 MB would not fit
    budget.acquire(100 * MB, start(3)); // fits, yet does not pass the older waiter
    EXPECT_EQ(started, std::vector<int>{1});
    EXPECT_EQ(budget.held(), 400 * MB);
    EXPECT_EQ(budget.waiterCount(), 2);

    budget.release(400 * MB);
    EXPECT_EQ(started, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(budget.held(), 500 * MB);

    // Larger than the whole budget: it waits until nothing runs, then runs alone.
    budget.acquire(2000 * MB, start(4));
    EXPECT_EQ(started.size(), 3u);
    budget.release(400 * MB);
    EXPECT_EQ(started.size(), 3u);
    budget.release(100 * MB);
    EXPECT_EQ(started.back(), 4);
    EXPECT_EQ(budget.held(), 2000 * MB);
    budget.release(2000 * MB);
    EXPECT_EQ(budget.held(), 0);

    // An item that needs nothing counted is never held back.
    budget.acquire(900 * MB, start(5));
    budget.acquire(0, start(6));
    EXPECT_EQ(started.back(), 6);
}

TEST(MemoryBudget, CancelAndNewLimitsLetWaitersGo)
{
    MemoryBudget budget(500 * MB);
    std::vector<int> started;
    int cancelled = 0;
    const auto start = [&](int n) {
        return [&, n](bool granted) {
            if (granted)
                started.push_back(n);
            else
                ++cancelled;
        };
    };
    budget.acquire(300 * MB, start(1));
    const QUuid big = budget.acquire(400 * MB, start(2));
    budget.acquire(100 * MB, start(3));
    EXPECT_EQ(started, std::vector<int>{1});

    // The large waiter leaves: the small one behind it now fits.
    budget.cancel(big);
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(started, (std::vector<int>{1, 3}));
    budget.cancel(big);
    EXPECT_EQ(cancelled, 1);

    budget.acquire(300 * MB, start(4));
    EXPECT_EQ(budget.waiterCount(), 1);
    budget.setLimit(800 * MB);
    EXPECT_EQ(started.back(), 4);
    EXPECT_EQ(budget.held(), 700 * MB);
    EXPECT_GT(MemoryBudget::defaultLimitBytes(), 0);
}
