// A worker with operations that misbehave on purpose, for the tests of the worker road. The
// operation runs on what each input file holds: "crash", "hang", "allocate", "abort",
// "stop" (itself, with SIGSTOP), "connect", "child", "asked:number", "place-then-hang", a path to write to ("write:/path"), paths to claim
// as its own before dying ("lie:/a|/b"), an attack made by quorvenda_test_attacker, a program it starts
// as it would start a decoder ("attack:words": the item fails "Refused" when the attack failed,
// "Attack worked" when not; "spawn:words": whatever it did, the file is copied), or anything else
// to copy the file; "plant", "planted?", "hold" and "rewrite" try what a decoder compromised by one
// item could leave for the next. A folder given whole is read file by file.
#include "jobs/OutputPlanner.h"
#include "jobs/WorkerServer.h"
#include "model/errors/EngineError.h"
#include "model/operations/FileOperation.h"
#include "model/operations/OperationContext.h"
#include "model/operations/Progress.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/sandbox/WorkerTrail.h"
#include "platform/settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QGuiApplication>
#include <QJsonObject>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qv;

namespace {

QByteArray contents(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

QUrl place(OutputPlanner& planner, const QByteArray& bytes, const QString& suffix)
{
    const QUrl work = planner.workURL(QStringLiteral("txt"), QStringLiteral("out"));
    QFile file(work.toLocalFile());
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw EngineError(QStringLiteral("Couldn't write"));
    file.close();
    return planner.deliver(work, planner.outputBaseName(suffix), QStringLiteral("txt"));
}

// Left by an earlier item in the same process.
bool planted = false;
int held = -1;

[[noreturn]] void hang()
{
    volatile unsigned long spin = 0;
    for (;;)
        spin = spin + 1;
}

// A folder given whole, as an archiver reads it: each file below it that it can read, by its
// path, its name and what it holds. One holding "await" first waits for the path that file
// names, as "await:" does.
QByteArray folderRead(const QString& folder, Progress& progress)
{
    const QByteArray flag = contents(QUrl::fromLocalFile(folder + QStringLiteral("/await")));
    if (!flag.isEmpty()) {
        reportProgress(0.5, progress);
        for (int i = 0; i < 6000 && !QFileInfo::exists(QString::fromUtf8(flag)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    QByteArray read;
    // One holding "escape" tries, as a compromised decoder would, every folder it holds open
    // for the path that file names relative to it.
    const QByteArray escape = contents(QUrl::fromLocalFile(folder + QStringLiteral("/escape")));
    for (int fd = 3; !escape.isEmpty() && fd < 1024; ++fd) {
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISDIR(status.st_mode))
            continue;
        const int found = ::openat(fd, escape.constData(), O_RDONLY | O_CLOEXEC);
        char bytes[256];
        const ssize_t got = found >= 0 ? ::read(found, bytes, sizeof bytes) : -1;
        if (got > 0)
            read += "escaped: " + QByteArray(bytes, got) + '\n';
        if (found >= 0)
            ::close(found);
    }
    QDirIterator entries(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList names;
    while (entries.hasNext())
        names.append(entries.next());
    names.sort();
    for (const QString& name : names) {
        QFile file(name);
        if (file.open(QIODevice::ReadOnly))
            read += name.mid(folder.size() + 1).toUtf8() + ": " + file.readAll() + '\n';
    }
    return read;
}

QList<QUrl> misbehave(const QList<QUrl>& inputs, OutputPlanner& planner, Progress& progress)
{
    QList<QUrl> outputs;
    for (const QUrl& input : inputs) {
        if (QFileInfo(input.toLocalFile()).isDir()) {
            outputs.append(place(planner, folderRead(input.toLocalFile(), progress), QStringLiteral("read")));
            continue;
        }
        const QByteArray what = contents(input);
        if (what == "crash") {
            std::raise(SIGSEGV);
        } else if (what == "abort") {
            std::abort();
        } else if (what == "hang") {
            hang();
        } else if (what.startsWith("crawl:")) {
            // Works on a tenth of a core, as on a busy machine, for the seconds given, reporting
            // no progress, then finishes.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(what.mid(6).toInt());
            while (std::chrono::steady_clock::now() < until) {
                const auto slice = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
                while (std::chrono::steady_clock::now() < slice) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(45));
            }
            outputs.append(place(planner, "crawled", QStringLiteral("crawled")));
        } else if (what == "stop") {
            std::raise(SIGSTOP);
            hang();
        } else if (what == "allocate") {
            std::vector<char*> kept;
            for (;;) {
                char* block = new char[64 << 20];
                std::memset(block, 1, 64 << 20);
                kept.push_back(block);
            }
        } else if (what == "connect") {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd >= 0) {
                ::close(fd);
                throw EngineError(QStringLiteral("A network socket was opened"));
            }
            throw EngineError(QStringLiteral("No network"), QString::fromUtf8(std::strerror(errno)));
        } else if (what == "child") {
            place(planner, "started", QStringLiteral("started"));
            std::stop_source never;
            ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sleep")), {QStringLiteral("3599")},
                               never.get_token());
        } else if (what.startsWith("asked:")) {
            // When it is first asked to stop with SIGINT (the SIGTERM that follows at once left to
            // the shell), shows that it was by sleeping a moment as "sleep 0.7 0.0<number>", then
            // ends: nothing it could write or reach is left for the test to look at.
            place(planner, "started", QStringLiteral("started"));
            std::stop_source never;
            ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sh")),
                               {QStringLiteral("-c"),
                                QStringLiteral("trap 'trap \"\" TERM; sleep 0.7 \"0.0$0\"; exit 0' INT; trap 'exit 0' TERM; "
                                               "sleep 3598 & wait"),
                                QString::fromUtf8(what.mid(6))},
                               never.get_token());
        } else if (what == "place-then-hang") {
            place(planner, "first", QStringLiteral("first"));
            hang();
        } else if (what.startsWith("lie:")) {
            // Names files it never made as its own, then dies.
            for (const QByteArray& path : what.mid(4).split('|')) {
                WorkerTrail::record(WorkerTrail::Kind::placed, QString::fromUtf8(path));
                WorkerTrail::record(WorkerTrail::Kind::work, QString::fromUtf8(path));
            }
            std::raise(SIGSEGV);
        } else if (what.startsWith("attack:") || what.startsWith("spawn:")) {
            const bool spawn = what.startsWith("spawn:");
            const QStringList words = QString::fromUtf8(what.mid(what.indexOf(':') + 1)).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            std::stop_source never;
            const ProcessRunner::Output output = ProcessRunner::run(
                QUrl::fromLocalFile(QCoreApplication::applicationDirPath() + QStringLiteral("/quorvenda_test_attacker")),
                words, never.get_token());
            if (spawn)
                outputs.append(place(planner, "spawned", QStringLiteral("copied")));
            else if (output.status == 0 && !output.terminatedBySignal)
                throw EngineError(QStringLiteral("Attack worked"), output.stderrText());
            else
                throw EngineError(QStringLiteral("Refused"), output.stderrText());
        } else if (what.startsWith("await:")) {
            // Says it started (half its progress), waits (a minute at most) for the path named to
            // be there, then reads its input again by its path, as a decoder opening it late
            // does, and keeps what it read. A second path, on a line of its own, it waits for
            // after reading (three quarters), before it ends.
            reportProgress(0.5, progress);
            const QList<QByteArray> flags = what.mid(6).split('\n');
            const auto awaitPath = [](const QByteArray& path) {
                for (int i = 0; i < 6000 && !QFileInfo::exists(QString::fromUtf8(path)); ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            };
            awaitPath(flags.first());
            QFile again(input.toLocalFile());
            if (!again.open(QIODevice::ReadOnly))
                throw EngineError(QStringLiteral("Refused"), again.errorString());
            const QByteArray read = again.readAll();
            if (flags.size() > 1) {
                reportProgress(0.75, progress);
                awaitPath(flags.at(1));
            }
            outputs.append(place(planner, read, QStringLiteral("copied")));
        } else if (what == "plant") {
            // What a compromised decoder leaves for the next item: in the process itself, and in
            // the programs' profile in its home.
            planted = true;
            QFile macro(qEnvironmentVariable("HOME") + QStringLiteral("/.config/planted-macro"));
            QDir().mkpath(QFileInfo(macro).absolutePath());
            if (!macro.open(QIODevice::WriteOnly) || macro.write("Sub Main\n") != 9 || !macro.flush())
                throw EngineError(QStringLiteral("Couldn't plant"));
            outputs.append(place(planner, "planted", QStringLiteral("copied")));
        } else if (what == "planted?") {
            if (planted || QFile::exists(qEnvironmentVariable("HOME") + QStringLiteral("/.config/planted-macro")))
                throw EngineError(QStringLiteral("Attack worked"), QStringLiteral("the last item's plant is here"));
            throw EngineError(QStringLiteral("Refused"), QStringLiteral("nothing planted here"));
        } else if (what == "hold") {
            // Keeps its result open, and a thread that writes a new count into it every few
            // milliseconds for as long as it lives.
            const QUrl result = place(planner, "honest", QStringLiteral("copied"));
            held = ::open(QFile::encodeName(result.toLocalFile()).constData(), O_WRONLY | O_CLOEXEC);
            if (held < 0)
                throw EngineError(QStringLiteral("Couldn't hold"));
            std::thread([fd = held] {
                for (int count = 0;; ++count) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    const QByteArray text = QByteArray::number(count % 1000000).rightJustified(6, '0');
                    [[maybe_unused]] const ssize_t written = ::pwrite(fd, text.constData(), 6, 0);
                }
            }).detach();
            outputs.append(result);
        } else if (what == "rewrite") {
            if (held >= 0 && ::pwrite(held, "forged", 6, 0) == 6)
                throw EngineError(QStringLiteral("Attack worked"), QStringLiteral("an earlier result rewritten"));
            throw EngineError(QStringLiteral("Refused"), QStringLiteral("no earlier result held"));
        } else if (what.startsWith("write:")) {
            QFile outside(QString::fromUtf8(what.mid(6)));
            if (outside.open(QIODevice::WriteOnly))
                throw EngineError(QStringLiteral("Wrote outside"));
            throw EngineError(QStringLiteral("Refused"), outside.errorString());
        } else {
            outputs.append(place(planner, what, QStringLiteral("copied")));
        }
    }
    return outputs;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef QV_THREAD_BEFORE_WALLS
    // As a library that starts a thread of its own when it loads.
    std::thread([] {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
    }).detach();
#endif
    const int replies = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // What it was told to load ahead, as a thread that takes its time: it must have ended
    // before the walls go up.
    const QString ahead = qEnvironmentVariable(qv::WorkerProtocol::loadAheadVariable);
    std::thread loading;
    if (!ahead.isEmpty())
        loading = std::thread([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
    QGuiApplication app(argc, argv);
    static SettingsStore store{QString()};
    Settings::installShared(store);
    // Questions that take their time: one waiting without using the processor (a busy machine),
    // one using it without end.
    WorkerServer::Calls calls;
    calls.insert(QStringLiteral("rest"), [](const QJsonObject& arguments) {
        std::this_thread::sleep_for(std::chrono::milliseconds(arguments.value(QStringLiteral("ms")).toInt()));
        return QJsonObject{{QStringLiteral("rested"), true}};
    });
    calls.insert(QStringLiteral("ahead"), [ahead](const QJsonObject&) {
        return QJsonObject{{QStringLiteral("ahead"), ahead}};
    });
    // Uses this much processor time, however long it waits for it.
    calls.insert(QStringLiteral("work"), [](const QJsonObject& arguments) {
        const auto used = [] {
            timespec now{};
            ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
            return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
        };
        const qint64 until = used() + arguments.value(QStringLiteral("ms")).toInt();
        while (used() < until)
            asm volatile("" ::: "memory");
        return QJsonObject{{QStringLiteral("worked"), true}};
    });
    calls.insert(QStringLiteral("spin"), [](const QJsonObject&) {
        for (;;)
            asm volatile("" ::: "memory");
        return QJsonObject();
    });
    return WorkerServer::serve(STDIN_FILENO, replies, [](const QString& id) -> std::optional<OperationDescriptor> {
        if (id != QLatin1String("test.misbehave"))
            return std::nullopt;
        OperationDescriptor d;
        d.id = id;
        d.make = [](const OperationContext&) { return std::make_shared<BlockOperation>(misbehave); };
        return d;
    }, calls, [&loading] {
        if (loading.joinable())
            loading.join();
    });
}
