#pragma once

#include "jobs/AsyncLimiter.h"
#include "jobs/Job.h"
#include "jobs/JobCenterServices.h"
#include "jobs/MemoryBudget.h"
#include "model/operations/OperationDescriptor.h"
#include "model/operations/OperationOptions.h"
#include "model/wheel/WheelEntry.h"

#include <QHash>
#include <QObject>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

namespace qv {

class Clipboard;
class Clock;
class WorkerPool;
class SettingsStore;
class Workspace;

// The job engine: turns a wheel entry and files into work items, runs them under the limits
// of their lanes, and performs the end-of-job steps. Lives on the main thread; only the work
// items leave it.
class JobCenter : public QObject {
    Q_OBJECT
public:
    struct WorkItem {
        OperationDescriptor descriptor;
        QList<FileInfo> files;
    };

    // What a finished run hands to finish().
    struct Result {
        QList<QUrl> outputs;
        QList<JobFailure> failures;
        bool cancelled = false;
        int succeededCount = 0;
        QList<Job::ItemOutcome> items;
        QStringList messages;
        std::optional<QString> clipboard;
    };

    struct Services {
        JobPresenter* presenter = nullptr;
        StatusIndicator* status = nullptr;
        SoundPlayer* sounds = nullptr;
        JobNotifier* notifier = nullptr;
        Clipboard* clipboard = nullptr;
        Workspace* workspace = nullptr;
        // Runs the items of the operations it handles in worker processes; without it, or
        // for other operations, items run in this process.
        WorkerPool* workers = nullptr;
        // What an item may need in memory while it runs, in bytes (0: nothing worth counting);
        // such items run at once only while their needs fit the batch budget together.
        std::function<qint64(const WorkItem& item, std::stop_token stop)> memoryNeed = nullptr;
    };

    static constexpr int recentLimit = 10;
    // CPU seconds a worker may spend on one item (the programs it starts count apart).
    static constexpr qint64 workerCpuSeconds = 4 * 3600;

    JobCenter(SettingsStore& store, const Clock& clock, QObject* parent = nullptr);
    JobCenter(SettingsStore& store, const Clock& clock, const Services& services,
              QObject* parent = nullptr);
    ~JobCenter() override;

    static JobCenter& shared();

    // Later subsystems put their real services in place.
    void setServices(const Services& services);

    // Groups the files into work items and starts a job; nothing when no file is accepted.
    JobPtr submit(const WheelEntry& entry, const QList<FileInfo>& files,
                  const OperationOptions& options, std::optional<QPointF> origin);
    void start(const JobPtr& job, const QList<WorkItem>& items, const OperationOptions& options);

    // A placeholder shown while promised files arrive; it ends only through removeJob().
    JobPtr beginReceiving(int fileCount, std::optional<QPointF> origin);
    void cancel(const JobPtr& job);
    void removeJob(const JobPtr& job);

    // The settings its jobs are run with.
    SettingsStore& settingsStore() const { return m_store; }
    const QList<JobPtr>& jobs() const { return m_jobs; }
    QList<JobPtr> activeJobs() const;
    JobPtr jobWithId(const QUuid& id) const;

    const QList<QUrl>& recent() const { return m_recent; }
    void rememberRecent(const QList<QUrl>& outputs);
    void clearRecent();

    AsyncLimiter& limiter(JobLane lane) const { return *m_limiters.at(lane); }
    MemoryBudget& memoryBudget() { return m_budget; }
    // Re-reads the lane limits and the batch budget from the settings.
    void applyLaneLimits();

    bool isTicking() const { return m_ticker.isActive(); }
    void tick();

    // Cancels every active job; its child programs are signalled before this returns.
    void cancelAll();

    // The end of the engine, for a quit: refuses new work, cancels every job, waits up to
    // `grace` for the workers, then kills the process group of every child program still
    // running and waits up to another second, removes every work folder of the process, and
    // folds the runs that ended. True when no worker is left; when one is, the process must
    // end without running static destructors.
    bool shutdown(std::chrono::milliseconds grace);

    // How submit() groups files: by operation, then by each operation's MultiFileMode.
    static QList<WorkItem> workItems(const WheelEntry& entry, const QList<FileInfo>& files,
                                     const OperationOptions& options);

Q_SIGNALS:
    void jobsChanged();
    void recentChanged();
    void jobEnded(const qv::JobPtr& job);

private:
    struct Run;

    void startTicker();
    void stopTickerIfIdle();
    void runItem(const std::shared_ptr<Run>& run, int index);
    void admitItem(const std::shared_ptr<Run>& run, int index);
    void executeItem(const std::shared_ptr<Run>& run, int index, qint64 memoryHeld);
    void endCancelledItem(const std::shared_ptr<Run>& run);
    void addStopCallback(const std::shared_ptr<Run>& run, std::function<void()> callback);
    void itemEnded(const std::shared_ptr<Run>& run);
    Q_INVOKABLE void finishEndedRuns();
    void finish(const JobPtr& job, const Result& result);
    int laneLimit(JobLane lane) const;
    qint64 budgetLimit() const;

    SettingsStore& m_store;
    const Clock& m_clock;
    Services m_services;
    QList<JobPtr> m_jobs;
    QList<QUrl> m_recent;
    std::map<JobLane, std::unique_ptr<AsyncLimiter>> m_limiters;
    MemoryBudget m_budget{MemoryBudget::defaultLimitBytes()};
    QTimer m_ticker;
    std::mutex m_endedMutex;
    std::vector<std::shared_ptr<Run>> m_endedRuns;
    std::atomic<bool> m_shutDown = false;
    QThreadPool m_pool;
};

} // namespace qv
