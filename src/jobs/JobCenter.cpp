#include "jobs/JobCenter.h"

#include "jobs/Notifications.h"
#include "jobs/OutputPlanner.h"
#include "jobs/WorkerPool.h"
#include "model/Clock.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/files/NaturalOrder.h"
#include "model/Log.h"
#include "model/settings/SettingsKeys.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/files/InputFile.h"
#include "platform/files/JobJournal.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/ThreadHandoff.h"
#include "platform/settings/SettingsStore.h"

#include <QDir>
#include <QFileInfo>

#include <mutex>

#include <algorithm>
#include <stop_token>

namespace qv {

namespace {

JobPresenter g_noPresenter;
StatusIndicator g_noStatus;
SoundPlayer g_noSounds;
JobNotifier g_noNotifier;

constexpr JobLane kLanes[] = {JobLane::cpu, JobLane::video, JobLane::audio, JobLane::external};

// How long a shutdown waits for workers whose child programs it has killed.
constexpr int kKilledWorkersWaitMs = 1000;

// An input removed while its item waited or ran is the cause of the failure, whatever a reader
// made of its absence.
bool inputGone(const QList<FileInfo>& files)
{
    return std::any_of(files.begin(), files.end(), [](const FileInfo& file) {
        if (file.isPromise || !file.url.isLocalFile())
            return false;
        const QString path = file.url.toLocalFile();
        return !path.isEmpty() && !QFileInfo::exists(path) && !QFileInfo(path).isSymLink();
    });
}

} // namespace

// One run of a job: shared by its items until the last one has ended.
struct JobCenter::Run {
    JobPtr job;
    QList<WorkItem> items;
    // Which file or folder each input's path, its folder's and the chosen output folder's led
    // to when the job was asked for, by path.
    QHash<QString, QString> identities;
    OperationOptions options;
    SettingsSnapshot snapshot;
    std::shared_ptr<JobNotes> notes = std::make_shared<JobNotes>();
    std::stop_token stop;
    WorkerPool* workers = nullptr;
    qint64 workerMemoryBytes = 0;
    int workerPatienceSeconds = 30;
    std::function<qint64(const WorkItem&, std::stop_token)> memoryNeed;
    std::vector<std::shared_ptr<Progress>> children;
    std::vector<std::unique_ptr<std::stop_callback<std::function<void()>>>> stopCallbacks;

    // Outcomes, written by the items' threads.
    std::mutex mutex;
    std::map<int, QList<QUrl>> outputs;
    std::map<int, Job::ItemOutcome> outcomes;
    QList<JobFailure> failures;
    bool cancelled = false;
    int succeeded = 0;
    int remaining = 0;
};

JobCenter::JobCenter(SettingsStore& store, const Clock& clock, QObject* parent)
    : JobCenter(store, clock, Services(), parent)
{
}

JobCenter::JobCenter(SettingsStore& store, const Clock& clock, const Services& services,
                     QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_clock(clock)
{
    setServices(services);
    for (JobLane lane : kLanes)
        m_limiters.emplace(lane, std::make_unique<AsyncLimiter>(laneLimit(lane)));
    m_budget.setLimit(budgetLimit());

    if (const auto paths = m_store.stringListValue(SettingsKey::recentResults)) {
        for (const QString& path : *paths)
            m_recent.append(QUrl::fromLocalFile(path));
    }

    m_ticker.setInterval(100);
    connect(&m_ticker, &QTimer::timeout, this, &JobCenter::tick);
    // Any change of the settings re-applies the lane limits.
    connect(&m_store, &SettingsStore::changed, this, &JobCenter::applyLaneLimits);
    // The limiters bound how many items run; the pool only has to have room for them.
    m_pool.setMaxThreadCount(64);
}

JobCenter::~JobCenter()
{
    m_shutDown = true;
    cancelAll();
    m_pool.waitForDone();
    handoffAcquire();
}

JobCenter& JobCenter::shared()
{
    static JobCenter* center = [] {
        Services services;
        services.clipboard = &Clipboard::system();
        services.workspace = &Workspace::system();
        return new JobCenter(SettingsStore::shared(), Clock::system(), services);
    }();
    return *center;
}

void JobCenter::setServices(const Services& services)
{
    m_services = services;
    if (!m_services.presenter)
        m_services.presenter = &g_noPresenter;
    if (!m_services.status)
        m_services.status = &g_noStatus;
    if (!m_services.sounds)
        m_services.sounds = &g_noSounds;
    if (!m_services.notifier)
        m_services.notifier = &g_noNotifier;
}

int JobCenter::laneLimit(JobLane lane) const
{
    switch (lane) {
    case JobLane::cpu: return std::max(m_store.intValue(SettingsKey::cpuJobs), 1);
    case JobLane::video: return std::max(m_store.intValue(SettingsKey::videoJobs), 1);
    case JobLane::audio: return std::max(m_store.intValue(SettingsKey::audioJobs), 1);
    case JobLane::external: return 1;
    }
    return 1;
}

qint64 JobCenter::budgetLimit() const
{
    const int megabytes = m_store.intValue(SettingsKey::batchMemory);
    return megabytes >= 256 ? qint64(megabytes) << 20 : MemoryBudget::defaultLimitBytes();
}

void JobCenter::applyLaneLimits()
{
    for (JobLane lane : kLanes)
        m_limiters.at(lane)->setLimit(laneLimit(lane));
    m_budget.setLimit(budgetLimit());
}

QList<JobCenter::WorkItem> JobCenter::workItems(const WheelEntry& entry,
                                                const QList<FileInfo>& files,
                                                const OperationOptions& options)
{
    // Group by operation, groups in order of first appearance.
    QList<QPair<const OperationDescriptor*, QList<FileInfo>>> groups;
    for (const FileInfo& file : files) {
        const OperationDescriptor* op = entry.operationForFile(file);
        if (!op)
            continue;
        auto it = std::find_if(groups.begin(), groups.end(),
                               [op](const auto& group) { return group.first->id == op->id; });
        if (it == groups.end())
            groups.append({op, {file}});
        else
            it->second.append(file);
    }

    QList<WorkItem> items;
    for (auto& [op, groupFiles] : groups) {
        switch (op->multiFile) {
        case MultiFileMode::each:
            for (const FileInfo& file : groupFiles)
                items.append({*op, {file}});
            break;
        case MultiFileMode::combine: {
            QList<FileInfo> ordered = groupFiles;
            if (options.fileOrder && !options.fileOrder->isEmpty()) {
                const QList<QUrl>& order = *options.fileOrder;
                const auto rank = [&order](const FileInfo& f) {
                    const qsizetype at = order.indexOf(f.url);
                    return at < 0 ? order.size() : at;
                };
                std::stable_sort(ordered.begin(), ordered.end(),
                                 [&](const FileInfo& a, const FileInfo& b) { return rank(a) < rank(b); });
            } else {
                std::stable_sort(ordered.begin(), ordered.end(),
                                 [](const FileInfo& a, const FileInfo& b) {
                                     return naturalCompare(a.name, b.name) < 0;
                                 });
            }
            items.append({*op, ordered});
            break;
        }
        case MultiFileMode::single:
        case MultiFileMode::batch:
            items.append({*op, groupFiles});
            break;
        }
    }
    return items;
}

JobPtr JobCenter::submit(const WheelEntry& entry, const QList<FileInfo>& files,
                         const OperationOptions& options, std::optional<QPointF> origin)
{
    const QList<WorkItem> items = workItems(entry, files, options);
    if (items.isEmpty())
        return nullptr;
    const OperationDescriptor& first = items.first().descriptor;
    auto job = std::make_shared<Job>(first.verb,
                                     first.symbol.value_or(QStringLiteral("arrow.triangle.2.circlepath")),
                                     int(files.size()), files.first().name, origin, m_clock.now());
    start(job, items, options);
    return job;
}

void JobCenter::start(const JobPtr& job, const QList<WorkItem>& items, const OperationOptions& options)
{
    m_jobs.append(job);
    Q_EMIT jobsChanged();
    if (m_store.boolValue(SettingsKey::showHUD))
        m_services.presenter->show(job);
    startTicker();

    auto run = std::make_shared<Run>();
    run->job = job;
    run->items = items;
    run->options = options;
    run->snapshot = SettingsSnapshot::load(m_store);
    run->stop = job->stopToken();
    run->remaining = int(items.size());
    run->workers = m_services.workers;
    run->memoryNeed = m_services.memoryNeed;
    // A worker reads the files chosen now, not ones put in their places while the job waits,
    // and results go to the folders there now, not to ones a link in their place leads to.
    if (run->workers) {
        const auto note = [&run](const QString& path) {
            if (!path.isEmpty() && !run->identities.contains(path))
                run->identities.insert(path, WorkerProtocol::fileIdentity(path));
        };
        for (const WorkItem& item : items) {
            for (const FileInfo& file : item.files) {
                if (file.isPromise)
                    continue;
                note(file.path());
                note(QFileInfo(QDir::cleanPath(file.path())).absolutePath());
            }
        }
        if (run->snapshot.saveLocation == SaveLocation::folder && run->snapshot.outputFolder
            && run->snapshot.outputFolder->isLocalFile())
            note(QDir::cleanPath(run->snapshot.outputFolder->toLocalFile()));
    }
    const int memoryMB = m_store.intValue(SettingsKey::workerMemory);
    run->workerMemoryBytes = ChildProcess::memoryLimitForSetting(memoryMB);
    const int patience = m_store.intValue(SettingsKey::workerPatience);
    if (patience >= 1)
        run->workerPatienceSeconds = patience;
    // Programs the items start here (not in a worker) are held to the same.
    ChildProcess::setMemoryLimit(run->workerMemoryBytes);

    // Named at the next start if the application dies before the job ends.
    JobJournal::add(job->id(), JobJournal::describe(job->title(), job->firstFileName(), job->fileCount()));
    job->setState(Job::State::running);
    job->setHasTask(true);
    job->progress().setTotalUnitCount(1000 * qint64(items.size()));
    qCInfo(jobsLog, "Started %s on %lld item(s)", qUtf8Printable(job->title()),
           static_cast<long long>(items.size()));

    for (int i = 0; i < items.size(); ++i) {
        auto child = std::make_shared<Progress>(1000);
        job->progress().addChild(child, 1000);
        run->children.push_back(child);
    }
    for (int i = 0; i < items.size(); ++i)
        runItem(run, i);
}

void JobCenter::endCancelledItem(const std::shared_ptr<Run>& run)
{
    {
        std::lock_guard locker(run->mutex);
        run->cancelled = true;
    }
    itemEnded(run);
}

void JobCenter::addStopCallback(const std::shared_ptr<Run>& run, std::function<void()> callback)
{
    auto stopCallback = std::make_unique<std::stop_callback<std::function<void()>>>(run->stop, std::move(callback));
    std::lock_guard locker(run->mutex);
    run->stopCallbacks.push_back(std::move(stopCallback));
}

void JobCenter::runItem(const std::shared_ptr<Run>& run, int index)
{
    AsyncLimiter& lane = limiter(run->items[index].descriptor.lane);
    if (run->stop.stop_requested() || m_shutDown) {
        endCancelledItem(run);
        return;
    }
    const QUuid waiter = lane.acquire([this, run, index, &lane](bool granted) {
        if (!granted) {
            endCancelledItem(run);
            return;
        }
        // A slot that frees up during a shutdown starts nothing more.
        if (run->stop.stop_requested() || m_shutDown) {
            lane.release();
            endCancelledItem(run);
            return;
        }
        std::function<void()> task = [this, run, index] {
            handoffAcquire();
            admitItem(run, index);
            handoffRelease();
        };
        handoffRelease();
        m_pool.start(std::move(task));
    });
    // A cancelled job gives up its place in the queue at once.
    addStopCallback(run, [&lane, waiter] { lane.cancel(waiter); });
}

// Holding its lane's slot, the item waits for room in the memory budget when it needs any.
void JobCenter::admitItem(const std::shared_ptr<Run>& run, int index)
{
    const WorkItem& item = run->items[index];
    qint64 need = 0;
    // A pipe's header is never asked for: the item fails at its start instead.
    if (run->memoryNeed && !InputFile::problem(item.files)) {
        try {
            need = run->memoryNeed(item, run->stop);
        } catch (...) {
            // An item whose need cannot be told runs as it would without a budget; reading
            // its file fails it soon enough.
            need = 0;
        }
    }
    if (need <= 0) {
        executeItem(run, index, 0);
        return;
    }
    AsyncLimiter& lane = limiter(item.descriptor.lane);
    const QUuid waiter = m_budget.acquire(need, [this, run, index, need, &lane](bool granted) {
        if (!granted) {
            lane.release();
            endCancelledItem(run);
            return;
        }
        if (run->stop.stop_requested() || m_shutDown) {
            m_budget.release(need);
            lane.release();
            endCancelledItem(run);
            return;
        }
        std::function<void()> task = [this, run, index, need] {
            handoffAcquire();
            executeItem(run, index, need);
            handoffRelease();
        };
        handoffRelease();
        m_pool.start(std::move(task));
    });
    addStopCallback(run, [this, waiter] { m_budget.cancel(waiter); });
}

void JobCenter::executeItem(const std::shared_ptr<Run>& run, int index, qint64 memoryHeld)
{
    const WorkItem& item = run->items[index];
    AsyncLimiter& lane = limiter(item.descriptor.lane);
    Progress& progress = *run->children[std::size_t(index)];
    std::optional<OutputPlanner> planner;
    bool released = false;
    // The item's own notes, so that what it said stays with its files; the job's gather them.
    const auto notes = std::make_shared<JobNotes>();
    Job::ItemOutcome outcome;
    for (const FileInfo& file : item.files)
        outcome.inputs.append(file.name.isEmpty() ? file.url.fileName() : file.name);
    const auto keepNotes = [&] {
        outcome.messages = notes->messages();
        for (const QString& message : std::as_const(outcome.messages))
            run->notes->addMessage(message);
        if (const std::optional<QString> clipboard = notes->clipboardText())
            run->notes->addClipboardText(*clipboard);
    };
    const auto finishUp = [&] {
        if (planner)
            planner->removeWorkDirectory();
        if (!released) {
            released = true;
            m_budget.release(memoryHeld);
            lane.release();
        }
    };

    try {
        // Refused before anything reads them: a pipe or a device would never end, a name that
        // is not UTF-8 would name another file.
        InputFile::check(item.files);
        QList<QUrl> outputs;
        if (run->workers && run->workers->handles(item.descriptor.id)) {
            WorkerProtocol::RunRequest request;
            request.operationId = item.descriptor.id;
            request.files = item.files;
            for (const FileInfo& file : item.files)
                request.identities.append(run->identities.value(file.path()));
            request.chosenFolders = run->identities;
            request.options = encodeOperationOptions(run->options).value_or(QByteArray("{}"));
            request.settings = run->snapshot;
            request.memoryLimitBytes = run->workerMemoryBytes;
            request.cpuSeconds = workerCpuSeconds;
            // However stuck a decoder is, the item ends: the patience once, and once more for
            // every 5 MB it reads.
            qint64 inputBytes = 0;
            for (const FileInfo& file : item.files)
                inputBytes += std::max<qint64>(file.size, 0);
            request.quietSeconds = qint64(run->workerPatienceSeconds) * (1 + inputBytes / (qint64(5) << 20));
            // Progress reports keep an item from being called stuck, but not from running on:
            // its whole sandbox gets ten patiences of processor time, sixty where a program
            // reports its own progress through long work (FFmpeg, the text recogniser).
            const bool longWork = item.descriptor.lane != JobLane::cpu || item.descriptor.engine.kind == EngineID::Kind::vision;
            request.workSeconds = request.quietSeconds * (longWork ? 60 : 10);
            // What comes back is judged by what the operation makes, not by what the worker says.
            request.resultLimit = std::max<int>(1, int(item.files.size()));
            request.copiesText = item.descriptor.copiesText;
            request.namesFromContents = item.descriptor.namesFromContents;
            if (item.descriptor.outputExtension)
                request.resultExtensions.append(*item.descriptor.outputExtension);
            request.resultSuffix = run->snapshot.suffixForOperation(item.descriptor.group);
            outputs = run->workers->run(request, run->stop, progress, *notes);
        } else {
            if (!item.descriptor.make)
                throw EngineError(QStringLiteral("This operation has nothing to run"));
            const QUrl source = item.files.isEmpty() ? appTemporaryRoot() : item.files.first().url;
            planner.emplace(source, run->snapshot, notes);
            const OperationContext context{item.files, run->options, run->snapshot, notes,
                                           run->stop};
            const std::shared_ptr<FileOperation> operation = item.descriptor.make(context);
            if (!operation)
                throw EngineError(QStringLiteral("This operation has nothing to run"));
            QList<QUrl> inputs;
            for (const FileInfo& file : item.files)
                inputs.append(file.url);
            outputs = operation->run(inputs, *planner, progress);
        }
        // Results that arrive after a cancel stay on disk but are not reported.
        throwIfCancelled(run->stop);
        progress.setCompletedUnitCount(progress.totalUnitCount());
        finishUp();
        std::lock_guard locker(run->mutex);
        keepNotes();
        outcome.outputs = outputs;
        run->outcomes[index] = outcome;
        run->outputs[index] = outputs;
        ++run->succeeded;
    } catch (...) {
        finishUp();
        bool cancelled = run->stop.stop_requested();
        if (!cancelled) {
            try {
                throw;
            } catch (const CancellationError&) {
                cancelled = true;
            } catch (...) {
            }
        }
        std::lock_guard locker(run->mutex);
        keepNotes();
        if (cancelled) {
            run->cancelled = true;
            outcome.cancelled = true;
        } else {
            JobFailure failure = jobFailure(std::current_exception());
            if (inputGone(item.files))
                failure.message = QStringLiteral("The file is no longer there");
            qCCritical(jobsLog, "%s failed: %s\n%s", qUtf8Printable(item.descriptor.id),
                       qUtf8Printable(failure.message), qUtf8Printable(failure.details));
            run->failures.append(failure);
            outcome.failure = failure;
        }
        run->outcomes[index] = outcome;
    }
    itemEnded(run);
}

void JobCenter::itemEnded(const std::shared_ptr<Run>& run)
{
    {
        std::lock_guard locker(run->mutex);
        if (--run->remaining > 0)
            return;
    }
    // The last item: fold the outcomes on the main thread.
    {
        std::lock_guard locker(m_endedMutex);
        m_endedRuns.push_back(run);
    }
    QMetaObject::invokeMethod(this, "finishEndedRuns", Qt::QueuedConnection);
}

void JobCenter::finishEndedRuns()
{
    std::vector<std::shared_ptr<Run>> ended;
    {
        std::lock_guard locker(m_endedMutex);
        ended.swap(m_endedRuns);
    }
    for (const std::shared_ptr<Run>& run : ended) {
        Result result;
        {
            std::lock_guard locker(run->mutex);
            for (const auto& [index, outputs] : run->outputs)
                result.outputs += outputs;
            for (const auto& [index, outcome] : run->outcomes)
                result.items.append(outcome);
            result.failures = run->failures;
            result.cancelled = run->cancelled;
            result.succeededCount = run->succeeded;
        }
        result.messages = run->notes->messages();
        result.clipboard = run->notes->clipboardText();
        std::vector<std::unique_ptr<std::stop_callback<std::function<void()>>>> callbacks;
        {
            std::lock_guard locker(run->mutex);
            callbacks.swap(run->stopCallbacks);
        }
        callbacks.clear();
        finish(run->job, result);
    }
}

void JobCenter::finish(const JobPtr& job, const Result& result)
{
    job->setFinishedAt(m_clock.now());
    job->setOutputs(result.outputs);
    job->setMessages(result.messages);
    job->setFailedCount(int(result.failures.size()));
    job->setItemOutcomes(result.items);
    // A cancelled job's bar never reached the end: it is not drawn as if it had.
    if (!job->isCancelling())
        job->setFraction(1.0);

    if (result.clipboard && m_services.clipboard)
        m_services.clipboard->setText(*result.clipboard);

    if (result.cancelled && result.outputs.isEmpty()) {
        job->setState(Job::State::cancelled);
    } else if (!result.failures.isEmpty()) {
        job->setFailure(result.failures.first());
        // Messages alone do not make a job whose every item failed a success.
        const bool anySuccess = !result.outputs.isEmpty() || result.succeededCount > 0;
        job->setState(anySuccess ? Job::State::finished : Job::State::failed);
    } else {
        job->setState(Job::State::finished);
    }
    job->setHasTask(false);
    JobJournal::remove(job->id());

    m_jobs.removeIf([&job](const JobPtr& j) { return j->id() == job->id(); });
    Q_EMIT jobsChanged();
    stopTickerIfIdle();
    m_services.status->updateIcon();

    qCInfo(jobsLog, "Finished %s: %lld output(s), %d failure(s), cancelled %s",
           qUtf8Printable(job->title()), static_cast<long long>(result.outputs.size()),
           job->failedCount(), result.cancelled ? "true" : "false");

    if (!result.outputs.isEmpty()) {
        rememberRecent(result.outputs);
        if (m_services.workspace) {
            if (m_store.boolValue(SettingsKey::openResult))
                m_services.workspace->open(result.outputs.first());
            if (m_store.boolValue(SettingsKey::revealResult))
                m_services.workspace->reveal(result.outputs);
        }
    }

    if (job->state() == Job::State::finished)
        m_services.sounds->play(FeedbackSound::success);
    else if (job->state() == Job::State::failed)
        m_services.sounds->play(FeedbackSound::failure);

    // A long job is told of in a notification; so is every job while the pills are off, which
    // would otherwise end a quick one without a sign, and a result that lacks part of its input.
    const qint64 tookMs = job->startedAt().msecsTo(*job->finishedAt());
    const bool pills = m_store.boolValue(SettingsKey::showHUD);
    const bool ended = job->state() == Job::State::finished || job->state() == Job::State::failed;
    const bool lossy = job->state() == Job::State::finished && !Notifications::lossNotes(*job).isEmpty();
    const bool notify = ended && (tookMs > 10000 || !pills || lossy);
    if (notify)
        m_services.notifier->postJobFinished(job);

    if (pills || job->state() == Job::State::failed || !job->messages().isEmpty())
        m_services.presenter->jobFinished(job);
    if (notify)
        m_services.presenter->notificationPosted(job);

    Q_EMIT jobEnded(job);
}

JobPtr JobCenter::beginReceiving(int fileCount, std::optional<QPointF> origin)
{
    auto job = std::make_shared<Job>(QStringLiteral("Receiving"), QStringLiteral("tray.and.arrow.down"),
                                     fileCount, QString(), origin, m_clock.now());
    job->setState(Job::State::receiving);
    m_jobs.append(job);
    Q_EMIT jobsChanged();
    m_services.presenter->show(job);
    startTicker();
    return job;
}

void JobCenter::cancel(const JobPtr& job)
{
    if (job && job->isActive())
        job->cancelTask();
}

void JobCenter::cancelAll()
{
    for (const JobPtr& job : activeJobs())
        job->cancelTask();
}

bool JobCenter::shutdown(std::chrono::milliseconds grace)
{
    m_shutDown = true;
    m_ticker.stop();
    const auto active = activeJobs();
    cancelAll();
    bool done = m_pool.waitForDone(int(grace.count()));
    if (!done) {
        const int killed = ChildProcess::killEveryGroup();
        qCWarning(jobsLog, "Workers still running after %lld ms; killed %d child process group(s)",
                  static_cast<long long>(grace.count()), killed);
        done = m_pool.waitForDone(kKilledWorkersWaitMs);
        if (!done)
            qCWarning(jobsLog, "Workers still running; leaving them");
    }
    if (done)
        handoffAcquire();
    if (m_services.workers)
        m_services.workers->shutdown();
    WorkFolder::removeAll();
    finishEndedRuns();
    qCInfo(jobsLog, "Shut down after cancelling %lld job(s)", static_cast<long long>(active.size()));
    return done;
}

void JobCenter::removeJob(const JobPtr& job)
{
    m_jobs.removeIf([&job](const JobPtr& j) { return j->id() == job->id(); });
    Q_EMIT jobsChanged();
    m_services.presenter->remove(job);
}

QList<JobPtr> JobCenter::activeJobs() const
{
    QList<JobPtr> active;
    for (const JobPtr& job : m_jobs) {
        if (job->isActive())
            active.append(job);
    }
    return active;
}

JobPtr JobCenter::jobWithId(const QUuid& id) const
{
    for (const JobPtr& job : m_jobs) {
        if (job->id() == id)
            return job;
    }
    return nullptr;
}

void JobCenter::rememberRecent(const QList<QUrl>& outputs)
{
    QList<QUrl> list = outputs;
    for (const QUrl& url : std::as_const(m_recent)) {
        if (!outputs.contains(url))
            list.append(url);
    }
    if (list.size() > recentLimit)
        list.resize(recentLimit);
    m_recent = list;
    QStringList paths;
    for (const QUrl& url : std::as_const(m_recent))
        paths.append(url.toLocalFile());
    m_store.setValue(SettingsKey::recentResults, paths);
    Q_EMIT recentChanged();
}

void JobCenter::clearRecent()
{
    m_recent.clear();
    m_store.remove(SettingsKey::recentResults);
    Q_EMIT recentChanged();
}

void JobCenter::startTicker()
{
    if (!m_ticker.isActive())
        m_ticker.start();
}

void JobCenter::stopTickerIfIdle()
{
    if (m_jobs.isEmpty())
        m_ticker.stop();
}

void JobCenter::tick()
{
    for (const JobPtr& job : std::as_const(m_jobs)) {
        if (job->state() != Job::State::running || job->isCancelling())
            continue;
        const double fraction = job->progress().fractionCompleted();
        if (std::abs(fraction - job->fraction()) > 0.001)
            job->setFraction(fraction);
    }
    m_services.status->updateIcon();
    stopTickerIfIdle();
}

} // namespace qv
