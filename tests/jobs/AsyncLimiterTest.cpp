#include "jobs/AsyncLimiter.h"
#include "model/operations/Progress.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <atomic>
#include <thread>
#include <vector>

using namespace qv;

namespace {

// Records in which order waiters were granted or cancelled.
struct Log {
    QStringList events;
    AsyncLimiter::Grant waiter(const char* name)
    {
        return [this, name](bool granted) {
            events.append(QString::fromLatin1(name) + (granted ? "+" : "-"));
        };
    }
};

} // namespace

TEST(AsyncLimiter, HandsSlotsOverInArrivalOrder)
{
    AsyncLimiter limiter(2);
    Log log;
    limiter.acquire(log.waiter("a"));
    limiter.acquire(log.waiter("b"));
    limiter.acquire(log.waiter("c"));
    EXPECT_EQ(log.events, (QStringList{"a+", "b+"}));
    EXPECT_EQ(limiter.running(), 2);
    EXPECT_EQ(limiter.waiterCount(), 1);

    limiter.release();
    EXPECT_EQ(log.events.last(), QStringLiteral("c+"));
    EXPECT_EQ(limiter.running(), 2); // the slot passed straight on

    limiter.release();
    limiter.release();
    limiter.release(); // one too many never goes below zero
    EXPECT_EQ(limiter.running(), 0);
}

TEST(AsyncLimiter, RaisingAndLoweringTheLimit)
{
    AsyncLimiter limiter(1);
    Log log;
    limiter.acquire(log.waiter("run"));
    for (const char* name : {"w1", "w2", "w3", "w4"})
        limiter.acquire(log.waiter(name));

    limiter.setLimit(3);
    EXPECT_EQ(log.events, (QStringList{"run+", "w1+", "w2+"}));
    EXPECT_EQ(limiter.running(), 3);
    EXPECT_EQ(limiter.waiterCount(), 2);

    // Lowering stops nothing; surplus slots vanish as they are given back.
    limiter.setLimit(1);
    limiter.release();
    limiter.release();
    EXPECT_EQ(limiter.running(), 1);
    EXPECT_EQ(limiter.waiterCount(), 2);
    limiter.release();
    EXPECT_EQ(log.events.last(), QStringLiteral("w3+"));
    EXPECT_EQ(limiter.running(), 1);

    limiter.setLimit(0);
    EXPECT_EQ(limiter.limit(), 1);
    limiter.setLimit(-5);
    EXPECT_EQ(limiter.limit(), 1);
    EXPECT_EQ(AsyncLimiter(0).limit(), 1);
}

TEST(AsyncLimiter, CancellingAWaiter)
{
    AsyncLimiter limiter(1);
    Log log;
    limiter.acquire(log.waiter("run"));
    limiter.acquire(log.waiter("first"));
    const QUuid middle = limiter.acquire(log.waiter("middle"));
    limiter.acquire(log.waiter("third"));

    limiter.cancel(middle);
    EXPECT_EQ(log.events.last(), QStringLiteral("middle-"));
    limiter.cancel(middle); // a second cancel does nothing
    EXPECT_EQ(limiter.waiterCount(), 2);

    limiter.release();
    limiter.release();
    EXPECT_EQ(log.events, (QStringList{"run+", "middle-", "first+", "third+"}));

    // Cancelling after the grant changes nothing.
    const QUuid granted = limiter.acquire(log.waiter("late"));
    limiter.release();
    limiter.cancel(granted);
    EXPECT_EQ(log.events.last(), QStringLiteral("late+"));
}

TEST(AsyncLimiter, NeverExceedsItsLimitUnderContention)
{
    AsyncLimiter limiter(3);
    std::atomic<int> inside{0};
    std::atomic<int> maxInside{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                std::atomic<bool> held{false};
                limiter.acquire([&](bool) { held = true; });
                while (!held)
                    std::this_thread::yield();
                const int now = ++inside;
                int seen = maxInside.load();
                while (now > seen && !maxInside.compare_exchange_weak(seen, now)) {
                }
                --inside;
                limiter.release();
                ++done;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(done.load(), 1600);
    EXPECT_LE(maxInside.load(), 3);
    EXPECT_EQ(limiter.running(), 0);
}

TEST(Progress, ReportsNeverGoBackAndChildrenCount)
{
    auto child = std::make_shared<Progress>(1000);
    reportProgress(1.7, *child);
    EXPECT_EQ(child->completedUnitCount(), 1000);

    auto second = std::make_shared<Progress>(1000);
    reportProgress(0.5, *second);
    reportProgress(0.2, *second);
    EXPECT_EQ(second->completedUnitCount(), 500);
    reportProgress(-1, *second);
    EXPECT_EQ(second->completedUnitCount(), 500);
    reportProgress(0.5009, *second);
    EXPECT_EQ(second->completedUnitCount(), 500);

    Progress job(2000);
    job.addChild(child, 1000);
    job.addChild(second, 1000);
    EXPECT_DOUBLE_EQ(job.fractionCompleted(), 0.75);
    EXPECT_DOUBLE_EQ(Progress(0).fractionCompleted(), 0.0);
}
