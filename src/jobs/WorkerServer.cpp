#include "jobs/WorkerServer.h"

#include "jobs/OutputPlanner.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"
#include "model/operations/FileOperation.h"
#include "model/operations/JobNotes.h"
#include "model/operations/OperationContext.h"
#include "model/operations/Progress.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/LastRelease.h"
#include "platform/processes/OpenFilesLimit.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/sandbox/WorkerSandbox.h"
#include "platform/sandbox/WorkerTrail.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QScopeGuard>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace qv {

namespace {

using namespace WorkerProtocol;

// Frames leave from the item's thread and the progress thread alike.
class Replies {
public:
    explicit Replies(int fd) : m_fd(fd) {}
    void send(const QJsonObject& message)
    {
        std::lock_guard locker(m_lock);
        if (!writeFrame(m_fd, message))
            std::_Exit(0); // the application is gone: nobody wants the result
    }

private:
    int m_fd;
    std::mutex m_lock;
};

// Sends the progress every tenth of a second while it changes.
class ProgressSender {
public:
    ProgressSender(Progress& progress, Replies& replies)
        : m_thread([this, &progress, &replies] {
            double last = -1;
            std::unique_lock locker(m_lock);
            while (!m_stop) {
                const double fraction = progress.fractionCompleted();
                if (fraction - last >= 0.002) {
                    last = fraction;
                    replies.send(progressMessage(fraction));
                }
                m_wake.wait_for(locker, std::chrono::milliseconds(100));
            }
        })
    {
    }
    ~ProgressSender()
    {
        {
            std::lock_guard locker(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

bool beneath(const QString& path, const QStringList& folders)
{
    for (const QString& folder : folders) {
        if (path == folder || path.startsWith(folder + QLatin1Char('/')))
            return true;
    }
    return false;
}

QJsonObject runItem(const RunRequest& request, const WorkerServer::Lookup& lookup, Replies& replies)
{
    // The worker ends with its item.
    LastRelease::endWithItem();
    auto notes = std::make_shared<JobNotes>();
    Progress progress(1000);
    try {
        const std::optional<OperationDescriptor> descriptor = lookup(request.operationId);
        if (!descriptor || !descriptor->make)
            throw EngineError(QStringLiteral("This operation has nothing to run"), request.operationId);
        const std::optional<OperationOptions> options = decodeOperationOptions(request.options);
        if (!options)
            throw EngineError(QStringLiteral("This operation has nothing to run"),
                              QStringLiteral("Unreadable options"));
        const QUrl source = request.files.isEmpty() ? appTemporaryRoot() : request.files.first().url;
        // Results wait in the item's work folder; the application places them.
        OutputPlanner planner = request.workFolder.isEmpty()
            ? OutputPlanner(source, request.settings, notes)
            : OutputPlanner(source, request.settings, notes, request.workFolder);
        std::stop_source neverStopped; // a cancelled item's worker is killed, not asked
        const OperationContext context{request.files, *options, request.settings, notes,
                                       neverStopped.get_token()};
        const std::shared_ptr<FileOperation> operation = descriptor->make(context);
        if (!operation)
            throw EngineError(QStringLiteral("This operation has nothing to run"), request.operationId);
        QList<QUrl> inputs;
        for (const FileInfo& file : request.files)
            inputs.append(file.url);
        QList<QUrl> outputs;
        {
            ProgressSender sender(progress, replies);
            outputs = operation->run(inputs, planner, progress);
        }
        planner.removeWorkDirectory();
        QStringList paths;
        for (const QUrl& output : outputs)
            paths.append(output.toString(QUrl::FullyEncoded));
        return doneMessage(paths, notes->messages(), notes->clipboardText(), planner.staged());
    } catch (const std::bad_alloc&) {
        return failedMessage(QStringLiteral("This file couldn't be read"),
                             QStringLiteral("It needs more memory than a worker may use (%1 MB)")
                                 .arg(request.memoryLimitBytes >> 20),
                             false, notes->messages());
    } catch (const CancellationError&) {
        return failedMessage(QString(), QString(), true, notes->messages());
    } catch (...) {
        const JobFailure failure = jobFailure(std::current_exception());
        return failedMessage(failure.message, failure.details, false, notes->messages());
    }
}

// The files chosen, not ones put in their place since: the application compared each when the
// item started and handed over the file it held open; this process looks again behind its
// walls, which keep what it reads now, that each path still leads to that very file.
std::optional<QString> replacedInput(const RunRequest& request, const QStringList& heldIdentities)
{
    for (qsizetype i = 0; i < request.files.size(); ++i) {
        const QString held = heldIdentities.value(i);
        const QString chosen = !held.isEmpty() ? held : request.identities.value(i);
        const QString now = fileIdentity(request.files[i].path());
        // What became of a file that is gone, the operation says; one still held that its path
        // no longer leads to was moved or replaced.
        if (!chosen.isEmpty() && (!now.isEmpty() || !held.isEmpty()) && now != chosen)
            return request.files[i].name.isEmpty() ? QFileInfo(request.files[i].path()).fileName() : request.files[i].name;
    }
    return std::nullopt;
}

// What each input held is (empty where none is held), noted when it came: a folder's
// descriptor does not stay for the item.
QStringList heldIdentities(const RunRequest& request)
{
    QStringList identities;
    for (qsizetype i = 0; i < request.files.size(); ++i)
        identities.append(i < request.descriptors.size() && request.descriptors[i] >= 0 ? fileIdentity(request.descriptors[i])
                                                                                         : QString());
    return identities;
}

// A folder's descriptor was opened outside the view: ".." from it leads to everything beside
// the folder. Once the view and the rules are made from it, it goes.
void closeHeldFolders(QList<int>& descriptors)
{
    for (int& fd : descriptors) {
        struct stat status {};
        if (fd >= 0 && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
            ::close(fd);
            fd = -1;
        }
    }
}

// The inputs' paths and the descriptors held on them, for the walls.
QHash<QString, int> heldInputs(const RunRequest& request)
{
    QHash<QString, int> held;
    for (qsizetype i = 0; i < request.files.size() && i < request.descriptors.size(); ++i) {
        if (request.descriptors[i] >= 0)
            held.insert(request.files[i].path(), request.descriptors[i]);
    }
    return held;
}

QJsonObject answerCall(const WorkerServer::Calls& calls, const QJsonObject& message)
{
    const QString name = message.value(QStringLiteral("name")).toString();
    try {
        const auto it = calls.constFind(name);
        if (it == calls.constEnd())
            throw EngineError(QStringLiteral("This operation has nothing to run"), name);
        return answerMessage((*it)(message.value(QStringLiteral("arguments")).toObject()));
    } catch (const std::bad_alloc&) {
        return failedMessage(QStringLiteral("This file couldn't be read"),
                             QStringLiteral("It needs more memory than a worker may use"), false, {});
    } catch (...) {
        const JobFailure failure = jobFailure(std::current_exception());
        return failedMessage(failure.message, failure.details, false, {});
    }
}

// The requests and replies travel on descriptors nothing the worker starts inherits, and no
// other process of its user opens through /proc/<worker>/fd: a non-dumpable process's entries
// there are closed to them. Its own decoding may still be compromised; the application
// believes none of what it says.
int closeChannels(int input, int output)
{
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    ::fcntl(output, F_SETFD, FD_CLOEXEC);
    if (input > STDERR_FILENO) {
        ::fcntl(input, F_SETFD, FD_CLOEXEC);
        return input;
    }
    const int moved = ::fcntl(input, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0)
        return input;
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing >= 0) {
        ::dup2(nothing, input);
        ::close(nothing);
    }
    return moved;
}

} // namespace

// Processes and threads at once in a worker's namespaces: LibreOffice with its threads, or
// FFmpeg and libvips with a thread per core, stay far below it; a fork bomb stops there.
constexpr int processLimit = 512;

// The socket the inputs' descriptors come on, kept from what the worker starts.
int descriptorSocket()
{
    bool number = false;
    const int fd = qEnvironmentVariable(descriptorsVariable).toInt(&number);
    qunsetenv(descriptorsVariable);
    struct stat status {};
    if (!number || fd <= STDERR_FILENO || ::fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode))
        return -1;
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

namespace {

// Whether this is the process's only thread.
bool onlyThread()
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    return tasks.exists() && tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() == 1;
}

} // namespace

int WorkerServer::serve(int input, int output, const Lookup& lookup, const Calls& calls,
                        const std::function<void()>& beforeFirstRequest)
{
    WorkerSandbox::detach();
    // Started with the desktop's limit, as every program is: the inputs an item holds come as
    // descriptors, as many as the application holds.
    OpenFilesLimit::raise();
    input = closeChannels(input, output);
    const int handed = descriptorSocket();
    Replies replies(output);
    WorkerTrail::setObserver([&replies](WorkerTrail::Kind kind, const QString& path) {
        replies.send(kind == WorkerTrail::Kind::work ? workMessage(path) : placedMessage(path));
    });

    std::optional<QStringList> granted;
    bool viewed = false;
    bool alone = true;
    QStringList seen;
    qint64 memoryLimit = -1;
    FrameReader reader;
    bool first = true;
    for (;;) {
        const std::optional<QJsonObject> message = readFrame(input, reader);
        if (!message)
            return 0;
        if (message->value(QStringLiteral("type")).toString() == QLatin1String("ping")) {
            replies.send(answerMessage({}));
            continue;
        }
        if (first && beforeFirstRequest)
            beforeFirstRequest();
        first = false;
        const bool isCall = message->value(QStringLiteral("type")).toString() == QLatin1String("call");
        std::optional<RunRequest> request = isCall ? std::nullopt : runRequest(*message);
        if (!isCall && !request)
            return 2;
        // The inputs' descriptors, closed when the item ends; a request whose descriptors did
        // not come reads nothing.
        const bool handedOver = !request || receiveDescriptors(handed, request->descriptors);
        const auto closeInputs = qScopeGuard([&request] {
            if (request)
                closeDescriptors(request->descriptors);
        });
        const QHash<QString, int> held = request ? heldInputs(*request) : QHash<QString, int>();
        const QStringList heldIds = request ? heldIdentities(*request) : QStringList();
        const qint64 limit = isCall ? qint64(message->value(QStringLiteral("memoryLimit")).toDouble())
                                    : request->memoryLimitBytes;
        if (limit != memoryLimit) {
            if (memoryLimit >= 0)
                return 3; // a limit is never raised again: the application sends a fresh worker
            memoryLimit = limit;
            WorkerSandbox::limitMemory(memoryLimit);
            // What it starts gets the same, also where the sanitizers leave this process unlimited.
            ChildProcess::setMemoryLimit(memoryLimit);
        }
        if (request)
            WorkerSandbox::limitCpuTime(request->cpuSeconds);
        if (!granted) {
            try {
                TemporaryRoot::secure();
            } catch (...) {
                // The item says why when it needs the root.
            }
        }
        // Its own folder (its temporary root), and the item's work folder.
        QStringList folders{TemporaryRoot::path()};
        if (request)
            folders += writableFolders(*request);
        const QJsonObject arguments = message->value(QStringLiteral("arguments")).toObject();
        const QStringList readable = request ? readableFolders(*request) : readableFolders(arguments);
        const QStringList named = request ? namedPaths(*request) : namedPaths(arguments);
        if (!granted) {
            // Landlock holds for the thread that puts it up and those it starts later: one
            // started before would be a way around it for a decoder that took this one.
            alone = onlyThread();
            // The walls go up before the first file is touched, and stay for every later one.
            viewed = WorkerSandbox::enterView(readable, named, folders, held);
            WorkerSandbox::filterSystemCalls();
            WorkerSandbox::limitProcesses(processLimit);
            // Without a view, Landlock keeps reads to what the view would show.
            if (viewed)
                WorkerSandbox::restrictWritesTo(folders);
            else
                WorkerSandbox::restrictTo(folders, readable, named, held);
            granted = folders;
            seen = readable;
        } else {
            for (const QString& folder : folders) {
                if (!beneath(folder, *granted))
                    return 3;
            }
            for (const QString& folder : readable) {
                if (!beneath(folder, seen))
                    return 3;
            }
            // Landlock's rules name the files that were there when they were made: a file
            // made since (the last item's result) needs a fresh worker.
            for (const QString& path : named) {
                if (!viewed && !WorkerSandbox::mayRead(path))
                    return 3;
            }
        }
        if (request)
            closeHeldFolders(request->descriptors);
        // In namespaces of its own the view is the wall: where it failed on what it had to show
        // (something below a folder), the file is not opened at all. Where the kernel lets no
        // mount be made at all (a policy that takes a new namespace's rights), Landlock stands
        // in, as without namespaces.
        const bool walled = alone && (viewed || !WorkerSandbox::isolated() || WorkerSandbox::viewFailure().isEmpty());
        const std::optional<QString> replaced = request && walled ? replacedInput(*request, heldIds) : std::nullopt;
        QJsonObject reply = !handedOver
            ? failedMessage(QStringLiteral("This file couldn't be opened safely"),
                            QStringLiteral("The file chosen did not reach the worker"), false, {})
            : !alone
            ? failedMessage(QStringLiteral("This file couldn't be opened safely"),
                            QStringLiteral("Another thread of the worker ran when its walls went up"), false, {})
            : !walled
            ? failedMessage(QStringLiteral("This file couldn't be opened safely"),
                            QStringLiteral("The worker's view of the files could not be built: ")
                                + WorkerSandbox::viewFailure(),
                            false, {})
            : replaced ? failedMessage(replacedMessage(), *replaced, false, {})
            : request  ? runItem(*request, lookup, replies)
                       : answerCall(calls, *message);
        // A file put in an input's place while the item ran may be what it read: its result is
        // not the chosen file's.
        if (request && !request->descriptors.isEmpty()
            && reply.value(QStringLiteral("type")).toString() == QLatin1String("done")) {
            if (const std::optional<QString> swapped = replacedInput(*request, heldIds))
                reply = failedMessage(replacedMessage(), *swapped, false, {});
        }
        // Nothing it started outlives the item.
        WorkerSandbox::endStrays();
        replies.send(reply);
    }
}

} // namespace qv
