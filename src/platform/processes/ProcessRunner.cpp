#include "platform/processes/ProcessRunner.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/Log.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/OutputCollector.h"

#include <QFileInfo>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace qv {

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Time a cancelled program gets to end after SIGINT and SIGTERM before its group gets SIGKILL.
constexpr auto killDelay = 1s;
// After the program ended, how long its pipes are still read, whatever a process it left
// behind keeps writing; past that the run returns without the rest.
constexpr auto exitGrace = 2s;
// Without a pidfd the end of the program is polled.
constexpr auto exitPollInterval = 50ms;
constexpr qsizetype readChunk = 64 * 1024;

class WakeFd {
public:
    WakeFd() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (m_fd < 0)
            throw SystemError::fromErrno(errno, QStringLiteral("Cannot create an event descriptor"));
    }
    ~WakeFd() { ::close(m_fd); }
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    int fd() const { return m_fd; }
    void wake() const
    {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(m_fd, &one, sizeof one);
    }
    void drain() const
    {
        uint64_t count;
        [[maybe_unused]] const ssize_t got = ::read(m_fd, &count, sizeof count);
    }

private:
    int m_fd;
};

enum class ReadResult { data, endOfFile, nothing };

ReadResult readSome(int fd, QByteArray& buffer)
{
    buffer.resize(readChunk);
    ssize_t got;
    do {
        got = ::read(fd, buffer.data(), static_cast<size_t>(buffer.size()));
    } while (got < 0 && errno == EINTR);
    if (got > 0) {
        buffer.resize(got);
        return ReadResult::data;
    }
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return ReadResult::nothing;
    return ReadResult::endOfFile; // a read error ends the stream as well
}

int pollTimeout(SteadyClock::time_point now, std::optional<SteadyClock::time_point> until)
{
    if (!until)
        return -1;
    if (*until <= now)
        return 0;
    // Rounded up, so the loop never spins just before the moment.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*until - now).count());
}

// Resident memory stays below the address space, which also holds what was only reserved.
bool cameNearMemoryLimit(const ChildProcess& child)
{
    const qint64 limit = child.startedMemoryLimit();
    return limit > 0 && child.peakResidentBytes() * 5 >= limit * 2;
}

// Whether a program that failed did so for want of memory: it came near its address-space
// limit, or said so. Without a limit of ours it is no verdict of ours either.
bool ranOutOfMemory(const ChildProcess& child, const ProcessRunner::Output& output)
{
    if (child.startedMemoryLimit() <= 0 || (output.status == 0 && !output.terminatedBySignal))
        return false;
    if (output.reachedMemoryLimit)
        return true;
    const QString log = output.stderrText().right(4096).toLower();
    for (const char* words : {"out of memory", "cannot allocate memory", "bad_alloc", "memoryerror",
                              "vmerror", "memory exhausted", "failed to allocate", "not enough memory"}) {
        if (log.contains(QLatin1String(words)))
            return true;
    }
    return false;
}

} // namespace

QString ProcessRunner::memoryMessage()
{
    return QStringLiteral("This file is too large to convert");
}

QString ProcessRunner::Failure::localizedDescription() const
{
    return m_tool + QStringLiteral(" exited with status ") + QString::number(m_output.status);
}

ProcessRunner::Output ProcessRunner::run(const QUrl& executable, const QStringList& arguments,
                                         std::stop_token stop,
                                         const std::optional<QHash<QString, QString>>& environment,
                                         const std::optional<QUrl>& currentDirectory,
                                         const LineHandler& onStdoutLine,
                                         const ChunkHandler& onStdoutChunk)
{
    throwIfCancelled(stop);

    const QString program = executable.isLocalFile() ? executable.toLocalFile() : executable.toString();
    if (!executable.isLocalFile()) {
        throw SystemError(SystemError::posixDomain, EINVAL,
                          QStringLiteral("Cannot start %1: it is not a local program").arg(program));
    }
    std::optional<QString> directory;
    if (currentDirectory)
        directory = currentDirectory->toLocalFile();

    const WakeFd waker;
    ChildProcess child(program, arguments, environment, directory);
    const QString name = QFileInfo(program).fileName();

    OutputCollector collector(static_cast<bool>(onStdoutLine));
    std::atomic<bool> cancelled = false;
    bool exited = false;
    bool killed = false;
    std::optional<SteadyClock::time_point> killAt;
    std::optional<SteadyClock::time_point> readUntil; // set when the program ends
    QByteArray buffer;

    {
        // Runs at once when the stop came between the check above and the start.
        const std::stop_callback onStop(stop, [&child, &cancelled, &waker] {
            cancelled.store(true);
            // SIGINT is FFmpeg's "q": it stops at once and closes its files; SIGTERM for those that
            // only listen to that.
            child.signalGroup(SIGINT);
            child.signalGroup(SIGTERM);
            waker.wake();
        });

        for (;;) {
            const auto now = SteadyClock::now();
            if (cancelled.load() && !killAt)
                killAt = now + killDelay;
            if (killAt && !killed && now >= *killAt) {
                qCDebug(enginesLog) << name << "did not stop when asked; killing its process group";
                child.signalGroup(SIGKILL);
                killed = true;
            }
            const bool pipesOpen = child.stdoutFd() >= 0 || child.stderrFd() >= 0;
            if (exited && (!pipesOpen || killed))
                break;
            if (exited && !cancelled.load() && now >= *readUntil) {
                qCWarning(enginesLog) << name << "ended but a process it started keeps its output open;"
                                      << "no longer reading it";
                break;
            }

            std::vector<pollfd> fds;
            fds.push_back({waker.fd(), POLLIN, 0});
            if (child.stdoutFd() >= 0)
                fds.push_back({child.stdoutFd(), POLLIN, 0});
            if (child.stderrFd() >= 0)
                fds.push_back({child.stderrFd(), POLLIN, 0});
            if (!exited && child.pidFd() >= 0)
                fds.push_back({child.pidFd(), POLLIN, 0});

            std::optional<SteadyClock::time_point> until;
            const auto earliest = [&until](SteadyClock::time_point t) {
                if (!until || t < *until)
                    until = t;
            };
            if (killAt && !killed)
                earliest(*killAt);
            if (exited && !cancelled.load())
                earliest(*readUntil);
            if (!exited && child.pidFd() < 0)
                earliest(now + exitPollInterval);

            if (::poll(fds.data(), fds.size(), pollTimeout(now, until)) < 0) {
                if (errno == EINTR)
                    continue;
                throw SystemError::fromErrno(errno, QStringLiteral("Cannot wait for ") + name);
            }

            for (const pollfd& entry : fds) {
                if (entry.revents == 0)
                    continue;
                if (entry.fd == waker.fd()) {
                    waker.drain();
                } else if (entry.fd == child.stdoutFd()) {
                    const ReadResult result = readSome(entry.fd, buffer);
                    if (result == ReadResult::endOfFile) {
                        child.closeStdout();
                    } else if (result == ReadResult::data && onStdoutChunk) {
                        onStdoutChunk(QByteArrayView(buffer));
                    } else if (result == ReadResult::data) {
                        const QStringList lines = collector.appendOut(buffer);
                        // Leaving by an exception kills the program's group (~ChildProcess).
                        if (collector.outOverflowed()) {
                            if (cancelled.load())
                                throw CancellationError();
                            throw SystemError(
                                SystemError::posixDomain, EFBIG,
                                QStringLiteral("%1 wrote more than %2 MB of output and was stopped")
                                    .arg(name)
                                    .arg(OutputCollector::stdoutLimit / (1024 * 1024)));
                        }
                        for (const QString& line : lines)
                            onStdoutLine(line);
                    }
                } else if (entry.fd == child.stderrFd()) {
                    const ReadResult result = readSome(entry.fd, buffer);
                    if (result == ReadResult::endOfFile) {
                        child.closeStderr();
                    } else if (result == ReadResult::data) {
                        collector.appendErr(buffer);
                    }
                } else if (entry.fd == child.pidFd()) {
                    exited = true;
                    readUntil = SteadyClock::now() + exitGrace;
                }
            }
            if (!exited && child.pidFd() < 0 && child.hasExited()) {
                exited = true;
                readUntil = SteadyClock::now() + exitGrace;
            }
        }
    } // the stop callback is gone before the program is reaped, so it never signals a reused pid

    const int waitStatus = child.wait();
    if (cancelled.load())
        throw CancellationError();
    if (onStdoutLine && !onStdoutChunk) {
        if (const std::optional<QString> last = collector.flushPending())
            onStdoutLine(*last);
    }

    Output output;
    if (waitStatus == -1) {
        output.status = -1;
    } else if (WIFSIGNALED(waitStatus)) {
        output.status = WTERMSIG(waitStatus);
        output.terminatedBySignal = true;
    } else {
        output.status = WEXITSTATUS(waitStatus);
    }
    output.stdoutData = collector.takeOut();
    output.stderrData = collector.takeErr();
    output.reachedMemoryLimit = cameNearMemoryLimit(child);
    // A status is the caller's to judge; running out of memory is the limit's, which is ours.
    if (ranOutOfMemory(child, output)) {
        const qint64 limitMB = child.startedMemoryLimit() >> 20;
        qCWarning(enginesLog, "%s ran out of its %lld MB of memory; the worker memory setting raises it",
                  qUtf8Printable(name), static_cast<long long>(limitMB));
        QString details = QStringLiteral("%1 needed more than the %2 MB of memory a program may use")
                              .arg(name)
                              .arg(limitMB);
        const QString tail = output.stderrText().right(2000).trimmed();
        if (!tail.isEmpty())
            details += QStringLiteral("\n") + tail;
        throw EngineError(memoryMessage(), details);
    }
    return output;
}

} // namespace qv
