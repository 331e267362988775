#pragma once

#include "model/errors/Error.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>
#include <stop_token>

namespace qv {

// The one way to run an external program. Arguments go to the program as they are (no shell),
// standard input is /dev/null, and the exit status is returned, never judged.
class ProcessRunner {
public:
    struct Output {
        // The exit status, or the number of the signal that ended the program.
        int status = 0;
        bool terminatedBySignal = false;
        // It came near its memory limit (resident memory at 40 % of the address space it may
        // use): when it failed, most likely for want of memory, whatever its status says.
        bool reachedMemoryLimit = false;
        // All of standard output when there is no line handler; empty with one.
        QByteArray stdoutData;
        // Only the most recent bytes: at most 256000, cut back to the last 128000 beyond that.
        QByteArray stderrData;

        // Decoded as UTF-8, every invalid sequence replaced by U+FFFD.
        QString stdoutText() const { return QString::fromUtf8(stdoutData); }
        QString stderrText() const { return QString::fromUtf8(stderrData); }
    };

    // Thrown by callers when a tool's non-zero status is a failure.
    class Failure : public Error {
    public:
        Failure(QString tool, Output output) : m_tool(std::move(tool)), m_output(std::move(output)) {}

        const QString& tool() const { return m_tool; }
        const Output& output() const { return m_output; }

        QString localizedDescription() const override;

    private:
        QString m_tool;
        Output m_output;
    };

    using LineHandler = std::function<void(const QString& line)>;
    using ChunkHandler = std::function<void(QByteArrayView bytes)>;

    // Runs the program and blocks the calling thread until it has ended and its output is read,
    // so it must run on a worker thread, never the main thread. Many runs may go on at once from
    // different threads.
    //
    // environment: absent, the program inherits ours; present (even empty), it is its whole
    // environment. currentDirectory: absent, it inherits ours. onStdoutLine: gets each line of
    // standard output in order without its line feed, on the calling thread, the unterminated
    // last line last; an exception it throws kills the program and is passed on. A line longer
    // than OutputCollector::lineLimit (4 MiB) arrives cut to that length, the rest of it dropped.
    //
    // onStdoutChunk: gets standard output as it is read, in order, on the calling thread; none of
    // it is kept (no limit applies) and onStdoutLine is not called. An exception it throws kills
    // the program and is passed on.
    //
    // Once the program has ended, its pipes are read for 2 more seconds at most: a process it
    // left behind may hold them open, and what it writes after that is not read.
    //
    // Throws CancellationError when stop is requested before the start (nothing is started) or
    // while the program runs: its whole process group then gets SIGINT and SIGTERM at once and
    // SIGKILL 1 second later if still alive, and the run returns only after it has ended.
    // The program runs under ChildProcess's memory limit; when it fails (a status other than 0,
    // or a signal) having come near it or saying it is out of memory, throws EngineError with
    // memoryMessage(). A program that fails with status 0 is for its caller to judge, with
    // Output::reachedMemoryLimit.
    // Throws SystemError when the program cannot be started, and when, with no line handler, it
    // writes more than OutputCollector::stdoutLimit (64 MiB) to standard output: its process
    // group is then killed, as nothing short of the whole output may pass for it.
    static Output run(const QUrl& executable, const QStringList& arguments, std::stop_token stop,
                      const std::optional<QHash<QString, QString>>& environment = std::nullopt,
                      const std::optional<QUrl>& currentDirectory = std::nullopt,
                      const LineHandler& onStdoutLine = {}, const ChunkHandler& onStdoutChunk = {});

    // "This file is too large to convert"
    static QString memoryMessage();

    ProcessRunner() = delete;
};

} // namespace qv
