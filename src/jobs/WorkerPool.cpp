#include "jobs/WorkerPool.h"

#include "jobs/ResultPlacement.h"
#include "jobs/WorkerNotes.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/Log.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "platform/files/FileItems.h"
#include "platform/files/NameWatch.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/OpenFilesLimit.h"
#include "platform/sandbox/SandboxEnvironment.h"

#include "model/errors/SystemError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QUuid>
#include <QScopeGuard>
#include <QFileInfo>
#include <QJsonArray>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <climits>
#include <limits>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace qv {

using namespace WorkerProtocol;

struct WorkerPool::Worker {
    // The worker's own temporary folder: the libraries' and programs' temporary files, which
    // go with it. Listed like a work folder, so that a crash of ours leaves it to a later sweep.
    QString temporary;
    std::unique_ptr<ChildProcess> process;
    // What is left of its item once the results are placed.
    std::unique_ptr<ResultPlacement> leftover;
    // Our end of the socket the inputs' descriptors go to it on.
    int descriptors = -1;
    FrameReader reader;
    int served = 0;
    std::chrono::steady_clock::time_point idleSince = std::chrono::steady_clock::now();

    ~Worker()
    {
        process.reset();
        leftover.reset();
        if (descriptors >= 0)
            ::close(descriptors);
        if (!temporary.isEmpty()) {
            FileItems::remove(temporary);
            WorkFolderJournal::remove(temporary);
            WorkFolderRegistry::remove(temporary);
        }
    }
};

namespace {

// Pictures whose decoders have read past the memory they filled on damaged files (JPEG 2000's
// among them): in a worker that has served other items such a read finds their leftovers and
// passes for pixels, different at every run; in a new process it meets unmapped memory and
// fails the item. Each runs in a worker of its own, which ends after it.
bool needsAWorkerOfItsOwn(const WorkerProtocol::RunRequest& request)
{
    static const QStringList risky{QStringLiteral("jp2"), QStringLiteral("tga"), QStringLiteral("psd"),
                                   QStringLiteral("exr"), QStringLiteral("ico"), QStringLiteral("icns")};
    return std::any_of(request.files.begin(), request.files.end(), [](const FileInfo& file) {
        return file.category == FileCategory::image && file.format && risky.contains(file.format->id);
    });
}

// Processes at once in a worker's sandbox: LibreOffice, FFmpeg and the rest need a handful.
constexpr int processLimit = 256;
// A worker that neither reports progress nor uses processor time this long is stopped or stuck.
constexpr std::chrono::milliseconds stillLimit{20000};

// A worker that has served this many items makes way for a fresh one.
constexpr int itemsPerWorker = 64;
// Idle workers that served an item and are kept for the next one that fits.
constexpr std::size_t usedKept = 8;
constexpr qsizetype stderrKept = 16000;

QString signalText(int signal)
{
    const char* name = ::sigdescr_np(signal);
    return name ? QString::fromUtf8(name) : QStringLiteral("signal %1").arg(signal);
}

// The path with its folder's links resolved, when that folder lies below one of the folders the
// worker could write to anyway: a worker's word never makes us remove anything else.
std::optional<QString> withinReach(const QString& path, const QStringList& writable)
{
    const QString name = QFileInfo(path).fileName();
    const QString folder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
    if (name.isEmpty() || name == QLatin1String("..") || folder.isEmpty())
        return std::nullopt;
    for (const QString& allowed : writable) {
        const QString root = QFileInfo(allowed).canonicalFilePath();
        if (!root.isEmpty() && (folder == root || folder.startsWith(root + QLatin1Char('/'))))
            return folder + QLatin1Char('/') + name;
    }
    return std::nullopt;
}

// Even a loaded machine starts a worker in seconds; one silent this long is stuck.
constexpr qint64 startLimitMs = 60000;

// What a worker just started said to its ping so far: nothing yet, that it listens, or that it
// will not (it ended or said something else).
enum class Loading { pending, ready, failed };

Loading readPingAnswer(int fd, FrameReader& reader)
{
    char chunk[4096];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && (errno == EINTR || errno == EAGAIN))
        return Loading::pending;
    if (got <= 0)
        return Loading::failed;
    reader.append(QByteArray(chunk, got));
    if (const std::optional<QJsonObject> reply = reader.next())
        return reply->value(QStringLiteral("type")).toString() == QLatin1String("answer") ? Loading::ready
                                                                                           : Loading::failed;
    return reader.broken() ? Loading::failed : Loading::pending;
}

// Which idle worker may serve a request: one that only ever answered questions about the very
// same files, under the same memory limit. A decoder compromised by one file then reaches no
// other file's question or item.
QString workerKey(qint64 memoryLimitBytes, const QStringList& files)
{
    // Joined by the one character no path holds: a file whose name holds a line feed is not
    // the two files around it.
    const QChar nul(u'\0');
    return nul + QString::number(memoryLimitBytes) + nul + files.join(nul);
}


// How many inputs an item may hold open: a quarter of what this process, and the worker that
// raises its own as far, may have open at once (the hard limit, raised to when the pool was made).
// Past it, an item reads the rest by their path, as before, rather than run either out of
// descriptors.
qsizetype heldInputsLimit()
{
    const rlim_t limit = OpenFilesLimit::raise();
    if (limit == RLIM_INFINITY)
        return std::numeric_limits<int>::max() / 4;
    return qsizetype(std::min<rlim_t>(limit / 4, std::numeric_limits<int>::max() / 4));
}

// The inputs as the worker reads them: each where its links lead now (a link to a file in
// another folder is read there, in sight of the worker's view), and none that is no longer the
// file that was chosen (a file put in its place since, a link to a key). Each file checked is
// held open (descriptors), and that descriptor, not its path, is what the worker is given: a
// file or folder put in its place later is not what it reads. The caller closes the
// descriptors. Throws EngineError.
RunRequest pinnedInputs(const RunRequest& request)
{
    RunRequest pinned = request;
    pinned.descriptors = QList<int>(pinned.files.size(), -1);
    qsizetype mayHold = heldInputsLimit();
    auto closeAll = qScopeGuard([&pinned] { closeDescriptors(pinned.descriptors); });
    for (qsizetype i = 0; i < pinned.files.size() && i < pinned.identities.size(); ++i) {
        FileInfo& file = pinned.files[i];
        if (pinned.identities[i].isEmpty())
            continue;
        const int fd = ::open(QFile::encodeName(file.path()).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue; // what became of it, the operation says
        auto closeFd = qScopeGuard([fd] { ::close(fd); });
        struct stat status {};
        if (::fstat(fd, &status) != 0)
            continue;
        if (fileIdentity(fd) != pinned.identities[i])
            throw EngineError(replacedMessage(), file.path());
        if ((S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) && mayHold > 0) {
            --mayHold;
            closeFd.dismiss();
            pinned.descriptors[i] = fd;
        }
        char target[PATH_MAX + 1];
        const ssize_t length = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), target, PATH_MAX);
        if (length <= 0 || target[0] != '/')
            continue;
        const QString real = QFile::decodeName(QByteArray(target, length));
        struct stat there {};
        if (real == file.path() || ::stat(QFile::encodeName(real).constData(), &there) != 0
            || there.st_dev != status.st_dev || there.st_ino != status.st_ino)
            continue;
        if (file.name.isEmpty())
            file.name = QFileInfo(file.path()).fileName();
        file.url = QUrl::fromLocalFile(real);
    }
    closeAll.dismiss();
    return pinned;
}

// The paths of the files held open. A folder given whole is not among them: its view binds the
// folder held, which a rename in its parent moves without changing.
QStringList heldFilePaths(const RunRequest& pinned)
{
    QStringList paths;
    for (qsizetype i = 0; i < pinned.files.size() && i < pinned.descriptors.size(); ++i) {
        struct stat status {};
        if (pinned.descriptors[i] >= 0 && ::fstat(pinned.descriptors[i], &status) == 0 && S_ISREG(status.st_mode))
            paths.append(pinned.files[i].path());
    }
    return paths;
}

QString destinationReplaced()
{
    return QStringLiteral("The folder for the results was moved or replaced after the job started, so nothing was saved");
}

void removeTrail(const QStringList& work, const QStringList& placed, const QStringList& writable)
{
    for (const QString& path : placed + work) {
        if (const std::optional<QString> reached = withinReach(path, writable))
            FileItems::remove(*reached);
    }
    WorkFolderJournal::sweep();
}

} // namespace

WorkerPool::WorkerPool(QString program, Handles handles, int warmWorkers)
    : m_program(std::move(program))
    , m_handles(std::move(handles))
    , m_warm(std::max(warmWorkers, 0))
{
    // A worker that dies while we write to it must not take us with it.
    std::signal(SIGPIPE, SIG_IGN);
    // Once, before this process holds any item's inputs.
    OpenFilesLimit::raise();
    m_spawner = std::thread([this] { spawnerLoop(); });
}

WorkerPool::~WorkerPool()
{
    shutdown();
}

QString WorkerPool::defaultProgram()
{
    const QString given = qEnvironmentVariable("QUORVENDA_WORKER");
    if (!given.isEmpty())
        return given;
    // Also before the application object is made: a one-shot run starts its worker first.
    const QString folder = QCoreApplication::instance() ? QCoreApplication::applicationDirPath()
                                                        : QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    return folder + QStringLiteral("/quorvenda-worker");
}

bool WorkerPool::handles(const QString& operationId) const
{
    return m_handles && m_handles(operationId);
}

int WorkerPool::startedCount() const
{
    std::lock_guard locker(m_lock);
    return m_started;
}

int WorkerPool::idleCount() const
{
    std::lock_guard locker(m_lock);
    return int(m_fresh.size() + m_used.size());
}

void WorkerPool::setIdleLimit(std::chrono::milliseconds limit)
{
    {
        std::lock_guard locker(m_lock);
        m_idleLimit = limit;
        ++m_idleChanges;
    }
    m_changed.notify_all();
}

std::optional<std::chrono::steady_clock::time_point>
WorkerPool::takeRetired(std::vector<std::unique_ptr<Worker>>& retired)
{
    for (std::unique_ptr<Worker>& worker : m_ended)
        retired.push_back(std::move(worker));
    m_ended.clear();
    const auto now = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> next;
    const auto due = [&](const Worker& worker) {
        const auto at = worker.idleSince + m_idleLimit;
        if (at <= now)
            return true;
        next = next ? std::min(*next, at) : at;
        return false;
    };
    for (auto it = m_used.begin(); it != m_used.end();) {
        if (due(*it->second)) {
            retired.push_back(std::move(it->second));
            it = m_used.erase(it);
        } else {
            ++it;
        }
    }
    // The newest warm worker stays twice as long, so an item soon after a batch need not wait
    // for a start; then it goes too, and an idle tray application holds no worker at all (the
    // application starts one again when a wheel is asked for).
    std::sort(m_fresh.begin(), m_fresh.end(),
              [](const auto& a, const auto& b) { return a->idleSince > b->idleSince; });
    if (!m_fresh.empty()) {
        const auto at = m_fresh.front()->idleSince + 2 * m_idleLimit;
        if (at <= now) {
            retired.push_back(std::move(m_fresh.front()));
            m_fresh.pop_front();
        } else {
            next = next ? std::min(*next, at) : at;
        }
    }
    for (auto it = m_fresh.begin() + std::min<std::ptrdiff_t>(1, std::ptrdiff_t(m_fresh.size()));
         it != m_fresh.end();) {
        if (due(**it)) {
            retired.push_back(std::move(*it));
            it = m_fresh.erase(it);
        } else {
            ++it;
        }
    }
    return next;
}

void WorkerPool::warmUp()
{
    requestSpares();
}

void WorkerPool::setWarmCount(int count)
{
    std::lock_guard locker(m_lock);
    m_warm = std::max(count, 0);
}

void WorkerPool::startAhead(int count, const QString& operationId)
{
    std::lock_guard locker(m_lock);
    if (!operationId.isEmpty())
        m_aheadFor = operationId;
    const int missing = count - int(m_fresh.size()) - m_pendingSpawns;
    if (missing > 0) {
        m_pendingSpawns += missing;
        m_changed.notify_all();
    }
}

void WorkerPool::shutdown()
{
    {
        std::lock_guard locker(m_lock);
        m_stopping = true;
    }
    m_changed.notify_all();
    // A worker being started now is ended and its folder removed before this returns.
    if (m_spawner.joinable() && m_spawner.get_id() != std::this_thread::get_id())
        m_spawner.join();
    clear();
}

void WorkerPool::clear()
{
    std::deque<std::unique_ptr<Worker>> fresh;
    std::deque<std::pair<QString, std::unique_ptr<Worker>>> used;
    std::vector<std::unique_ptr<Worker>> ended;
    {
        std::lock_guard locker(m_lock);
        fresh.swap(m_fresh);
        used.swap(m_used);
        ended.swap(m_ended);
    }
    // All are killed first, so they end side by side; each is then reaped with its folder.
    for (const std::unique_ptr<Worker>& worker : fresh)
        worker->process->killSession();
    for (const auto& [key, worker] : used)
        worker->process->killSession();
}

void WorkerPool::setLoadAhead(LoadAhead loadAhead)
{
    m_loadAhead = std::move(loadAhead);
}

std::unique_ptr<WorkerPool::Worker> WorkerPool::spawn(const QString& aheadFor)
{
    auto worker = std::make_unique<Worker>();
    const QString path = TemporaryRoot::secure() + QLatin1Char('/') + QLatin1String(WorkFolder::hiddenPrefix)
        + QUuid::createUuid().toString(QUuid::WithoutBraces);
    // Live while the worker lives: a sweep after another worker's death or a purge would
    // otherwise take it, the journal naming this process as its owner.
    WorkFolderRegistry::add(path);
    worker->temporary = path;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot create %1").arg(path));
    // The inputs' descriptors go on a socket of its own, beside the requests' pipe (a pipe
    // carries no descriptors); its end reaches the worker under the number its environment names.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0)
        throw SystemError::fromErrno(errno, QStringLiteral("Cannot start %1").arg(m_program));
    worker->descriptors = ends[0];
    const auto closeTheirs = qScopeGuard([theirs = ends[1]] { ::close(theirs); });
    QHash<QString, QString> environment = SandboxEnvironment::forWorker(path);
    environment.insert(QLatin1String(descriptorsVariable), QString::number(ends[1]));
    if (m_loadAhead && !aheadFor.isEmpty()) {
        const QByteArray ahead = m_loadAhead(aheadFor);
        if (!ahead.isEmpty())
            environment.insert(QLatin1String(loadAheadVariable), QString::fromLatin1(ahead));
    }
    // The worker limits itself by each request (the sanitizers' shadow memory would not fit ours).
    worker->process = std::make_unique<ChildProcess>(m_program, QStringList{}, environment, std::nullopt, true,
                                                     ChildProcess::Role::sandbox, ends[1]);
    if (!writeFrame(worker->process->stdinFd(), pingMessage()))
        throw SystemError::fromErrno(EPIPE, QStringLiteral("%1 did not start").arg(m_program));
    // Listed while the worker loads: the journal's write waits for the disk. A crash of ours
    // before it leaves the new folder to the temporary root's purge by age.
    if (!WorkFolderJournal::add(path))
        throw SystemError::fromErrno(EIO, QStringLiteral("Cannot list %1").arg(path));
    return worker;
}

void WorkerPool::spawnerLoop()
{
    // Workers started and not yet answering their ping, with when each was started. They load
    // side by side, and one that is slow to load holds up no other start. A worker is handed
    // out once it answers, loaded and listening: a caller that finds none ready may then be
    // served sooner by a busy one that frees up than by one still loading its libraries.
    std::vector<std::pair<std::unique_ptr<Worker>, qint64>> loading;
    QElapsedTimer clock;
    clock.start();
    std::unique_lock locker(m_lock);
    for (;;) {
        // Idle workers past the limit are ended here, off the lock; an idle pool with nothing
        // left to retire sleeps until something happens.
        std::vector<std::unique_ptr<Worker>> retired;
        const std::optional<std::chrono::steady_clock::time_point> nextRetirement = takeRetired(retired);
        if (!retired.empty()) {
            locker.unlock();
            retired.clear();
            locker.lock();
            continue;
        }
        if (loading.empty()) {
            const int seen = m_idleChanges;
            const auto woken = [this, seen] {
                return m_stopping || m_pendingSpawns > 0 || m_idleChanges != seen || !m_ended.empty();
            };
            if (nextRetirement)
                m_changed.wait_until(locker, *nextRetirement, woken);
            else
                m_changed.wait(locker, woken);
        }
        if (m_stopping)
            break;
        const int toStart = m_pendingSpawns - int(loading.size());
        const QString aheadFor = m_aheadFor;
        locker.unlock();
        int failed = 0;
        for (int i = 0; i < toStart; ++i) {
            try {
                loading.emplace_back(spawn(aheadFor), clock.elapsed());
            } catch (const std::exception&) {
                ++failed;
            }
        }
        std::vector<std::unique_ptr<Worker>> ready;
        if (!loading.empty()) {
            std::vector<pollfd> fds;
            for (const auto& [worker, started] : loading)
                fds.push_back({worker->process->stdoutFd(), POLLIN, 0});
            // New requests and a quit are noticed between short waits.
            const int polled = ::poll(fds.data(), fds.size(), 10);
            for (std::size_t i = fds.size(); i-- > 0;) {
                auto& [worker, started] = loading[i];
                Loading state = polled > 0 && fds[i].revents ? readPingAnswer(fds[i].fd, worker->reader)
                                                             : Loading::pending;
                if (state == Loading::pending && clock.elapsed() - started >= startLimitMs)
                    state = Loading::failed;
                if (state == Loading::pending)
                    continue;
                if (state == Loading::ready)
                    ready.push_back(std::move(worker));
                else
                    ++failed;
                loading.erase(loading.begin() + std::ptrdiff_t(i));
            }
        }
        locker.lock();
        m_pendingSpawns -= int(ready.size()) + failed;
        if (m_stopping) {
            locker.unlock();
            return; // what is loading or ready goes, folders with it
        }
        for (std::unique_ptr<Worker>& worker : ready) {
            ++m_started;
            worker->idleSince = std::chrono::steady_clock::now();
            m_fresh.push_back(std::move(worker));
            ++m_idleChanges;
        }
        if (failed > 0) {
            qCWarning(jobsLog, "Could not start the worker %s", qUtf8Printable(m_program));
            m_spawnFailed = true;
        }
        if (!ready.empty() || failed > 0)
            m_changed.notify_all();
    }
    locker.unlock();
}

void WorkerPool::letGo(std::unique_ptr<Worker> worker)
{
    std::unique_lock locker(m_lock);
    if (m_stopping) {
        // The spawner may be gone: its folder goes here.
        locker.unlock();
        worker.reset();
        return;
    }
    m_ended.push_back(std::move(worker));
    m_changed.notify_all();
}

void WorkerPool::requestSpares()
{
    std::lock_guard locker(m_lock);
    const int missing = m_warm + m_waiting - int(m_fresh.size()) - m_pendingSpawns;
    if (missing > 0) {
        m_pendingSpawns += missing;
        m_changed.notify_all();
    }
}

std::unique_ptr<WorkerPool::Worker> WorkerPool::takeUsed(const QString& key)
{
    for (auto it = m_used.begin(); it != m_used.end(); ++it) {
        if (it->first == key) {
            std::unique_ptr<Worker> worker = std::move(it->second);
            m_used.erase(it);
            return worker;
        }
    }
    return nullptr;
}

std::unique_ptr<WorkerPool::Worker> WorkerPool::take(const QString& key, bool freshOnly)
{
    std::unique_ptr<Worker> worker;
    {
        std::unique_lock locker(m_lock);
        if (!freshOnly && (worker = takeUsed(key)))
            return worker;
        ++m_waiting;
        m_spawnFailed = false;
    }
    requestSpares();
    std::unique_lock locker(m_lock);
    // A worker that frees up meanwhile serves sooner than one still starting, which then
    // waits as a spare: many short calls at once need not wait for a start each.
    m_changed.wait(locker, [&] {
        return !m_fresh.empty() || m_spawnFailed || m_stopping
            || (!freshOnly
                && std::any_of(m_used.begin(), m_used.end(), [&](const auto& used) { return used.first == key; }));
    });
    --m_waiting;
    if (!freshOnly && (worker = takeUsed(key)))
        return worker;
    if (m_fresh.empty())
        throw EngineError(QStringLiteral("Quorvenda couldn't start a worker for this file"),
                          QStringLiteral("Could not start %1").arg(m_program));
    worker = std::move(m_fresh.front());
    m_fresh.pop_front();
    locker.unlock();
    requestSpares();
    return worker;
}

void WorkerPool::giveBack(std::unique_ptr<Worker> worker, const QString& key)
{
    if (++worker->served >= itemsPerWorker)
        return;
    std::lock_guard locker(m_lock);
    if (m_stopping)
        return;
    worker->idleSince = std::chrono::steady_clock::now();
    m_used.emplace_front(key, std::move(worker));
    while (m_used.size() > usedKept)
        m_used.pop_back();
    ++m_idleChanges;
    m_changed.notify_all();
}

struct WorkerPool::Exchange {
    std::optional<QJsonObject> ending;
    QStringList work;
    QStringList placed;
    QByteArray errors;
    bool cancelled = false;
    bool answered = false;
    bool timedOut = false;
    // What the watch saw it do beyond its limits.
    std::optional<QString> overrun;
};

WorkerPool::Exchange WorkerPool::exchange(Worker& worker, const QJsonObject& message, std::stop_token stop,
                                          Progress* progress, std::optional<std::chrono::milliseconds> limit,
                                          const SandboxWatch::Limits& watched, NameWatch* names)
{
    Exchange result;
    SandboxWatch watch(*worker.process, watched);
    const auto started = std::chrono::steady_clock::now();
    // A limit counts the processor time from the start: the first look is at once.
    auto nextCheck = limit ? started : started + SandboxWatch::interval;
    double lastFraction = -1;
    ChildProcess& process = *worker.process;
    const int cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (cancelFd < 0)
        throw EngineError(QStringLiteral("Quorvenda couldn't start a worker for this file"),
                          QString::fromUtf8(std::strerror(errno)));
    const auto closeCancel = qScopeGuard([cancelFd] { ::close(cancelFd); });
    std::stop_callback onStop(stop, [cancelFd] {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(cancelFd, &one, sizeof one);
    });

    int stdoutFd = writeFrame(process.stdinFd(), message) ? process.stdoutFd() : -1;
    int stderrFd = process.stderrFd();
    while (!result.ending && stdoutFd >= 0) {
        // The names' events are read as they come: a queue left to fill would drop them.
        pollfd fds[4] = {{stdoutFd, POLLIN, 0}, {stderrFd, POLLIN, 0}, {cancelFd, POLLIN, 0},
                         {names ? names->fd() : -1, POLLIN, 0}};
        int wait = -1;
        if (limit) {
            // The limit is the worker's time, not the machine's: past it, a worker is ended once
            // it used that much processor time, or none for as long, or waited ten times as long.
            // A busy machine keeps an honest question waiting for its share.
            const auto now = std::chrono::steady_clock::now();
            const auto waited = now - started;
            if (waited < *limit) {
                wait = int(std::chrono::ceil<std::chrono::milliseconds>(*limit - waited).count());
            } else if (watch.processorTime() >= *limit || now - watch.movedAt() >= *limit || waited >= 10 * *limit) {
                result.timedOut = true;
                break;
            }
        }
        const auto untilCheck = std::chrono::duration_cast<std::chrono::milliseconds>(nextCheck - std::chrono::steady_clock::now());
        if (untilCheck.count() <= 0) {
            if ((result.overrun = watch.check()))
                break;
            nextCheck = std::chrono::steady_clock::now() + SandboxWatch::interval;
            continue;
        }
        wait = wait < 0 ? int(untilCheck.count()) : std::min(wait, int(untilCheck.count()));
        const int ready = ::poll(fds, 4, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            continue;
        if (fds[2].revents) {
            result.cancelled = true;
            break;
        }
        if (fds[3].revents)
            names->changed();
        if (fds[1].revents) {
            char chunk[8192];
            const ssize_t got = ::read(stderrFd, chunk, sizeof chunk);
            if (got > 0) {
                result.errors.append(chunk, got);
                if (result.errors.size() > 2 * stderrKept)
                    result.errors = result.errors.right(stderrKept);
            } else if (got == 0 || errno != EAGAIN) {
                stderrFd = -1;
            }
        }
        if (fds[0].revents) {
            char chunk[65536];
            const ssize_t got = ::read(stdoutFd, chunk, sizeof chunk);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
                break;
            if (got > 0)
                worker.reader.append(QByteArray(chunk, got));
            while (std::optional<QJsonObject> reply = worker.reader.next()) {
                result.answered = true;
                const QString type = reply->value(QStringLiteral("type")).toString();
                const QString path = reply->value(QStringLiteral("path")).toString();
                if (type == QLatin1String("progress")) {
                    const double fraction = reply->value(QStringLiteral("fraction")).toDouble();
                    // Only a step forward is progress: a decoder that says the same, or goes back
                    // and forth, is not moving.
                    if (fraction > lastFraction) {
                        lastFraction = fraction;
                        watch.progressed();
                    }
                    if (progress)
                        reportProgress(fraction, *progress);
                } else if (type == QLatin1String("work")) {
                    result.work.append(path);
                } else if (type == QLatin1String("placed")) {
                    result.placed.append(path);
                } else if (type == QLatin1String("done") || type == QLatin1String("failed")
                           || type == QLatin1String("answer")) {
                    result.ending = std::move(reply);
                    break;
                }
            }
            if (worker.reader.broken())
                break;
        }
    }
    return result;
}

bool WorkerPool::endDeadWorker(Worker& worker, Exchange& exchange, const QString& what, bool mayRetry,
                               const QStringList& writable)
{
    ChildProcess& process = *worker.process;
    // The init of a worker that died by itself reports how before it ends: given a moment, the
    // details name the worker's own signal rather than our SIGKILL of the init.
    if (!exchange.cancelled && !exchange.timedOut && !exchange.overrun && process.isolated())
        process.waitForEnd(std::chrono::milliseconds(1000));
    if (exchange.cancelled) {
        // A worker's own decoding is killed at once. The programs it runs may be writing a file
        // worth ending cleanly: they are asked first, as FFmpeg's "q" asks (SIGINT; SIGTERM for
        // the others), and given a second before everything is killed.
        if (process.signalSessionMembers(SIGINT) > 0) {
            process.signalSessionMembers(SIGTERM);
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
            while (process.signalSessionMembers(0) > 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    process.killSession();
    process.signalGroup(SIGKILL);
    const int status = process.wait();
    // What it said before it died, still in the pipe, names more of what it left.
    if (process.stdoutFd() >= 0) {
        char chunk[65536];
        ssize_t got;
        while ((got = ::read(process.stdoutFd(), chunk, sizeof chunk)) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0)
                worker.reader.append(QByteArray(chunk, got));
        }
        while (std::optional<QJsonObject> reply = worker.reader.next()) {
            const QString type = reply->value(QStringLiteral("type")).toString();
            if (type == QLatin1String("work"))
                exchange.work.append(reply->value(QStringLiteral("path")).toString());
            else if (type == QLatin1String("placed"))
                exchange.placed.append(reply->value(QStringLiteral("path")).toString());
        }
    }
    removeTrail(exchange.work, exchange.placed, writable);
    if (exchange.cancelled)
        throw CancellationError();
    if (exchange.overrun) {
        qCWarning(jobsLog, "%s: %s", qUtf8Printable(what), qUtf8Printable(*exchange.overrun));
        const bool slow = exchange.overrun->contains(QLatin1String("progress"));
        throw EngineError(slow ? QStringLiteral("This file took too long and was stopped")
                               : QStringLiteral("This file couldn't be read"),
                          *exchange.overrun);
    }
    // A worker that refused a request it cannot serve before starting it: once more with a
    // fresh one.
    if (mayRetry && !exchange.answered && WIFEXITED(status) && WEXITSTATUS(status) == 3)
        return true;
    QString details;
    if (WIFSIGNALED(status))
        details = QStringLiteral("The worker reading it ended by signal %1 (%2)")
                      .arg(WTERMSIG(status))
                      .arg(signalText(WTERMSIG(status)));
    else if (WIFEXITED(status))
        details = QStringLiteral("The worker reading it ended with status %1").arg(WEXITSTATUS(status));
    else
        details = QStringLiteral("The worker reading it stopped answering");
    if (exchange.timedOut)
        details = QStringLiteral("The worker reading it did not answer in time");
    else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGXCPU)
        details += QStringLiteral(" after its CPU time ran out");
    const QString tail = QString::fromUtf8(exchange.errors.right(stderrKept)).trimmed();
    if (!tail.isEmpty())
        details += QStringLiteral("\n") + tail;
    qCWarning(jobsLog, "%s: %s", qUtf8Printable(what), qUtf8Printable(details));
    throw EngineError(QStringLiteral("This file couldn't be read"), details);
}

QList<QUrl> WorkerPool::run(const RunRequest& request, std::stop_token stop, Progress& progress,
                            JobNotes& notes)
{
    {
        // The spares started while it runs will likely serve more items of the same job.
        std::lock_guard locker(m_lock);
        m_aheadFor = request.operationId;
    }
    // The worker writes only in the item's work folder; results are placed from there by us.
    auto placement = std::make_unique<ResultPlacement>(request);
    // Every item runs in a worker that served no other item: one started warm, or one that
    // answered only questions about these very files (the header question before it). It ends
    // with the item, its folder (the programs' profiles, HOME, TMPDIR) with it.
    const QString key = workerKey(request.memoryLimitBytes, namedPaths(request));
    const bool alone = needsAWorkerOfItsOwn(request) || !placement->sharedFolder().isEmpty();
    RunRequest pinned = pinnedInputs(request);
    // Held until the item ends, whatever the end; its worker got copies of its own.
    const auto closeInputs = qScopeGuard([&pinned] { closeDescriptors(pinned.descriptors); });
    // A name swapped and put back while the item runs is never seen by a look at the path:
    // watched from here, and looked at once more now that the watch stands.
    NameWatch names(heldFilePaths(pinned));
    for (qsizetype i = 0; i < pinned.files.size() && i < pinned.descriptors.size(); ++i) {
        if (pinned.descriptors[i] >= 0 && fileIdentity(pinned.files[i].path()) != fileIdentity(pinned.descriptors[i]))
            throw EngineError(replacedMessage(), pinned.files[i].path());
    }
    if (m_inputsChecked)
        m_inputsChecked(pinned);
    // The folder the results go to, held from the start: one moved away and replaced by a link
    // (to a folder elsewhere) while the item runs takes no result.
    const QString destination = placement->destinationFolder();
    const int destinationFd = ::open(QFile::encodeName(destination).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto closeDestination = qScopeGuard([destinationFd] {
        if (destinationFd >= 0)
            ::close(destinationFd);
    });
    const QString chosenDestination = request.chosenFolders.value(destination);
    if (destinationFd >= 0 && !chosenDestination.isEmpty() && fileIdentity(destinationFd) != chosenDestination)
        throw EngineError(destinationReplaced(), destination);
    placement->holdDestination(destinationFd);
    for (int attempt = 0;; ++attempt) {
        throwIfCancelled(stop);
        std::unique_ptr<Worker> worker = take(key, alone);
        RunRequest sent = pinned;
        sent.workFolder = placement->prepare(worker->temporary);
        SandboxWatch::Limits watched;
        watched.residentBytes = request.memoryLimitBytes;
        watched.processes = processLimit;
        watched.quiet = std::chrono::seconds(request.quietSeconds);
        watched.still = std::min<std::chrono::milliseconds>(watched.quiet, stillLimit);
        watched.work = std::chrono::seconds(request.workSeconds);
        // Before the frame that names them, so they are there when it is read.
        if (!sendDescriptors(worker->descriptors, sent.descriptors))
            throw EngineError(QStringLiteral("Quorvenda couldn't start a worker for this file"),
                              QStringLiteral("Its input could not be handed to the worker: %1")
                                  .arg(QString::fromUtf8(std::strerror(errno))));
        Exchange result = exchange(*worker, runMessage(sent), stop, &progress, std::nullopt, watched, &names);
        if (!result.ending) {
            endDeadWorker(*worker, result, request.operationId, attempt == 0, writableFolders(sent));
            continue;
        }
        const QJsonObject ending = *result.ending;
        // What the user reads and pastes comes from what the operation says, never verbatim
        // from a worker that may be compromised.
        QStringList said;
        for (const QJsonValue& text : ending.value(QStringLiteral("messages")).toArray())
            said.append(text.toString());
        const QStringList messages = WorkerNotes::messages(said, request);
        if (ending.value(QStringLiteral("type")).toString() == QLatin1String("done")) {
            QList<QUrl> outputs;
            for (const QJsonValue& output : ending.value(QStringLiteral("outputs")).toArray())
                outputs.append(QUrl(output.toString()));
            // A cancel that came as it ended leaves nothing placed. Nothing of the worker is
            // left when its results are placed: a descriptor it kept to one changes nothing.
            worker->process.reset();
            throwIfCancelled(stop);
            if (names.changed())
                throw EngineError(replacedMessage(), names.changedPath());
            if (destinationFd >= 0 && fileIdentity(destination) != fileIdentity(destinationFd))
                throw EngineError(destinationReplaced(), destination);
            // The worker has ended already: nothing is left for the placement to end.
            const QList<QUrl> placed = placement->place(outputs, stagedResults(ending), notes, {});
            for (const QString& message : messages)
                notes.addMessage(message);
            const QJsonValue clipboard = ending.value(QStringLiteral("clipboard"));
            if (const std::optional<QString> text = WorkerNotes::clipboard(
                    clipboard.isString() ? std::optional<QString>(clipboard.toString()) : std::nullopt, request, placed))
                notes.addClipboardText(*text);
            // What is left of the item (its work folder, an extraction's staged tree) goes with
            // the worker's folder on the spawner thread, while the job ends.
            worker->leftover = std::move(placement);
            letGo(std::move(worker));
            return placed;
        }
        for (const QString& message : messages)
            notes.addMessage(message);
        worker.reset();
        if (ending.value(QStringLiteral("cancelled")).toBool())
            throw CancellationError();
        throw EngineError(WorkerNotes::failure(ending.value(QStringLiteral("message")).toString()),
                          WorkerNotes::details(ending.value(QStringLiteral("details")).toString()));
    }
}

void WorkerPool::setInputsChecked(std::function<void(const WorkerProtocol::RunRequest&)> hook)
{
    m_inputsChecked = std::move(hook);
}

QJsonObject WorkerPool::call(const QString& name, const QJsonObject& arguments, std::stop_token stop,
                             qint64 memoryLimitBytes, std::chrono::milliseconds limit,
                             std::chrono::milliseconds processorLimit)
{
    // The same key as an item's about the same files: the header question before an item is
    // asked of the worker that then runs it.
    const QString key = workerKey(memoryLimitBytes, namedPaths(arguments));
    for (int attempt = 0;; ++attempt) {
        throwIfCancelled(stop);
        std::unique_ptr<Worker> worker = take(key);
        SandboxWatch::Limits watched;
        watched.residentBytes = memoryLimitBytes;
        watched.processes = processLimit;
        watched.work = processorLimit;
        Exchange result = exchange(*worker, callMessage(name, arguments, memoryLimitBytes), stop, nullptr, limit, watched);
        if (!result.ending) {
            endDeadWorker(*worker, result, name, attempt == 0, {TemporaryRoot::path()});
            continue;
        }
        const QJsonObject ending = *result.ending;
        giveBack(std::move(worker), key);
        if (ending.value(QStringLiteral("type")).toString() == QLatin1String("answer"))
            return ending.value(QStringLiteral("result")).toObject();
        throw EngineError(WorkerNotes::failure(ending.value(QStringLiteral("message")).toString()),
                          WorkerNotes::details(ending.value(QStringLiteral("details")).toString()));
    }
}

} // namespace qv
