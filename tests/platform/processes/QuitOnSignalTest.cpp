#include "platform/processes/QuitOnSignal.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QList>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>

using namespace qv;
using qv::test::waitFor;

namespace {

// The handlers of the termination signals are process-wide: put the old ones back.
class QuitOnSignalTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i)
            ::sigaction(signals[i], nullptr, &saved[i]);
    }
    void TearDown() override
    {
        quitOnTerminationSignals([](int) {});
        for (int i = 0; i < 3; ++i)
            ::sigaction(signals[i], &saved[i], nullptr);
    }

    const int signals[3] = {SIGTERM, SIGINT, SIGHUP};
    struct sigaction saved[3] {};
};

} // namespace

TEST_F(QuitOnSignalTest, EachSignalReachesTheHandlerOnTheEventLoop)
{
    QList<int> received;
    quitOnTerminationSignals([&](int signal) { received.append(signal); });
    for (int signal : signals) {
        received.clear();
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_TRUE(received.isEmpty()); // nothing runs inside the handler
        ASSERT_TRUE(waitFor([&] { return !received.isEmpty(); }, 5000)) << signal;
        EXPECT_EQ(received, QList<int>{signal});
    }
}

TEST_F(QuitOnSignalTest, AStormOfSignalsNeitherBlocksNorChangesErrno)
{
    int calls = 0;
    quitOnTerminationSignals([&](int) { ++calls; });
    // Far more signals than the pipe holds, with no event loop to empty it meanwhile: a
    // blocking write would hang the thread, and a failed write must not show in errno.
    std::atomic<bool> done{false};
    std::atomic<int> errnoChanged{0};
    std::thread storm([&] {
        for (int i = 0; i < 200000; ++i) {
            errno = EDOM;
            ::raise(SIGTERM);
            if (errno != EDOM)
                ++errnoChanged;
        }
        done = true;
    });
    for (int waited = 0; !done && waited < 30000; waited += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done.load()) << "the signal handler blocked";
    // Lets a blocked thread go on, so that it can be joined.
    waitFor([&] { return done.load(); }, 60000);
    storm.join();
    EXPECT_EQ(errnoChanged.load(), 0);

    ASSERT_TRUE(waitFor([&] { return calls > 0; }, 5000));
    // However many signals came, the handler ran for them at most a few times.
    waitFor([] { return false; }, 100);
    EXPECT_LE(calls, 2);
}
