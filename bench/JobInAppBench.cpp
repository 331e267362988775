// One job as the running application does it, from the drop (the submit) to its end, against
// a peer command on the same file, alternating, median of N: what a user of the tray
// application waits for, without the start of a program that a one-shot run from a shell adds.
//   bench_job_in_app OPERATION-ID FILE --clear PATH --peer-dir DIR [--runs N] -- PEER COMMAND...
// Before each run of either side PATH (ours: the result beside FILE) and DIR's contents are
// removed. Ours runs twice per round: with no worker waiting (the pool emptied), and with one
// warm, as after the trigger key's tap that opened the wheel. The peer runs in DIR at our
// workers' priority (nice 10, batch scheduling, idle I/O).
// Prints "cold SECONDS", "warm SECONDS" and "peer SECONDS" on standard output.

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/ItemMemoryNeed.h"
#include "catalogue/isolated/WorkerTemplate.h"
#include "platform/processes/HugePageMalloc.h"
#include "catalogue/SystemServices.h"
#include "catalogue/ToolRegistry.h"
#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/operations/Capabilities.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/Workspace.h"
#include "model/files/FileInfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qv;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void removeAll(const QString& path)
{
    const QFileInfo info(path);
    if (info.isDir() && !info.isSymLink())
        QDir(path).removeRecursively();
    else if (info.exists() || info.isSymLink())
        QFile::remove(path);
}

void emptyFolder(const QString& folder)
{
    QDir dir(folder);
    for (const QFileInfo& entry : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        removeAll(entry.absoluteFilePath());
}

// Seconds from the submit to the job's end; negative when it did not finish.
double runOurs(const WheelEntry& entry, const FileInfo& file)
{
    JobCenter& center = JobCenter::shared();
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    const JobPtr job = center.submit(entry, {file}, OperationOptions{}, std::nullopt);
    if (!job)
        return -1;
    const auto connection = QObject::connect(&center, &JobCenter::jobEnded, &loop, [&](const JobPtr& ended) {
        if (ended == job)
            loop.quit();
    });
    if (job->isActive())
        loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    QObject::disconnect(connection);
    return job->state() == Job::State::finished ? seconds : -1;
}

double runPeer(const QStringList& command, const QString& folder)
{
    QProcess peer;
    peer.setWorkingDirectory(folder);
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    peer.start(QStringLiteral("nice"), QStringList{"-n", "10", "chrt", "-b", "0", "ionice", "-c", "3"} + command);
    if (!peer.waitForFinished(600000) || peer.exitCode() != 0)
        return -1;
    return timer.nsecsElapsed() / 1e9;
}

int usage()
{
    std::fprintf(stderr, "usage: bench_job_in_app OPERATION-ID FILE --clear PATH --peer-dir DIR [--runs N] -- PEER COMMAND...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    // As the application does.
    HugePageMalloc::takeFromEnvironment();
    WorkerTemplate::forkAtStart(argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const qsizetype split = args.indexOf(QStringLiteral("--"));
    if (args.size() < 2 || split < 0 || split == args.size() - 1)
        return usage();
    const QStringList peerCommand = args.mid(split + 1);
    args = args.mid(0, split);
    const QString operationId = args.takeFirst();
    const QString path = QFileInfo(args.takeFirst()).absoluteFilePath();
    QString clear, peerDir;
    int runs = 5;
    while (args.size() >= 2) {
        const QString option = args.takeFirst();
        const QString value = args.takeFirst();
        if (option == QLatin1String("--clear"))
            clear = QFileInfo(value).absoluteFilePath();
        else if (option == QLatin1String("--peer-dir"))
            peerDir = value;
        else if (option == QLatin1String("--runs"))
            runs = std::max(1, value.toInt());
        else
            return usage();
    }
    if (!args.isEmpty() || clear.isEmpty() || peerDir.isEmpty())
        return usage();

    // What the application has done by the time the user drops: its services, its settings, the
    // catalogue and the machine's capabilities.
    installSystemServices();
    registerDefaultSettings();
    Capabilities::shared().warmUp();
    const QList<OperationDescriptor>& catalogue = ToolRegistry::shared().catalogue();
    const auto it = std::find_if(catalogue.begin(), catalogue.end(),
                                 [&](const OperationDescriptor& d) { return d.id == operationId; });
    if (it == catalogue.end())
        return usage();
    const WheelEntry entry = WheelEntry::forOperation(*it, it->wheel);
    const FileInfo file = fileInfoForURL(QUrl::fromLocalFile(path));

    WorkerPool& workers = catalogueWorkers();
    workers.setWarmCount(0);
    JobCenter::Services services;
    services.workspace = &Workspace::system();
    services.workers = &workers;
    services.memoryNeed = itemMemoryNeed;
    JobCenter::shared().setServices(services);

    std::vector<double> cold, warm, peer;
    for (int round = 0; round < runs; ++round) {
        removeAll(clear);
        workers.clear();
        cold.push_back(runOurs(entry, file));

        removeAll(clear);
        workers.clear();
        workers.startAhead(1);
        QElapsedTimer warming;
        warming.start();
        while (workers.idleCount() < 1) {
            if (warming.elapsed() > 60000) {
                std::fprintf(stderr, "no worker came up warm\n");
                return 1;
            }
            QThread::msleep(1);
        }
        warm.push_back(runOurs(entry, file));

        emptyFolder(peerDir);
        peer.push_back(runPeer(peerCommand, peerDir));
    }
    removeAll(clear);
    JobCenter::shared().shutdown(std::chrono::milliseconds(3000));
    for (const auto& [name, values] : {std::pair{"cold", cold}, {"warm", warm}, {"peer", peer}}) {
        if (std::any_of(values.begin(), values.end(), [](double v) { return v < 0; })) {
            std::fprintf(stderr, "%s: a run failed\n", name);
            return 1;
        }
        std::printf("%s %.3f\n", name, median(values));
    }
    return 0;
}
