#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/errors/EngineError.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ChildProcess.h"
#include "platform/sandbox/WorkerSandbox.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/RunningProcesses.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace qv;
using qv::test::processesRunning;
using qv::test::waitFor;

namespace {

const QString misbehave = QStringLiteral("test.misbehave");

// Every process whose command line is exactly these words.
class WorkerPoolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerDefaultSettings(store);
        store.setValue(SettingsKey::cpuJobs, 4);
        pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                            [](const QString& id) { return id == misbehave; }, 1);
        JobCenter::Services services;
        services.workers = pool.get();
        center = std::make_unique<JobCenter>(store, clock, services);
    }

    FileInfo file(const QString& name, const QByteArray& bytes)
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(name), bytes)));
    }

    JobPtr submit(const QList<FileInfo>& files)
    {
        OperationDescriptor d;
        d.id = misbehave;
        d.verb = QStringLiteral("Testing");
        d.categories = {FileCategory::document, FileCategory::other, FileCategory::image};
        d.multiFile = MultiFileMode::each;
        WheelEntry entry;
        entry.id = misbehave;
        entry.operations = {d};
        return center->submit(entry, files, {}, std::nullopt);
    }

    JobPtr runToEnd(const QList<FileInfo>& files)
    {
        JobPtr job = submit(files);
        EXPECT_TRUE(job);
        if (job) {
            EXPECT_TRUE(waitFor([&] { return !job->isActive(); }, 60000));
        }
        return job;
    }

    QStringList names() const { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot); }

    QTemporaryDir dir;
    SettingsStore store{QString()};
    test::FakeClock clock;
    std::unique_ptr<WorkerPool> pool;
    std::unique_ptr<JobCenter> center;
};

} // namespace

TEST_F(WorkerPoolTest, AnItemThatCrashesFailsAloneAndTheOthersFinish)
{
    const JobPtr job = runToEnd({file("a.txt", "one"), file("b.txt", "crash"), file("c.txt", "three")});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(job->failedCount(), 1);
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("This file couldn't be read"));
    EXPECT_TRUE(job->failure()->details.contains(QStringLiteral("signal 11"))) << job->failure()->details.toStdString();
    ASSERT_EQ(job->outputs().size(), 2);
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral("a (copied).txt"))), "one");
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral("c (copied).txt"))), "three");

    // An abort is a death like any other, and the road stays open for the next job.
    const JobPtr aborted = runToEnd({file("d.txt", "abort")});
    EXPECT_EQ(aborted->state(), Job::State::failed);
    EXPECT_TRUE(aborted->failure()->details.contains(QStringLiteral("signal 6")));
    const JobPtr after = runToEnd({file("e.txt", "five")});
    EXPECT_EQ(after->state(), Job::State::finished);
}

TEST_F(WorkerPoolTest, AProgramThatIsNoWorkerIsNeverHandedAnItem)
{
    // cat answers a ping with the ping itself.
    pool = std::make_unique<WorkerPool>(QStringLiteral("/bin/cat"), [](const QString& id) { return id == misbehave; }, 1);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    const JobPtr job = runToEnd({file("a.txt", "one")});
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("Quorvenda couldn't start a worker for this file"));
}

TEST_F(WorkerPoolTest, CancellingAHungItemKillsItsWorkerAndWhatItLeft)
{
    const int sleepersBefore = processesRunning(QByteArray("/bin/sleep\0" "3599\0", 16));
    // Names of this run alone: other runs may leave their results in the same temporary root.
    const QString a = QStringLiteral("a%1").arg(::getpid());
    const QString b = QStringLiteral("b%1").arg(::getpid());
    const JobPtr job = submit({file(a + QStringLiteral(".txt"), "place-then-hang"), file(b + QStringLiteral(".txt"), "child")});
    ASSERT_TRUE(job);
    // Both items have made their first result, which waits to be placed, and are stuck.
    const auto made = [](const QString& name) {
        QDirIterator it(TemporaryRoot::path(), {name}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        return it.hasNext();
    };
    ASSERT_TRUE(waitFor([&] {
        return made(a + QStringLiteral(" (first).txt")) && made(b + QStringLiteral(" (started).txt"))
            && processesRunning(QByteArray("/bin/sleep\0" "3599\0", 16)) > sleepersBefore;
    }, 60000));
    QElapsedTimer clock;
    clock.start();
    center->cancel(job);
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 10000));
    const qint64 took = clock.elapsed();
    EXPECT_EQ(job->state(), Job::State::cancelled);
    // At once on an idle machine (a few milliseconds); the bound only tells it from a hang.
    EXPECT_LE(took, 3000);
    EXPECT_EQ(names(), (QStringList{a + QStringLiteral(".txt"), b + QStringLiteral(".txt")}));
    EXPECT_FALSE(made(a + QStringLiteral(" (first).txt")));
    EXPECT_TRUE(waitFor([&] { return processesRunning(QByteArray("/bin/sleep\0" "3599\0", 16)) == sleepersBefore; }));
}

TEST_F(WorkerPoolTest, CancellingAsksTheWorkersProgramsBeforeKillingThem)
{
    // The program shows it was asked with SIGINT by what it runs; it may write nowhere we could look.
    const QByteArray number = QByteArray::number(::getpid());
    const QByteArray asked = QByteArray("sleep\0" "0.7\0", 10) + "0.0" + number + QByteArray("\0", 1);
    const int sleepersBefore = processesRunning(QByteArray("sleep\0" "3598\0", 11));
    const JobPtr job = submit({file("a.txt", "asked:" + number)});
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return processesRunning(QByteArray("sleep\0" "3598\0", 11)) > sleepersBefore; }, 60000));
    center->cancel(job);
    // FFmpeg's "q" is SIGINT: that comes first, and the program ends by itself.
    bool wasAsked = false;
    ASSERT_TRUE(waitFor([&] {
        wasAsked = wasAsked || processesRunning(asked) > 0;
        return !job->isActive();
    }, 10000));
    EXPECT_EQ(job->state(), Job::State::cancelled);
    EXPECT_TRUE(wasAsked || waitFor([&] { return processesRunning(asked) > 0; }, 5000));
    EXPECT_TRUE(waitFor([&] { return processesRunning(QByteArray("sleep\0" "3598\0", 11)) == sleepersBefore; }));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("a (started).txt"))));
}

TEST_F(WorkerPoolTest, AnItemThatAllocatesWithoutEndFailsWithASentence)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' shadow memory leaves no room for an address-space limit";
#endif
    store.setValue(SettingsKey::workerMemory, 512);
    const JobPtr job = runToEnd({file("a.txt", "allocate"), file("b.txt", "two")});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->failedCount(), 1);
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("This file couldn't be read"));
    EXPECT_TRUE(job->failure()->details.contains(QStringLiteral("512 MB"))) << job->failure()->details.toStdString();
    EXPECT_EQ(test::readFile(dir.filePath(QStringLiteral("b (copied).txt"))), "two");
}

TEST_F(WorkerPoolTest, AWorkerReachesNoNetworkAndWritesOnlyWhereResultsGo)
{
    const JobPtr network = runToEnd({file("a.txt", "connect")});
    ASSERT_TRUE(network->failure());
    EXPECT_EQ(network->failure()->message, QStringLiteral("No network"));

    if (WorkerSandbox::landlockAbi() == 0)
        GTEST_SKIP() << "this kernel has no Landlock";
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("planted.txt"));
    const JobPtr outside = runToEnd({file("b.txt", "write:" + target.toUtf8())});
    ASSERT_TRUE(outside->failure());
    EXPECT_EQ(outside->failure()->message, QStringLiteral("Refused"));
    EXPECT_FALSE(QFile::exists(target));
}

TEST_F(WorkerPoolTest, EveryItemRunsInAWorkerThatServedNoOtherItem)
{
    for (int i = 0; i < 5; ++i) {
        const JobPtr job = runToEnd({file(QStringLiteral("%1.txt").arg(i), "same")});
        EXPECT_EQ(job->state(), Job::State::finished);
    }
    EXPECT_GE(pool->startedCount(), 5);
    // None is kept for a later item; the warm ones never served one.
    EXPECT_TRUE(waitFor([&] { return pool->idleCount() >= 1; }, 60000));
    EXPECT_LE(pool->idleCount(), 1);
}

TEST_F(WorkerPoolTest, AOneShotRunAsksItsQuestionAndRunsItsItemInOneWorker)
{
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                        [](const QString& id) { return id == misbehave; }, 0);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    pool->startAhead(1);
    const qint64 limit = ChildProcess::memoryLimitForSetting(store.intValue(SettingsKey::workerMemory));
    const auto ask = [&](const FileInfo& about) {
        // The test worker answers no question; the worker that refused it is kept all the same.
        EXPECT_THROW(pool->call(QStringLiteral("header"), {{QStringLiteral("path"), about.path()}}, {}, limit),
                     EngineError);
    };
    const FileInfo plain = file("plain.txt", "same");
    ask(plain);
    EXPECT_EQ(runToEnd({plain})->state(), Job::State::finished);
    EXPECT_EQ(pool->startedCount(), 1);
    // The next file's question and item: a worker of their own, the first one ended with its item.
    const FileInfo hidden = file(".hidden.txt", "same");
    ask(hidden);
    EXPECT_EQ(runToEnd({hidden})->state(), Job::State::finished);
    EXPECT_EQ(pool->startedCount(), 2);
}

// A question limited in processor time (the wheel's look at a media file) is answered however
// long a busy machine keeps it waiting, and a worker that spins on it is still ended.
TEST_F(WorkerPoolTest, AQuestionLimitedInProcessorTimeWaitsForABusyMachineButNotForASpin)
{
    const qint64 memory = ChildProcess::memoryLimitForSetting(store.intValue(SettingsKey::workerMemory));
    using std::chrono::milliseconds;
    const QJsonObject answer =
        pool->call(QStringLiteral("rest"), {{QStringLiteral("ms"), 2000}}, {}, memory, WorkerPool::callLimit, milliseconds(500));
    EXPECT_TRUE(answer.value(QStringLiteral("rested")).toBool());
    try {
        pool->call(QStringLiteral("spin"), {}, {}, memory, WorkerPool::callLimit, milliseconds(500));
        ADD_FAILURE() << "a spinning worker answered";
    } catch (const EngineError& error) {
        // Ended for the processor time it used, not for the wait.
        EXPECT_TRUE(error.log().contains(QStringLiteral("processor time"))) << error.log().toStdString();
    }
}

// A question's limit is its worker's time: one kept waiting for a processor by other work on
// it is answered past the limit, while one that waits on nothing is ended at the limit.
TEST_F(WorkerPoolTest, AQuestionsLimitWaitsForAWorkerKeptWaitingByOtherWorkButNotForAnIdleOne)
{
    const qint64 memory = ChildProcess::memoryLimitForSetting(store.intValue(SettingsKey::workerMemory));
    using std::chrono::milliseconds;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(0, &one);
    // The workers start from a thread on the first processor at a lower priority, and inherit
    // both; two threads at the normal priority keep that processor busy meanwhile.
    std::unique_ptr<WorkerPool> starved;
    std::thread([&] {
        ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
        ASSERT_EQ(::setpriority(PRIO_PROCESS, 0, 5), 0);
        starved = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                               [](const QString&) { return false; }, 0);
        starved->startAhead(1);
    }).join();
    ASSERT_TRUE(starved);
    ASSERT_TRUE(waitFor([&] { return starved->idleCount() == 1; }, 60000));
    std::atomic<bool> done = false;
    std::vector<std::thread> busy;
    for (int i = 0; i < 2; ++i)
        busy.emplace_back([&] {
            ::sched_setaffinity(0, sizeof one, &one);
            while (!done)
                asm volatile("" ::: "memory");
        });
    const auto stopBusy = qScopeGuard([&] {
        done = true;
        for (std::thread& thread : busy)
            thread.join();
    });
    QElapsedTimer clock;
    clock.start();
    const QJsonObject answer =
        starved->call(QStringLiteral("work"), {{QStringLiteral("ms"), 400}}, {}, memory, milliseconds(1000));
    EXPECT_TRUE(answer.value(QStringLiteral("worked")).toBool());
    // Kept waiting at all, the old wall-clock limit would have ended it.
    EXPECT_GT(clock.elapsed(), 1000) << "the worker was not kept waiting";
    clock.restart();
    try {
        starved->call(QStringLiteral("rest"), {{QStringLiteral("ms"), 8000}}, {}, memory, milliseconds(1000));
        ADD_FAILURE() << "an idle worker answered past its limit";
    } catch (const EngineError& error) {
        EXPECT_TRUE(error.log().contains(QStringLiteral("did not answer in time"))) << error.log().toStdString();
    }
    EXPECT_LT(clock.elapsed(), 8000);
}

// A worker that will likely run an operation loads what it needs while it starts (the picture
// tools' libvips): the driver's first worker for the run's operation, and the workers started
// once an item of it runs. Its loading ends before the walls go up, which would refuse a thread
// still running.
TEST_F(WorkerPoolTest, WorkersLoadAheadForTheOperationTheyWillLikelyRunAndStillRunBehindTheirWalls)
{
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                        [](const QString& id) { return id == misbehave; }, 0);
    pool->setLoadAhead([](const QString& id) { return id == misbehave ? QByteArray("thread") : QByteArray(); });
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    const qint64 memory = ChildProcess::memoryLimitForSetting(store.intValue(SettingsKey::workerMemory));
    const auto ahead = [&] {
        pool->clear();
        return pool->call(QStringLiteral("ahead"), {}, {}, memory).value(QStringLiteral("ahead")).toString();
    };
    // Before any operation is known, nothing.
    EXPECT_EQ(ahead(), QString());
    pool->clear();
    const JobPtr job = runToEnd({file("first.txt", "same")});
    EXPECT_EQ(job->state(), Job::State::finished) << (job->failure() ? job->failure()->details.toStdString() : "");
    EXPECT_EQ(ahead(), QStringLiteral("thread"));
    // Told by the driver before its first item.
    pool->clear();
    pool->startAhead(1, QStringLiteral("test.other"));
    EXPECT_EQ(ahead(), QString());
}

// A JPEG 2000 decoder has read past what it filled: in a worker that served other items the read
// finds their leftovers and passes for pixels, so such an item gets a worker of its own.
TEST_F(WorkerPoolTest, ARiskyPictureGetsAWorkerOfItsOwnThatServesNoOther)
{
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                        [](const QString& id) { return id == misbehave; }, 0);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    const qint64 limit = ChildProcess::memoryLimitForSetting(store.intValue(SettingsKey::workerMemory));
    const FileInfo plain = file("plain.txt", "same");
    EXPECT_THROW(pool->call(QStringLiteral("header"), {{QStringLiteral("path"), plain.path()}}, {}, limit), EngineError);
    EXPECT_EQ(runToEnd({plain})->state(), Job::State::finished);
    EXPECT_EQ(pool->startedCount(), 1);
    // Not even the worker that answered its own header question.
    const FileInfo scan = file("scan.jp2", "same");
    EXPECT_THROW(pool->call(QStringLiteral("header"), {{QStringLiteral("path"), scan.path()}}, {}, limit), EngineError);
    EXPECT_EQ(pool->startedCount(), 2);
    EXPECT_EQ(runToEnd({scan})->state(), Job::State::finished);
    EXPECT_EQ(pool->startedCount(), 3);
    EXPECT_EQ(pool->idleCount(), 1);
}

TEST_F(WorkerPoolTest, IdleWorkersRetireTheLastWarmOneLastAndTheNextItemStillRuns)
{
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                        [](const QString& id) { return id == misbehave; }, 2);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    for (int i = 0; i < 3; ++i) {
        const JobPtr job = runToEnd({file(QStringLiteral("%1.txt").arg(i), "same")});
        EXPECT_EQ(job->state(), Job::State::finished);
    }
    ASSERT_TRUE(waitFor([&] { return pool->idleCount() >= 2; }, 60000));
    pool->setIdleLimit(std::chrono::milliseconds(500));
    ASSERT_TRUE(waitFor([&] { return pool->idleCount() <= 1; }, 30000)) << pool->idleCount() << " idle";
    // The one kept longest serves the next item.
    const JobPtr again = runToEnd({file("again.txt", "same")});
    EXPECT_EQ(again->state(), Job::State::finished);
    // Then none is left, and an item after that gets a worker of its own.
    ASSERT_TRUE(waitFor([&] { return pool->idleCount() == 0; }, 30000)) << pool->idleCount() << " idle";
    const JobPtr later = runToEnd({file("later.txt", "same")});
    EXPECT_EQ(later->state(), Job::State::finished);
}

TEST_F(WorkerPoolTest, AMissingWorkerFailsTheItemWithASentence)
{
    pool = std::make_unique<WorkerPool>(QStringLiteral("/nonexistent/quorvenda-worker"),
                                        [](const QString& id) { return id == misbehave; }, 0);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    const JobPtr job = runToEnd({file("a.txt", "one")});
    ASSERT_TRUE(job->failure());
    EXPECT_EQ(job->failure()->message, QStringLiteral("Quorvenda couldn't start a worker for this file"));
}

TEST_F(WorkerPoolTest, ADyingWorkerCannotHaveUsRemoveWhatIsNotItsToRemove)
{
    QTemporaryDir elsewhere;
    const QString victim = test::writeFile(elsewhere.filePath(QStringLiteral("victim.txt")), "keep");
    const QString neighbour = test::writeFile(dir.filePath(QStringLiteral("neighbour.txt")), "keep");
    // A link where results go, through to a folder the worker may not touch.
    ASSERT_TRUE(QFile::link(elsewhere.path(), dir.filePath(QStringLiteral("through"))));
    const QByteArray claims = "lie:" + victim.toUtf8() + "|" + dir.filePath(QStringLiteral("through/victim.txt")).toUtf8()
        + "|" + dir.filePath(QStringLiteral("../") + QFileInfo(elsewhere.path()).fileName() + QStringLiteral("/victim.txt")).toUtf8();
    // Nor what lies where it could not write either.
    const QString claimed = test::writeFile(dir.filePath(QStringLiteral("claimed.txt")), "made by it");
    const JobPtr job = runToEnd({file("a.txt", claims + "|" + claimed.toUtf8())});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(test::readFile(victim), "keep");
    EXPECT_EQ(test::readFile(neighbour), "keep");
    EXPECT_TRUE(QFile::exists(claimed));
}

TEST_F(WorkerPoolTest, AWorkerThatDiesLeavesTheOthersTheirTemporaryFolders)
{
    QTemporaryDir cache;
    const QByteArray saved = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    const auto restore = qScopeGuard([&] { qputenv("XDG_CACHE_HOME", saved); });
    pool = std::make_unique<WorkerPool>(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_worker"),
                                        [](const QString& id) { return id == misbehave; }, 2);
    JobCenter::Services services;
    services.workers = pool.get();
    center = std::make_unique<JobCenter>(store, clock, services);
    pool->warmUp();
    ASSERT_TRUE(waitFor([&] { return pool->startedCount() >= 2; }, 60000));
    const auto workerFolders = [] {
        return QDir(TemporaryRoot::path())
            .entryList({QStringLiteral(".quorvenda-work-*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    };
    const QStringList warm = workerFolders();
    ASSERT_EQ(warm.size(), 2);

    // The death's sweep takes what the dead worker left, not the folder of the one still waiting.
    const JobPtr crashed = runToEnd({file("a.txt", "crash")});
    EXPECT_EQ(crashed->failedCount(), 1);
    const QStringList after = workerFolders();
    EXPECT_EQ(std::count_if(warm.begin(), warm.end(), [&](const QString& name) { return after.contains(name); }), 1)
        << after.join(u' ').toStdString();
    const JobPtr next = runToEnd({file("b.txt", "two")});
    EXPECT_EQ(next->state(), Job::State::finished);
    pool.reset();
    center.reset();
}
