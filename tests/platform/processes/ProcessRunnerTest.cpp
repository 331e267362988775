#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/OutputCollector.h"
#include "platform/processes/ProcessRunner.h"
#include "support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <future>
#include <thread>

using namespace qv;
using namespace std::chrono_literals;

namespace {

const QUrl shell = QUrl::fromLocalFile(QStringLiteral("/bin/sh"));

ProcessRunner::Output runShell(const QString& script, const ProcessRunner::LineHandler& onLine = {},
                               const std::optional<QHash<QString, QString>>& environment = std::nullopt,
                               const std::optional<QUrl>& directory = std::nullopt)
{
    return ProcessRunner::run(shell, {QStringLiteral("-c"), script}, {}, environment, directory, onLine);
}

// A zombie waiting for its parent no longer runs.
bool isRunning(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close >= 0 && close + 2 < text.size() && text[close + 2] != 'Z' && text[close + 2] != 'X';
}

struct CancelledRun {
    QList<pid_t> pids; // the numbers the script printed, one a line
    std::chrono::milliseconds afterStop{};
};

// Runs the script and requests a stop from another thread 100 ms after it printed
// `readyLines` lines.
CancelledRun cancelShell(const QString& script, int readyLines)
{
    CancelledRun result;
    std::stop_source source;
    std::atomic<int> seen = 0;
    std::chrono::steady_clock::time_point stoppedAt;
    std::thread canceller([&] {
        while (seen.load() < readyLines)
            std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(100ms);
        stoppedAt = std::chrono::steady_clock::now();
        source.request_stop();
    });
    EXPECT_THROW(ProcessRunner::run(shell, {QStringLiteral("-c"), script}, source.get_token(), std::nullopt,
                                    std::nullopt,
                                    [&](const QString& line) {
                                        result.pids.append(line.toInt());
                                        ++seen;
                                    }),
                 CancellationError);
    const auto ended = std::chrono::steady_clock::now();
    canceller.join();
    result.afterStop = std::chrono::duration_cast<std::chrono::milliseconds>(ended - stoppedAt);
    return result;
}

} // namespace

TEST(ProcessRunner, ReturnsStatusAndOutputWithoutJudging)
{
    const auto output = runShell(QStringLiteral("echo hello; printf 'oops' >&2; exit 3"));
    EXPECT_EQ(output.status, 3);
    EXPECT_FALSE(output.terminatedBySignal);
    EXPECT_EQ(output.stdoutData, QByteArray("hello\n"));
    EXPECT_EQ(output.stderrText(), QStringLiteral("oops"));

    const auto invalid = runShell(QStringLiteral("printf 'a\\377b'"));
    EXPECT_EQ(invalid.status, 0);
    EXPECT_EQ(invalid.stdoutText(), QStringLiteral("a\uFFFDb"));

    const auto killed = runShell(QStringLiteral("kill -9 $$"));
    EXPECT_EQ(killed.status, 9);
    EXPECT_TRUE(killed.terminatedBySignal);

    // Arguments reach the program as they are, with no shell in between.
    const auto echoed = ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/echo")),
                                           {QStringLiteral("$HOME"), QStringLiteral("a b;c")}, {});
    EXPECT_EQ(echoed.stdoutText(), QStringLiteral("$HOME a b;c\n"));
}

TEST(ProcessRunner, HandsOverLinesInOrderWithTheUnterminatedOneLast)
{
    QStringList lines;
    const auto output = runShell(QStringLiteral("printf 'one\\ntwo\\r\\n'; sleep 0.05; printf 'thr'; sleep 0.05; "
                                                "printf 'ee\\n\\nlast'"),
                                 [&](const QString& line) { lines.append(line); });
    EXPECT_EQ(lines, (QStringList{"one", "two\r", "three", "", "last"}));
    EXPECT_TRUE(output.stdoutData.isEmpty()); // handed over, not kept as well

    // An exception from the handler ends the program and reaches the caller.
    EXPECT_THROW(runShell(QStringLiteral("echo x; exec sleep 100"),
                          [](const QString&) { throw std::runtime_error("stop reading"); }),
                 std::runtime_error);
}

TEST(ProcessRunner, EnvironmentAndWorkingDirectory)
{
    const auto env = QUrl::fromLocalFile(QStringLiteral("/usr/bin/env"));
    EXPECT_EQ(ProcessRunner::run(env, {}, {}, QHash<QString, QString>{}).stdoutData, QByteArray());
    EXPECT_EQ(ProcessRunner::run(env, {}, {}, QHash<QString, QString>{{"QV_ONLY", "x y"}}).stdoutText(),
              QStringLiteral("QV_ONLY=x y\n"));
    qputenv("QV_INHERITED", "yes");
    EXPECT_TRUE(ProcessRunner::run(env, {}, {}).stdoutText().contains(QStringLiteral("QV_INHERITED=yes")));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto pwd = runShell(QStringLiteral("pwd -P"), {}, std::nullopt, QUrl::fromLocalFile(dir.path()));
    EXPECT_EQ(pwd.stdoutText().trimmed(), QDir(dir.path()).canonicalPath());
}

TEST(ProcessRunner, StandardInputIsTheNullDevice)
{
    const auto cat = ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/cat")), {}, {});
    EXPECT_EQ(cat.status, 0);
    EXPECT_TRUE(cat.stdoutData.isEmpty());
    EXPECT_EQ(runShell(QStringLiteral("readlink /proc/self/fd/0")).stdoutText(), QStringLiteral("/dev/null\n"));
}

TEST(ProcessRunner, LargeOutputOnBothStreamsDoesNotDeadlock)
{
    const auto output = runShell(QStringLiteral("head -c 3000000 /dev/zero >&2; head -c 6000000 /dev/zero; "
                                                "head -c 1000000 /dev/zero >&2; printf end >&2"));
    EXPECT_EQ(output.status, 0);
    EXPECT_EQ(output.stdoutData.size(), 6000000);
    EXPECT_GE(output.stderrData.size(), OutputCollector::stderrKeep);
    EXPECT_LE(output.stderrData.size(), OutputCollector::stderrLimit);
    EXPECT_TRUE(output.stderrData.endsWith("end"));
}

TEST(ProcessRunner, StartFailuresAreClearErrors)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    bool called = false;
    const auto onLine = [&](const QString&) { called = true; };

    const QString missing = dir.filePath(QStringLiteral("no-such-program"));
    try {
        ProcessRunner::run(QUrl::fromLocalFile(missing), {}, {}, std::nullopt, std::nullopt, onLine);
        FAIL() << "a missing program started";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_EQ(error.localizedDescription(),
                  QStringLiteral("Cannot start %1: No such file or directory").arg(missing));
    }
    EXPECT_FALSE(called);

    const QString plain = dir.filePath(QStringLiteral("not-executable"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho hi\n");
    file.close();
    try {
        ProcessRunner::run(QUrl::fromLocalFile(plain), {}, {});
        FAIL() << "a file without execute permission started";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), EACCES);
    }

    try {
        runShell(QStringLiteral("true"), {}, std::nullopt, QUrl::fromLocalFile(dir.filePath(QStringLiteral("gone"))));
        FAIL() << "started in a missing folder";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
        EXPECT_TRUE(error.localizedDescription().contains(QStringLiteral(" in ")));
    }

    EXPECT_THROW(ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("sh")), {}, {}), SystemError);
    EXPECT_THROW(ProcessRunner::run(QUrl(QStringLiteral("https://example.org/sh")), {}, {}), SystemError);
    EXPECT_THROW(ProcessRunner::run(shell, {}, {}, QHash<QString, QString>{{"A=B", "c"}}), SystemError);
}

TEST(ProcessRunner, StopBeforeTheStartStartsNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("started"));
    std::stop_source source;
    source.request_stop();
    EXPECT_THROW(ProcessRunner::run(shell, {QStringLiteral("-c"), QStringLiteral("touch \"$0\""), marker},
                                    source.get_token()),
                 CancellationError);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(QFile::exists(marker));
}

TEST(ProcessRunner, CancellingEndsTheWholeProcessGroup)
{
    // The shell, a background sleep of its group (which a shell makes deaf to SIGINT) and the
    // sleep it waits for.
    const auto run = cancelShell(QStringLiteral("echo $$; sleep 100 & echo $!; sleep 100"), 2);
    EXPECT_LT(run.afterStop, 10000ms); // only tells the cancel from the sleep
    ASSERT_EQ(run.pids.size(), 2);
    for (const pid_t pid : run.pids) {
        for (int i = 0; i < 100 && isRunning(pid); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(isRunning(pid)) << "process " << pid << " outlived the cancellation";
    }
}

TEST(ProcessRunner, CancellingAsksWithSigintFirstAsFFmpegsQDoes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString marker = dir.filePath(QStringLiteral("asked"));
    // The shell notes the signal it got and ends by itself, well before any SIGKILL.
    const auto run = cancelShell(QStringLiteral("trap 'echo int > %1; exit 0' INT; trap 'echo term >> %1; exit 0' TERM; "
                                                "echo $$; sleep 100 & wait")
                                     .arg(marker),
                                 1);
    QFile asked(marker);
    ASSERT_TRUE(asked.open(QIODevice::ReadOnly));
    EXPECT_TRUE(asked.readAll().startsWith("int\n"));
    EXPECT_FALSE(isRunning(run.pids.first()));
}

TEST(ProcessRunner, ProgramIgnoringTheRequestIsKilledAfterASecond)
{
    const auto run = cancelShell(QStringLiteral("trap '' INT TERM; echo $$; exec sleep 100"), 1);
    EXPECT_GE(run.afterStop, 700ms);
    EXPECT_LT(run.afterStop, 10000ms);
    ASSERT_EQ(run.pids.size(), 1);
    EXPECT_FALSE(isRunning(run.pids.first()));
}

TEST(ProcessRunner, RunsFromManyThreadsAtOnce)
{
    constexpr int count = 8;
    std::array<QString, count> results;
    {
        std::vector<std::jthread> threads;
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([&results, i] {
                results[i] = runShell(QStringLiteral("sleep 0.1; echo %1").arg(i)).stdoutText();
            });
        }
    }
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(results[i], QStringLiteral("%1\n").arg(i));
}

TEST(OutputCollector, SplitsLinesOnBytesAndBoundsStandardError)
{
    OutputCollector collector(true);
    EXPECT_EQ(collector.appendOut("ab"), QStringList());
    EXPECT_EQ(collector.appendOut("c\r\nd\n\xC3"), (QStringList{"abc\r", "d"}));
    EXPECT_EQ(collector.appendOut("\xA9"), QStringList()); // a character split across chunks
    EXPECT_EQ(collector.flushPending(), std::optional<QString>(QStringLiteral("\u00E9")));
    EXPECT_EQ(collector.flushPending(), std::nullopt);
    EXPECT_TRUE(collector.outData().isEmpty());

    OutputCollector unsplit(false);
    EXPECT_TRUE(unsplit.appendOut("a\nb\n").isEmpty());
    EXPECT_EQ(unsplit.flushPending(), std::nullopt);

    OutputCollector errors(false);
    errors.appendErr(QByteArray(OutputCollector::stderrLimit - 1, 'a'));
    errors.appendErr("b");
    EXPECT_EQ(errors.errData().size(), OutputCollector::stderrLimit); // exactly the limit stays whole
    errors.appendErr("c");
    ASSERT_EQ(errors.errData().size(), OutputCollector::stderrKeep);
    EXPECT_TRUE(errors.errData().endsWith("bc"));
}

TEST(OutputCollector, BoundsLinesAndKeptOutput)
{
    constexpr qsizetype limit = OutputCollector::lineLimit;
    OutputCollector lines(true);
    // A line of exactly the limit is whole.
    EXPECT_EQ(lines.appendOut(QByteArray(limit, 'a') + "\n"), QStringList(QString(limit, 'a')));
    // Past it the line is cut, here before the character the limit falls in.
    QStringList got = lines.appendOut(QByteArray(limit - 1, 'b') + "\xC3\xA9");
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got.first(), QString(limit - 1, 'b'));
    // Its rest is dropped, chunk after chunk, up to its line feed.
    EXPECT_TRUE(lines.appendOut(QByteArray(limit, 'c')).isEmpty());
    EXPECT_EQ(lines.appendOut("ccc\nd\ne"), (QStringList{"d"}));
    EXPECT_EQ(lines.flushPending(), std::optional<QString>(QStringLiteral("e")));
    // An endless last line comes once, cut, and nothing after it.
    got = lines.appendOut(QByteArray(limit + 5, 'f'));
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got.first().size(), limit);
    EXPECT_EQ(lines.flushPending(), std::nullopt);
    EXPECT_TRUE(lines.outData().isEmpty());
    EXPECT_FALSE(lines.outOverflowed());

    OutputCollector kept(false);
    kept.appendOut(QByteArray(OutputCollector::stdoutLimit - 1, 'a'));
    kept.appendOut("b");
    EXPECT_FALSE(kept.outOverflowed()); // exactly the limit is whole
    EXPECT_EQ(kept.outData().size(), OutputCollector::stdoutLimit);
    kept.appendOut("c");
    EXPECT_TRUE(kept.outOverflowed());
    EXPECT_EQ(kept.outData().size(), OutputCollector::stdoutLimit);
    kept.appendOut("");
    EXPECT_TRUE(kept.outOverflowed());
}

TEST(ProcessRunner, ErrorTexts)
{
    ProcessRunner::Output output;
    output.status = 12;
    EXPECT_EQ(ProcessRunner::Failure(QStringLiteral("zip"), output).localizedDescription(),
              QStringLiteral("zip exited with status 12"));
    EXPECT_EQ(CancellationError().localizedDescription(), QStringLiteral("Cancelled"));
}

TEST(ProcessRunner, ReturnsWhenALeftoverProcessKeepsTheOutputOpen)
{
    const auto output = runShell(QStringLiteral("sleep 4 & echo started"));
    EXPECT_EQ(output.status, 0);
    EXPECT_EQ(output.stdoutText(), QStringLiteral("started\n"));

    // The shell ends at once, leaving a loop in its process group that never stops writing.
    std::atomic<pid_t> group = 0;
    std::atomic<int> ticks = 0;
    auto run = std::async(std::launch::async, [&] {
        return runShell(QStringLiteral("echo $$; (while :; do echo tick; sleep 0.01; done) &"),
                        [&](const QString& line) {
                            if (group.load() == 0)
                                group = line.toInt();
                            else
                                ++ticks;
                        });
    });
    // Only a guard against hanging the suite: the run ends about 2 s after the shell.
    const bool returned = run.wait_for(60s) == std::future_status::ready;
    if (group.load() > 0)
        ::kill(-group.load(), SIGKILL); // which also ends a hanging run: its pipes close
    EXPECT_TRUE(returned) << "the run waited for the leftover writer";
    const auto ended = run.get();
    EXPECT_EQ(ended.status, 0);
    EXPECT_GT(group.load(), 0);
}

TEST(ProcessRunner, OutputNobodyCouldHoldIsAFailureNotATruncation)
{
    // With a line handler nothing is kept, however much comes.
    qint64 lineBytes = 0;
    const auto many = runShell(QStringLiteral("yes \"$(printf %099d 0)\" | head -c 100000000"),
                               [&](const QString& line) { lineBytes += line.size() + 1; });
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(lineBytes, 100000000);
    EXPECT_TRUE(many.stdoutData.isEmpty());

    // A line that never ends is handed over cut, and reading goes on after it.
    QList<qsizetype> lengths;
    QStringList shortLines;
    runShell(QStringLiteral("head -c 10000000 /dev/zero | tr '\\0' x; printf '\\nnext\\nlast'"),
             [&](const QString& line) {
                 lengths.append(line.size());
                 if (line.size() < 10)
                     shortLines.append(line);
             });
    EXPECT_EQ(lengths.size(), 3);
    EXPECT_EQ(lengths.value(0), OutputCollector::lineLimit);
    EXPECT_EQ(shortLines, (QStringList{"next", "last"}));

    // Without a handler the output is what the caller parses: too much of it stops the
    // program and fails rather than handing over a part as if it were all.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString pidFile = dir.filePath(QStringLiteral("pid"));
    try {
        ProcessRunner::run(shell,
                           {QStringLiteral("-c"),
                            QStringLiteral("echo $$ > \"$0\"; head -c 70000000 /dev/zero; exec sleep 100"),
                            pidFile},
                           {});
        FAIL() << "70 MB of output were returned";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.localizedDescription(),
                  QStringLiteral("sh wrote more than 64 MB of output and was stopped"));
    }
    QFile file(pidFile);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const pid_t pid = file.readAll().trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_FALSE(isRunning(pid));

    const auto fits = runShell(QStringLiteral("head -c %1 /dev/zero").arg(OutputCollector::stdoutLimit));
    EXPECT_EQ(fits.stdoutData.size(), OutputCollector::stdoutLimit);
}

TEST(ProcessRunner, RawOutputStreamsPastTheKeptLimitAndKeepsNothing)
{
    // 80 MB, more than a kept output may hold: streamed, it is counted and never kept.
    qint64 total = 0;
    qint64 largestChunk = 0;
    bool lineCalled = false;
    const ProcessRunner::Output output = ProcessRunner::run(
        shell, {"-c", "head -c 83886080 /dev/zero; printf 'AB'"}, {}, std::nullopt, std::nullopt,
        [&lineCalled](const QString&) { lineCalled = true; },
        [&](QByteArrayView chunk) {
            total += chunk.size();
            largestChunk = std::max<qint64>(largestChunk, chunk.size());
        });
    EXPECT_EQ(output.status, 0);
    EXPECT_EQ(total, 83886080 + 2);
    EXPECT_LE(largestChunk, 64 * 1024);
    EXPECT_TRUE(output.stdoutData.isEmpty());
    EXPECT_FALSE(lineCalled);
}

namespace {

// Sets the children's memory limit for one scope.
struct ChildMemoryLimit {
    explicit ChildMemoryLimit(qint64 bytes) : previous(ChildProcess::memoryLimit())
    {
        ChildProcess::setMemoryLimit(bytes);
    }
    ~ChildMemoryLimit() { ChildProcess::setMemoryLimit(previous); }
    qint64 previous;
};

const QUrl python = QUrl::fromLocalFile(QStringLiteral("/usr/bin/python3"));

} // namespace

TEST(ProcessRunner, ProgramsRunUnderTheMemoryLimit)
{
    EXPECT_EQ(ChildProcess::memoryLimitForSetting(0), ChildProcess::defaultMemoryLimit);
    EXPECT_EQ(ChildProcess::memoryLimitForSetting(100), qint64(4096) << 20);
    EXPECT_EQ(ChildProcess::memoryLimitForSetting(8192), qint64(8192) << 20);

    const ChildMemoryLimit limit(qint64(512) << 20);
    // ulimit -v reports kilobytes.
    EXPECT_EQ(runShell(QStringLiteral("ulimit -v")).stdoutText().trimmed(), QStringLiteral("524288"));
    // A program that sets its own limit starts with ours.
    ChildProcess own(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("ulimit -v")}, std::nullopt,
                     std::nullopt, false, ChildProcess::Role::worker);
    own.wait();
    char buffer[64] = {};
    const ssize_t got = ::read(own.stdoutFd(), buffer, sizeof buffer - 1);
    ASSERT_GT(got, 0);
    EXPECT_NE(QByteArray(buffer).trimmed(), QByteArray("524288"));
}

TEST(ProcessRunner, AProgramThatAllocatesWithoutEndFailsWithASentence)
{
    if (!QFile::exists(python.toLocalFile()))
        GTEST_SKIP() << "no python3";
    const ChildMemoryLimit limit(qint64(384) << 20);
    // Touches what it takes, as a decoder filling its buffers does.
    const QString hog = QStringLiteral("chunks = []\nwhile True:\n    chunks.append(bytearray(16 << 20))\n");
    try {
        ProcessRunner::run(python, {QStringLiteral("-c"), hog}, {});
        FAIL() << "the program allocated without end";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("This file is too large to convert"));
        EXPECT_TRUE(error.log().contains(QStringLiteral("python3 needed more than the 384 MB"))) << qPrintable(error.log());
    }

    // Under the limit the same program is left to its callers, also when it fails.
    const ProcessRunner::Output small = ProcessRunner::run(
        python, {QStringLiteral("-c"), QStringLiteral("data = bytearray(64 << 20)\nraise SystemExit(2)")}, {});
    EXPECT_EQ(small.status, 2);
    // Status 1 with a log that says nothing of memory, as FFmpeg's bare probe ends: no failure,
    // and no log line, as there is nothing for a reader to do about it.
    test::LogCapture log;
    EXPECT_EQ(runShell(QStringLiteral("echo 'At least one output file must be specified' >&2; exit 1")).status, 1);
    EXPECT_EQ(runShell(QStringLiteral("true")).status, 0);
    EXPECT_TRUE(log.lines().isEmpty()) << qPrintable(log.lines().value(0).message);
}
