#include "jobs/JobCenter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/files/NativeFileName.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/files/JobJournal.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/LogCapture.h"
#include "support/TestFiles.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <sys/stat.h>
#include <csignal>
#include <poll.h>
#include <thread>

using namespace qv;
using qv::test::waitFor;

namespace {

struct RecordingServices : JobPresenter, StatusIndicator, SoundPlayer, JobNotifier, Clipboard, Workspace {
    QList<FeedbackSound> sounds;
    QStringList events;
    QString clipboard;
    QList<QUrl> opened;
    QList<QUrl> revealed;
    int notified = 0;

    void show(const JobPtr& job) override { events.append(QStringLiteral("show ") + job->title()); }
    void remove(const JobPtr& job) override { events.append(QStringLiteral("remove ") + job->title()); }
    void jobFinished(const JobPtr& job) override { events.append(QStringLiteral("finished ") + job->title()); }
    void play(FeedbackSound sound) override { sounds.append(sound); }
    void postJobFinished(const JobPtr&) override { ++notified; }
    void setText(const QString& text) override { clipboard = text; }
    void setFiles(const QList<QUrl>&) override {}
    bool open(const QUrl& url) override
    {
        opened.append(url);
        return true;
    }
    void reveal(const QList<QUrl>& urls) override { revealed += urls; }
};

// Writes one small result per input through the planner.
using Body = std::function<QList<QUrl>(const OperationContext&, const QList<QUrl>&, OutputPlanner&,
                                       Progress&)>;

OperationDescriptor fakeOperation(const char* id, Body body, MultiFileMode mode = MultiFileMode::each)
{
    OperationDescriptor d;
    d.id = QString::fromLatin1(id);
    d.verb = QStringLiteral("Testing");
    d.categories = {FileCategory::document, FileCategory::image};
    d.multiFile = mode;
    d.make = [body](const OperationContext& context) -> std::shared_ptr<FileOperation> {
        return std::make_shared<BlockOperation>(
            [body, context](const QList<QUrl>& inputs, OutputPlanner& planner, Progress& progress) {
                return body(context, inputs, planner, progress);
            });
    };
    return d;
}

QList<QUrl> writeResult(OutputPlanner& planner, const QString& text = QStringLiteral("result"))
{
    const QUrl work = planner.workURL(QStringLiteral("txt"), QStringLiteral("out"));
    test::writeFile(work.toLocalFile(), text.toUtf8());
    return {planner.deliver(work, planner.outputBaseName(QStringLiteral("done")), QStringLiteral("txt"))};
}

class JobCenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerDefaultSettings(store);
        store.setValue(SettingsKey::cpuJobs, 4);
        center = std::make_unique<JobCenter>(
            store, clock,
            JobCenter::Services{&services, &services, &services, &services, &services, &services});
    }

    FileInfo file(const QString& name, const QByteArray& bytes = "input")
    {
        return fileInfoForURL(QUrl::fromLocalFile(test::writeFile(dir.filePath(name), bytes)));
    }

    JobPtr runToEnd(const QList<OperationDescriptor>& ops, const QList<FileInfo>& files,
                    const OperationOptions& options = {})
    {
        WheelEntry entry;
        entry.id = QStringLiteral("entry");
        entry.operations = ops;
        JobPtr job = center->submit(entry, files, options, QPointF(10, 10));
        if (job) {
            EXPECT_TRUE(waitFor([&] { return !job->isActive(); }));
        }
        return job;
    }

    QTemporaryDir dir;
    SettingsStore store{QString()};
    test::FakeClock clock;
    RecordingServices services;
    std::unique_ptr<JobCenter> center;
};

} // namespace

TEST_F(JobCenterTest, GroupsFilesIntoWorkItems)
{
    const auto noop = [](auto&&...) { return QList<QUrl>{}; };
    OperationDescriptor each = fakeOperation("tool.image.each", noop);
    each.accepts = [](const FileInfo& f) { return f.ext == QLatin1String("png"); };
    OperationDescriptor merge = fakeOperation("tool.document.merge", noop, MultiFileMode::combine);
    merge.categories = {FileCategory::document};
    merge.accepts = [](const FileInfo& f) { return f.ext == QLatin1String("txt"); };
    const auto names = [](const JobCenter::WorkItem& item) {
        QStringList list;
        for (const FileInfo& f : item.files)
            list.append(f.name);
        return list;
    };

    WheelEntry entry;
    entry.operations = {merge, each};
    const FileInfo b = file(QStringLiteral("b.txt"));
    const FileInfo a10 = file(QStringLiteral("a10.txt"));
    const FileInfo a2 = file(QStringLiteral("a2.txt"));
    const FileInfo png = file(QStringLiteral("p.png"));
    FileInfo stray = file(QStringLiteral("s.mp3"));

    QList<JobCenter::WorkItem> items = JobCenter::workItems(entry, {b, png, a10, stray, a2, png}, {});
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0].descriptor.id, QStringLiteral("tool.document.merge"));
    EXPECT_EQ(names(items[0]), (QStringList{"a2.txt", "a10.txt", "b.txt"}));
    EXPECT_EQ(items[1].descriptor.id, QStringLiteral("tool.image.each"));
    EXPECT_EQ(names(items[2]), QStringList{"p.png"});

    OperationOptions order;
    order.fileOrder = QList<QUrl>{a2.url, b.url};
    items = JobCenter::workItems(entry, {b, a10, a2}, order);
    EXPECT_EQ(names(items[0]), (QStringList{"a2.txt", "b.txt", "a10.txt"}));

    // Nothing accepted: no job at all.
    WheelEntry audioOnly;
    audioOnly.operations = {merge};
    EXPECT_EQ(center->submit(audioOnly, {stray}, {}, std::nullopt), nullptr);
    EXPECT_TRUE(center->jobs().isEmpty());
}

TEST_F(JobCenterTest, ReportsOutputsInItemOrderAndNamesResultsBesideTheSource)
{
    // Items finish in the order 2, 0, 1.
    std::atomic<int> finished{-1};
    const QList<int> after{2, 0, -1};
    OperationDescriptor op = fakeOperation("tool.document.write", [&](const OperationContext& ctx,
                                                                     const QList<QUrl>&, OutputPlanner& planner,
                                                                     Progress& progress) {
        const int index = ctx.files.first().baseName.toInt();
        const int waitFor = index == 0 ? 2 : index == 1 ? 0 : -1;
        while (waitFor >= 0 && finished.load() != waitFor)
            std::this_thread::yield();
        reportProgress(0.5, progress);
        QList<QUrl> out = writeResult(planner);
        finished = index;
        return out;
    });
    test::LogCapture log;
    const JobPtr job = runToEnd({op}, {file("0.txt"), file("1.txt"), file("2.txt")});
    ASSERT_TRUE(job);
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.jobs"), QStringLiteral("Started Testing on 3 item(s)")));
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.jobs"),
                             QStringLiteral("Finished Testing: 3 output(s), 0 failure(s), cancelled false")));
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(job->fileCount(), 3);
    EXPECT_EQ(job->progress().totalUnitCount(), 3000);
    ASSERT_EQ(job->outputs().size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(job->outputs()[i].fileName(), QStringLiteral("%1 (done).txt").arg(i));
    EXPECT_DOUBLE_EQ(job->fraction(), 1.0);
    EXPECT_EQ(services.sounds, QList<FeedbackSound>{FeedbackSound::success});
    EXPECT_EQ(services.events, (QStringList{"show Testing", "finished Testing"}));
    EXPECT_TRUE(center->jobs().isEmpty());
    EXPECT_FALSE(center->isTicking());
    // Nothing is left in the source folder but inputs and results.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).size(), 6);
}

TEST_F(JobCenterTest, FinalStates)
{
    const OperationDescriptor fails = fakeOperation("tool.document.fail", [](auto&&...) -> QList<QUrl> {
        throw EngineError(QStringLiteral("This file is broken"), QStringLiteral("trace"));
    });
    const OperationDescriptor note = fakeOperation("tool.document.note", [](const OperationContext& ctx, auto&&...) {
        ctx.notes->addMessage(QStringLiteral("Nothing to do"));
        ctx.notes->addClipboardText(ctx.files.first().name);
        return QList<QUrl>{};
    });
    const OperationDescriptor failsWithNote =
        fakeOperation("tool.document.noteThenFail", [](const OperationContext& ctx, auto&&...) -> QList<QUrl> {
            ctx.notes->addMessage(QStringLiteral("Tried"));
            throw EngineError(QStringLiteral("No luck"));
        });
    OperationDescriptor nothing = fakeOperation("tool.document.nothing", {});
    nothing.make = nullptr;

    JobPtr job = runToEnd({fails}, {file("a.txt")});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->failure()->message, QStringLiteral("This file is broken"));
    EXPECT_EQ(job->failedCount(), 1);
    EXPECT_EQ(services.sounds.last(), FeedbackSound::failure);

    // Messages are a result of their own.
    job = runToEnd({note}, {file("x.txt"), file("y.txt")});
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(job->messages().size(), 2);
    EXPECT_EQ(services.clipboard.split(QStringLiteral("\n\n")).size(), 2);
    EXPECT_FALSE(services.clipboard.endsWith(QLatin1Char('\n')));

    // Every item failed: failed, even though an item left a message.
    job = runToEnd({failsWithNote}, {file("z.txt")});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->messages(), QStringList{QStringLiteral("Tried")});

    job = runToEnd({nothing}, {file("n.txt")});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->failure()->message, QStringLiteral("This operation has nothing to run"));

    // A file removed after the drop: its reader's complaint is not the cause.
    const OperationDescriptor vanishes = fakeOperation("tool.document.vanish", [](const OperationContext& ctx, auto&&...) -> QList<QUrl> {
        QFile::remove(ctx.files.first().path());
        throw EngineError(QStringLiteral("This file is damaged or not in a supported format"));
    });
    job = runToEnd({vanishes}, {file("gone.txt")});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->failure()->message, QStringLiteral("The file is no longer there"));

    // One success among failures: finished, with the first failure kept.
    const OperationDescriptor mixed = fakeOperation("tool.document.mixed", [](const OperationContext& ctx, auto&&,
                                                                              OutputPlanner& planner, auto&&) {
        if (ctx.files.first().baseName == QLatin1String("bad"))
            throw EngineError(QStringLiteral("Bad one"));
        return writeResult(planner);
    });
    job = runToEnd({mixed}, {file("good.txt"), file("bad.txt")});
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(job->outputs().size(), 1);
    EXPECT_EQ(job->failure()->message, QStringLiteral("Bad one"));
    // What each file became, in the items' order, for the details window.
    ASSERT_EQ(job->itemOutcomes().size(), 2);
    EXPECT_EQ(job->itemOutcomes()[0].inputs, QStringList{QStringLiteral("good.txt")});
    EXPECT_EQ(job->itemOutcomes()[0].outputs, job->outputs());
    EXPECT_FALSE(job->itemOutcomes()[0].failure);
    EXPECT_EQ(job->itemOutcomes()[1].inputs, QStringList{QStringLiteral("bad.txt")});
    EXPECT_TRUE(job->itemOutcomes()[1].outputs.isEmpty());
    EXPECT_EQ(job->itemOutcomes()[1].failure->message, QStringLiteral("Bad one"));
}

// Two files said different things: each keeps its own sentence, and the job has both.
TEST_F(JobCenterTest, EachFileKeepsWhatWasSaidOfIt)
{
    const OperationDescriptor compress = fakeOperation("tool.document.say", [](const OperationContext& ctx, auto&&...) {
        ctx.notes->addMessage(ctx.files.first().baseName == QLatin1String("small") ? QStringLiteral("Already as small as it gets")
                                                                                  : QStringLiteral("26 % smaller"));
        return QList<QUrl>{};
    });
    const JobPtr job = runToEnd({compress}, {file("big.txt"), file("small.txt")});
    ASSERT_EQ(job->itemOutcomes().size(), 2);
    EXPECT_EQ(job->itemOutcomes()[0].messages, QStringList{QStringLiteral("26 % smaller")});
    EXPECT_EQ(job->itemOutcomes()[1].messages, QStringList{QStringLiteral("Already as small as it gets")});
    EXPECT_EQ(job->messages().size(), 2);
}

TEST_F(JobCenterTest, EndOfJobStepsFollowTheSettings)
{
    const OperationDescriptor slow = fakeOperation("tool.document.slow", [this](auto&&, auto&&,
                                                                             OutputPlanner& planner, auto&&) {
        clock.advance(10500);
        return writeResult(planner);
    });
    store.setValue(SettingsKey::openResult, true);
    store.setValue(SettingsKey::revealResult, true);
    store.setValue(SettingsKey::showHUD, false);
    JobPtr job = runToEnd({slow}, {file("a.txt")});
    EXPECT_EQ(services.notified, 1);
    EXPECT_EQ(services.opened, QList<QUrl>{job->outputs().first()});
    EXPECT_EQ(services.revealed, job->outputs());
    // HUD off, no failure, no message: the HUD hears nothing.
    EXPECT_TRUE(services.events.isEmpty());

    const OperationDescriptor exact = fakeOperation("tool.document.exact", [this](auto&&, auto&&,
                                                                               OutputPlanner& planner, auto&&) {
        clock.advance(10000);
        return writeResult(planner);
    });
    // With the pills on, a job of 10 s exactly is told of by its pill alone.
    store.setValue(SettingsKey::showHUD, true);
    runToEnd({exact}, {file("b.txt")});
    EXPECT_EQ(services.notified, 1);
    // With them off, even a quick job is told of: a notification, since no pill will.
    store.setValue(SettingsKey::showHUD, false);
    services.events.clear();
    const OperationDescriptor quick = fakeOperation("tool.document.quick", [](auto&&, auto&&, OutputPlanner& planner,
                                                                               auto&&) { return writeResult(planner); });
    runToEnd({quick}, {file("c.txt")});
    EXPECT_EQ(services.notified, 2);
    EXPECT_TRUE(services.events.isEmpty());

    // A quick result that lacks part of its input is told of beside its pill, as a pill's line
    // is too short for the note.
    store.setValue(SettingsKey::showHUD, true);
    const OperationDescriptor lossy = fakeOperation("tool.document.lossy", [](auto&&, auto&&, OutputPlanner& planner,
                                                                               auto&&) {
        planner.notes()->addMessage(QStringLiteral("d.xlsx has 2 sheets: only the first, \u201CA\u201D, was converted."));
        return writeResult(planner);
    });
    runToEnd({lossy}, {file("d.txt")});
    EXPECT_EQ(services.notified, 3);
}

TEST_F(JobCenterTest, RecentResultsKeepTheNewestTen)
{
    QList<QUrl> urls;
    for (int i = 0; i < 12; ++i)
        urls.append(QUrl::fromLocalFile(QStringLiteral("/r/%1").arg(i)));
    for (int i = 0; i < 11; ++i)
        center->rememberRecent({urls[i]});
    EXPECT_EQ(center->recent().size(), 10);
    EXPECT_EQ(center->recent().first(), urls[10]);
    EXPECT_FALSE(center->recent().contains(urls[0]));

    center->rememberRecent({urls[5]});
    EXPECT_EQ(center->recent().first(), urls[5]);
    EXPECT_EQ(center->recent().size(), 10);

    const QStringList stored = *store.stringListValue(SettingsKey::recentResults);
    EXPECT_EQ(stored.size(), 10);
    EXPECT_EQ(stored.first(), QStringLiteral("/r/5"));

    // A new centre reads them back.
    JobCenter again(store, clock);
    EXPECT_EQ(again.recent(), center->recent());

    center->clearRecent();
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::recentResults));
}

TEST_F(JobCenterTest, LaneLimitsFollowTheSettings)
{
    store.setValue(SettingsKey::cpuJobs, 1);
    EXPECT_EQ(center->limiter(JobLane::cpu).limit(), 1);

    std::atomic<int> running{0};
    std::atomic<bool> go{false};
    const OperationDescriptor hold = fakeOperation("tool.document.hold", [&](auto&&...) {
        ++running;
        while (!go)
            std::this_thread::yield();
        return QList<QUrl>{};
    });
    WheelEntry entry;
    entry.operations = {hold};
    const JobPtr job = center->submit(entry, {file("1.txt"), file("2.txt"), file("3.txt"), file("4.txt")}, {},
                                      std::nullopt);
    ASSERT_TRUE(waitFor([&] { return running == 1; }));
    EXPECT_EQ(center->limiter(JobLane::cpu).waiterCount(), 3);

    store.setValue(SettingsKey::cpuJobs, 3);
    ASSERT_TRUE(waitFor([&] { return running == 3; }));
    EXPECT_EQ(center->limiter(JobLane::cpu).waiterCount(), 1);

    store.setValue(SettingsKey::accentColor, QStringLiteral("#000000"));
    EXPECT_EQ(center->limiter(JobLane::cpu).limit(), 3);
    EXPECT_EQ(center->limiter(JobLane::external).limit(), 1);

    go = true;
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
    EXPECT_EQ(center->limiter(JobLane::cpu).running(), 0);
}

TEST_F(JobCenterTest, ItemsRunWhileTheirMemoryFitsTheBudget)
{
    store.setValue(SettingsKey::cpuJobs, 4);
    store.setValue(SettingsKey::batchMemory, 1000);
    EXPECT_EQ(center->memoryBudget().limit(), 1000LL << 20);
    JobCenter::Services withNeeds{&services, &services, &services, &services, &services, &services};
    // Each item says it needs 400 MB: two fit at once, whatever the lane allows.
    withNeeds.memoryNeed = [](const JobCenter::WorkItem&, std::stop_token) { return qint64(400) << 20; };
    center->setServices(withNeeds);

    std::atomic<int> running{0};
    std::atomic<int> most{0};
    std::atomic<bool> go{false};
    const OperationDescriptor hold = fakeOperation("tool.image.hold", [&](auto&&...) {
        most = std::max(most.load(), ++running);
        while (!go)
            std::this_thread::yield();
        --running;
        return QList<QUrl>{};
    });
    WheelEntry entry;
    entry.operations = {hold};
    const JobPtr job = center->submit(entry, {file("1.png"), file("2.png"), file("3.png"), file("4.png")}, {},
                                      std::nullopt);
    ASSERT_TRUE(waitFor([&] { return running == 2 && center->memoryBudget().waiterCount() == 2; }));
    EXPECT_EQ(center->memoryBudget().held(), qint64(800) << 20);

    // A larger budget lets the waiting items in at once.
    store.setValue(SettingsKey::batchMemory, 2000);
    ASSERT_TRUE(waitFor([&] { return running == 4; }));
    go = true;
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_EQ(center->memoryBudget().held(), 0);
    EXPECT_EQ(center->limiter(JobLane::cpu).running(), 0);

    // A cancel gives up the items waiting for memory and the lane slots they held.
    store.setValue(SettingsKey::batchMemory, 500);
    go = false;
    most = 0;
    const JobPtr second = center->submit(entry, {file("5.png"), file("6.png"), file("7.png")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return running == 1 && center->memoryBudget().waiterCount() == 2; }));
    center->cancel(second);
    go = true;
    ASSERT_TRUE(waitFor([&] { return !second->isActive(); }));
    EXPECT_EQ(second->state(), Job::State::cancelled);
    EXPECT_EQ(most.load(), 1);
    EXPECT_EQ(center->memoryBudget().held(), 0);
    EXPECT_EQ(center->memoryBudget().waiterCount(), 0);
    EXPECT_EQ(center->limiter(JobLane::cpu).running(), 0);
}

TEST_F(JobCenterTest, CancellingStopsChildProgramsAndWaitingItems)
{
    store.setValue(SettingsKey::cpuJobs, 1);
    std::atomic<pid_t> childStarted{0};
    std::atomic<int> ran{0};
    QString workFolder;
    const OperationDescriptor sleeper = fakeOperation("tool.document.sleep", [&](const OperationContext& ctx,
                                                                               auto&&, OutputPlanner& planner,
                                                                               auto&&) -> QList<QUrl> {
        ++ran;
        workFolder = planner.workDirectory().toLocalFile();
        childStarted = 1;
        ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sleep")), {QStringLiteral("100")},
                           ctx.stopToken);
        return writeResult(planner);
    });
    WheelEntry entry;
    entry.operations = {sleeper};
    const JobPtr job = center->submit(entry, {file("1.txt"), file("2.txt"), file("3.txt")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return childStarted != 0; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    QElapsedTimer timer;
    timer.start();
    center->cancel(job);
    // The sleeper would hold the job for its whole sleep; the bound only tells a cancel from it.
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 10000));
    EXPECT_EQ(job->state(), Job::State::cancelled);
    EXPECT_EQ(ran.load(), 1); // the waiting items never ran
    EXPECT_TRUE(services.sounds.isEmpty());
    EXPECT_EQ(center->limiter(JobLane::cpu).running(), 0);
    EXPECT_EQ(center->limiter(JobLane::cpu).waiterCount(), 0);
    EXPECT_FALSE(workFolder.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(workFolder));
    // Cancelling an ended job does nothing.
    center->cancel(job);
    EXPECT_EQ(job->state(), Job::State::cancelled);
}

TEST_F(JobCenterTest, ACancelledJobNeverReportsProgressItDidNotMake)
{
    std::atomic<Progress*> itemProgress{nullptr};
    const OperationDescriptor sleeper = fakeOperation("tool.document.sleep", [&](const OperationContext& ctx, auto&&,
                                                                               OutputPlanner&, Progress& progress)
                                                                               -> QList<QUrl> {
        progress.setCompletedUnitCount(40);
        itemProgress = &progress;
        // Ends when asked, as FFmpeg does on its "q".
        ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sh")),
                           {QStringLiteral("-c"), QStringLiteral("trap 'exit 0' INT; sleep 100 & wait")}, ctx.stopToken);
        return {};
    });
    WheelEntry entry;
    entry.operations = {sleeper};
    const JobPtr job = center->submit(entry, {file("clip.mov")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return itemProgress.load() != nullptr; }));
    center->tick();
    EXPECT_NEAR(job->fraction(), 0.04, 1e-9);

    QList<double> fractions;
    QObject::connect(job.get(), &Job::changed, [&] { fractions.append(job->fraction()); });
    center->cancel(job);
    EXPECT_TRUE(job->isCancelling()); // at once, before the program has ended
    EXPECT_EQ(fractions.size(), 1);
    itemProgress.load()->setCompletedUnitCount(1000); // what a stopping program may still say
    center->tick();
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }, 10000));
    EXPECT_EQ(job->state(), Job::State::cancelled);
    for (const double fraction : fractions)
        EXPECT_NEAR(fraction, 0.04, 1e-9);
}

TEST_F(JobCenterTest, PlaceholdersLastUntilRemoved)
{
    store.setValue(SettingsKey::showHUD, false);
    const JobPtr placeholder = center->beginReceiving(2, QPointF(1, 1));
    EXPECT_EQ(placeholder->state(), Job::State::receiving);
    EXPECT_EQ(placeholder->title(), QStringLiteral("Receiving"));
    EXPECT_EQ(placeholder->symbol(), QStringLiteral("tray.and.arrow.down"));
    EXPECT_TRUE(placeholder->isActive());
    EXPECT_EQ(center->activeJobs().size(), 1);
    EXPECT_TRUE(center->isTicking());
    center->tick();
    EXPECT_TRUE(center->isTicking());

    center->removeJob(placeholder);
    EXPECT_TRUE(center->activeJobs().isEmpty());
    EXPECT_EQ(services.events, (QStringList{"show Receiving", "remove Receiving"}));
    center->tick();
    EXPECT_FALSE(center->isTicking());
}

TEST_F(JobCenterTest, TickerPublishesOnlyRealProgress)
{
    std::atomic<bool> go{false};
    std::atomic<Progress*> itemProgress{nullptr};
    const OperationDescriptor hold = fakeOperation("tool.document.hold", [&](auto&&, auto&&, auto&&,
                                                                            Progress& progress) {
        itemProgress = &progress;
        while (!go)
            std::this_thread::yield();
        return QList<QUrl>{};
    });
    WheelEntry entry;
    entry.operations = {hold};
    const JobPtr job = center->submit(entry, {file("1.txt")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return itemProgress.load() != nullptr; }));
    int changes = 0;
    QObject::connect(job.get(), &Job::changed, [&] { ++changes; });

    itemProgress.load()->setCompletedUnitCount(300);
    center->tick();
    EXPECT_NEAR(job->fraction(), 0.3, 1e-9);
    const int afterFirst = changes;
    itemProgress.load()->setCompletedUnitCount(300); // 0.3008 in spirit: below the threshold
    reportProgress(0.3008, *itemProgress.load());
    center->tick();
    EXPECT_EQ(changes, afterFirst);
    reportProgress(0.3015, *itemProgress.load());
    center->tick();
    EXPECT_NEAR(job->fraction(), 0.301, 1e-9);

    go = true;
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
}

namespace {

bool processRunningWithArgument(const QString& argument)
{
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains(argument.toUtf8()))
            return true;
    }
    return false;
}

} // namespace

TEST_F(JobCenterTest, QuittingEndsEveryChildProgram)
{
    const QString marker = QStringLiteral("100.4242");
    std::atomic<int> started{0};
    const OperationDescriptor sleeper = fakeOperation("tool.document.sleep", [&](const OperationContext& ctx,
                                                                               auto&&...) -> QList<QUrl> {
        ++started;
        ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sleep")), {marker}, ctx.stopToken);
        return {};
    });
    WheelEntry entry;
    entry.operations = {sleeper};
    const JobPtr first = center->submit(entry, {file("1.txt")}, {}, std::nullopt);
    const JobPtr second = center->submit(entry, {file("2.txt")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return started == 2 && processRunningWithArgument(marker); }));

    // What quitting does: every child program is signalled before cancelAll returns.
    center->cancelAll();
    ASSERT_TRUE(waitFor([&] { return !processRunningWithArgument(marker); }, 1000));
    ASSERT_TRUE(waitFor([&] { return !first->isActive() && !second->isActive(); }));
}

TEST_F(JobCenterTest, ShutdownKillsProgramsThatIgnoreTheCancelAndLeavesNoWorkFolder)
{
    const QString marker = QStringLiteral("100.4243");
    std::atomic<int> started{0};
    QString workFolder;
    // A program that ignores SIGTERM, and an item that waits for it whatever the stop token says.
    const OperationDescriptor stubborn = fakeOperation("tool.document.stubborn", [&](auto&&, auto&&,
                                                                                   OutputPlanner& planner,
                                                                                   auto&&) -> QList<QUrl> {
        workFolder = planner.workDirectory().toLocalFile();
        test::writeFile(workFolder + QStringLiteral("/partial"), "x");
        ChildProcess child(QStringLiteral("/bin/sh"),
                           {QStringLiteral("-c"), QStringLiteral("trap '' TERM; exec sleep %1").arg(marker)},
                           std::nullopt, std::nullopt);
        ++started;
        pollfd fd{child.stdoutFd(), POLLIN, 0};
        while (::poll(&fd, 1, -1) >= 0 && !(fd.revents & (POLLHUP | POLLERR))) {
        }
        child.wait();
        throw EngineError(QStringLiteral("killed"));
    });
    WheelEntry entry;
    entry.operations = {stubborn};
    const JobPtr job = center->submit(entry, {file("1.txt")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return started == 1 && processRunningWithArgument(marker); }));
    // A folder of promised files that never came.
    const QString promises = TemporaryRoot::makeLiveFolder(QStringLiteral("promises-shutdown-test"));

    test::LogCapture log;
    EXPECT_TRUE(center->shutdown(std::chrono::milliseconds(300)));
    EXPECT_TRUE(log.contains(QStringLiteral("quorvenda.jobs"),
                             QStringLiteral("Workers still running after 300 ms; killed 1 child process group(s)")));
    EXPECT_FALSE(processRunningWithArgument(marker));
    EXPECT_FALSE(QFileInfo::exists(workFolder));
    EXPECT_FALSE(QFileInfo::exists(promises));
    WorkFolderRegistry::remove(promises);
    // The ended run is folded at once: no event loop runs after a quit.
    EXPECT_EQ(job->state(), Job::State::cancelled);

    // Nothing starts any more.
    std::atomic<int> ran{0};
    entry.operations = {fakeOperation("tool.document.late", [&](auto&&...) -> QList<QUrl> {
        ++ran;
        return {};
    })};
    const JobPtr late = center->submit(entry, {file("2.txt")}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return !late->isActive(); }));
    EXPECT_EQ(late->state(), Job::State::cancelled);
    EXPECT_EQ(ran.load(), 0);
}

TEST_F(JobCenterTest, ShutdownGivesUpOnAStuckWorkerButRemovesItsWorkFolder)
{
    // Beside the input on another filesystem when there is one: a hidden work folder.
    QTemporaryDir memory(QStringLiteral("/dev/shm/qv-shutdown-XXXXXX"));
    const QString input = test::writeFile((memory.isValid() ? memory.path() : dir.path())
                                              + QStringLiteral("/1.txt"), "input");
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    QString workFolder;
    const OperationDescriptor stuck = fakeOperation("tool.document.stuck", [&](auto&&, auto&&,
                                                                             OutputPlanner& planner,
                                                                             auto&&) -> QList<QUrl> {
        workFolder = planner.workDirectory().toLocalFile();
        started = true;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return {};
    });
    WheelEntry entry;
    entry.operations = {stuck};
    const JobPtr job = center->submit(entry, {fileInfoForURL(QUrl::fromLocalFile(input))}, {}, std::nullopt);
    ASSERT_TRUE(waitFor([&] { return started.load(); }));
    ASSERT_TRUE(QFileInfo(workFolder).isDir());

    EXPECT_FALSE(center->shutdown(std::chrono::milliseconds(100)));
    EXPECT_FALSE(QFileInfo::exists(workFolder));
    EXPECT_TRUE(job->isActive());
    release = true;
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
}

TEST_F(JobCenterTest, PipesAndUnreadableNamesFailBeforeAnythingReadsThem)
{
    std::atomic<int> ran{0};
    const OperationDescriptor read = fakeOperation("tool.image.read", [&](auto&&, auto&&, OutputPlanner& planner, auto&&) {
        ++ran;
        return writeResult(planner);
    });
    // As the wheel's first look has them, from their names: pictures.
    const QString fifoPath = dir.filePath(QStringLiteral("fifo.jpg"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifoPath).constData(), 0600), 0);
    FileInfo pipe = fileInfoFromName(QUrl::fromLocalFile(fifoPath));
    const QByteArray oddPath = QFile::encodeName(dir.path()) + "/x\xff.jpg";
    FILE* made = std::fopen(oddPath.constData(), "wb");
    ASSERT_NE(made, nullptr);
    std::fclose(made);
    file(QString::fromUtf8("x\xef\xbf\xbd.jpg"), "twin");
    FileInfo odd = fileInfoFromName(fileUrlForNativePath(oddPath));

    std::atomic<int> measured{0};
    JobCenter::Services withNeeds{&services, &services, &services, &services, &services, &services};
    withNeeds.memoryNeed = [&](const JobCenter::WorkItem&, std::stop_token) -> qint64 {
        ++measured; // a worker reading a pipe's header would wait here for good
        return 0;
    };
    center->setServices(withNeeds);
    JobPtr job = runToEnd({read}, {pipe});
    ASSERT_TRUE(job);
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->failure()->message, QStringLiteral("This is a pipe, not a file Quorvenda can read"));

    job = runToEnd({read}, {odd});
    EXPECT_EQ(job->state(), Job::State::failed);
    EXPECT_EQ(job->failure()->message, QStringLiteral("Quorvenda can't read this file's name"));
    EXPECT_EQ(ran.load(), 0);
    EXPECT_EQ(measured.load(), 0);
    // Only the twin's own result would show its name; none was made.
    EXPECT_FALSE(QFile::exists(dir.filePath(QString::fromUtf8("x\xef\xbf\xbd (done).txt"))));
}

TEST_F(JobCenterTest, ResultNamesCarryNoDirectionMarks)
{
    const OperationDescriptor write = fakeOperation("tool.document.write", [](auto&&, auto&&, OutputPlanner& planner, auto&&) {
        return writeResult(planner);
    });
    // Shows as "invoicegnp.jpg" where marks take effect.
    const JobPtr job = runToEnd({write}, {file(QStringLiteral("invoice\u202Egpj\u2066x\u2069\u200F.png"))});
    ASSERT_EQ(job->outputs().size(), 1);
    EXPECT_EQ(job->outputs().first().fileName(), QStringLiteral("invoicegpjx (done).txt"));
}

TEST_F(JobCenterTest, RunningJobsAreListedForTheNextStart)
{
    QTemporaryDir state;
    const QString journal = state.filePath(QStringLiteral("quorvenda/jobs-in-flight"));
    JobJournal::setPath(journal);
    QString listed;
    const OperationDescriptor hold = fakeOperation("tool.document.hold", [&](auto&&, auto&&, OutputPlanner& planner, auto&&) {
        QFile list(journal);
        if (list.open(QIODevice::ReadOnly))
            listed = QString::fromUtf8(QByteArray::fromPercentEncoding(list.readAll()));
        return writeResult(planner);
    });
    const JobPtr job = runToEnd({hold}, {file(QStringLiteral("report.txt")), file(QStringLiteral("b.txt"))});
    JobJournal::setPath(QString());
    EXPECT_EQ(job->state(), Job::State::finished);
    EXPECT_TRUE(listed.contains(QStringLiteral("Testing \u201Creport.txt\u201D and 1 more"))) << qPrintable(listed);
    QFile after(journal);
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_TRUE(after.readAll().isEmpty());
}
