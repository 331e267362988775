#pragma once

#include "platform/sandbox/SandboxWatch.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <chrono>
#include <condition_variable>
#include <optional>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace qv {

class JobNotes;
class NameWatch;
class Progress;

// Runs work items in worker processes, so that a library that crashes, hangs or runs out of
// memory on a user's file costs that item and nothing else. A few started workers wait warm,
// having read no file. Every item runs in a worker that served no other item (at most the
// questions about its very files) and ends with it, before its results are placed: a decoder
// compromised by one file reaches no other item, job or result.
// Thread-safe; run() blocks the calling thread (a job's worker thread) until the item ends.
class WorkerPool {
public:
    using Handles = std::function<bool(const QString& operationId)>;
    // What a worker that will likely run this operation loads before its first request, as its
    // environment's QUORVENDA_LOAD_AHEAD names it (empty: nothing).
    using LoadAhead = std::function<QByteArray(const QString& operationId)>;

    // program: the worker executable. handles: which operations run in it.
    WorkerPool(QString program, Handles handles, int warmWorkers = 2);
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // The worker beside this executable ($QUORVENDA_WORKER when set).
    static QString defaultProgram();

    bool handles(const QString& operationId) const;

    // Runs the item and returns its results. A stop kills its worker at once and throws
    // CancellationError; a worker that dies fails the item with EngineError. Whatever the
    // worker left (work folders, results of an unfinished item) is removed first. Messages
    // and clipboard text go to notes.
    QList<QUrl> run(const WorkerProtocol::RunRequest& request, std::stop_token stop,
                    Progress& progress, JobNotes& notes);

    // Asks a worker a question about a file (see WorkerServer::Calls) and returns its answer.
    // Throws as run() does; a worker that has not answered within the limit is killed and the
    // call fails, since a window waits for the answer. The limit counts the worker's time: on a
    // busy machine a worker that is at work is given up once it used that much processor time
    // (or waited ten times as long), one that sits idle at the limit. A processor limit ends it
    // once its processes together used that much processor time for the question, whatever the
    // limit.
    QJsonObject call(const QString& name, const QJsonObject& arguments, std::stop_token stop,
                     qint64 memoryLimitBytes, std::chrono::milliseconds limit = callLimit,
                     std::chrono::milliseconds processorLimit = {});

    static constexpr std::chrono::milliseconds callLimit{20000};

    // Starts the warm workers now rather than at the first item.
    void warmUp();
    // How many fresh workers wait warm for the next item or question. A one-shot run keeps
    // none (0): the one it starts at once serves its questions and then its item.
    void setWarmCount(int count);
    // Starts this many workers now unless as many wait or start already, whatever the warm count.
    // An operation given: the workers started from now on load ahead what it needs, as they do
    // once an item of it has run here.
    void startAhead(int count, const QString& operationId = {});
    // Set before the first start.
    void setLoadAhead(LoadAhead loadAhead);

    // Ends every idle worker; running items go on.
    void clear();
    // Ends every idle worker and starts no more: the end of a quit.
    void shutdown();

    // How many worker processes were started so far.
    int startedCount() const;
    // How many wait idle now, warm or kept for the next item that fits.
    int idleCount() const;

    // Workers idle this long are ended, all but the newest warm one, which goes after twice
    // as long: a tray application that sits idle all day keeps no worker.
    void setIdleLimit(std::chrono::milliseconds limit);
    static constexpr std::chrono::milliseconds defaultIdleLimit{30000};

    // Called by run() once an item's inputs are open and checked, before they go to its worker
    // (tests change the files there). Set before the first item.
    void setInputsChecked(std::function<void(const WorkerProtocol::RunRequest&)> hook);

private:
    struct Worker;
    struct Exchange;
    Exchange exchange(Worker& worker, const QJsonObject& message, std::stop_token stop, Progress* progress,
                      std::optional<std::chrono::milliseconds> limit, const SandboxWatch::Limits& watched,
                      NameWatch* names = nullptr);
    // Kills a worker that did not end its request, removes what it left below the folders it
    // could write to and throws; returns true instead when the request should go to a fresh
    // worker.
    bool endDeadWorker(Worker& worker, Exchange& exchange, const QString& what, bool mayRetry,
                       const QStringList& writable);
    // A worker for the key: one that served it before, else a fresh one; only a fresh one when
    // freshOnly.
    std::unique_ptr<Worker> take(const QString& key, bool freshOnly = false);
    std::unique_ptr<Worker> takeUsed(const QString& key); // under m_lock
    void giveBack(std::unique_ptr<Worker> worker, const QString& key);
    std::unique_ptr<Worker> spawn(const QString& aheadFor);
    // A worker whose item is over and which has ended: its folder goes on the spawner thread.
    void letGo(std::unique_ptr<Worker> worker);
    void spawnerLoop();
    void requestSpares();
    // Takes out the ended workers and those idle past the limit; returns when the next one
    // will be, if any.
    std::optional<std::chrono::steady_clock::time_point> takeRetired(std::vector<std::unique_ptr<Worker>>& retired);

    QString m_program;
    Handles m_handles;
    std::function<void(const WorkerProtocol::RunRequest&)> m_inputsChecked;
    LoadAhead m_loadAhead;
    int m_warm;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Worker>> m_fresh;
    std::deque<std::pair<QString, std::unique_ptr<Worker>>> m_used;
    std::vector<std::unique_ptr<Worker>> m_ended; // their folders still to be removed
    int m_pendingSpawns = 0; // asked of the spawner thread
    QString m_aheadFor; // the operation the next workers load ahead for: the last one run
    int m_waiting = 0;       // items waiting for a fresh worker
    bool m_spawnFailed = false;
    int m_started = 0;
    bool m_stopping = false;
    std::chrono::milliseconds m_idleLimit = defaultIdleLimit;
    int m_idleChanges = 0; // a worker became idle or the limit changed
    // Workers die with the thread that started them, so one thread that lives as long as the
    // pool starts them all.
    std::thread m_spawner;
};

} // namespace qv
