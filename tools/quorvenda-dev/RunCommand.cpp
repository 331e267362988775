#include "Commands.h"
#include "JobJson.h"

#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/ItemMemoryNeed.h"
#include "catalogue/ToolRegistry.h"
#include "jobs/JobCenter.h"
#include "jobs/WorkerPool.h"
#include "model/operations/OperationOptions.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/Workspace.h"
#include "platform/files/InputFile.h"
#include "platform/processes/QuitOnSignal.h"
#include "platform/settings/SettingsStore.h"

#include <algorithm>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace qv::dev {

namespace {

// Keeps the text a job hands to the clipboard, for the report, and passes it on.
class RecordingClipboard : public Clipboard {
public:
    void setText(const QString& text) override
    {
        m_text = text;
        m_used = true;
        Clipboard::system().setText(text);
    }
    void setFiles(const QList<QUrl>& urls) override
    {
        m_used = true;
        Clipboard::system().setFiles(urls);
    }
    const std::optional<QString>& text() const { return m_text; }
    bool used() const { return m_used; }

private:
    std::optional<QString> m_text;
    bool m_used = false;
};

// How long a stopped run waits for its job before it kills the job's programs.
constexpr std::chrono::milliseconds stopGrace{3000};

int usage(const QString& problem)
{
    QTextStream err(stderr);
    if (!problem.isEmpty())
        err << problem << '\n';
    err << "usage: quorvenda-dev run OPERATION-ID [--options JSON] FILE...\n";
    return 2;
}

} // namespace

void startRunWorker(const QString& operationId)
{
    if (!useWorkers())
        return;
    // No spare until the run knows how many files it has.
    catalogueWorkers().setWarmCount(0);
    catalogueWorkers().startAhead(1, operationId);
}

int run(const QStringList& args)
{
    QStringList rest = args;
    if (rest.isEmpty())
        return usage({});
    const QString id = rest.takeFirst();
    OperationOptions options;
    if (rest.size() >= 2 && rest.first() == QLatin1String("--options")) {
        rest.removeFirst();
        QString error;
        const auto decoded = decodeOperationOptions(rest.takeFirst().toUtf8(), &error);
        if (!decoded)
            return usage(QStringLiteral("Unreadable options: ") + error);
        options = *decoded;
    }
    if (rest.isEmpty())
        return usage(QStringLiteral("No files given."));

    // One worker loads while the catalogue is built and the files are looked into, as the application's wait warm. Each
    // item ends its worker, so a run of more files keeps a spare or two loading while items run; one of one file
    // keeps none.
    if (useWorkers()) {
        catalogueWorkers().setWarmCount(std::min<int>(int(rest.size()) - 1, 2));
        catalogueWorkers().startAhead(1);
    }
    registerDefaultSettings();
    const QList<OperationDescriptor>& catalogue = ToolRegistry::shared().catalogue();
    const auto it = std::find_if(catalogue.begin(), catalogue.end(),
                                 [&](const OperationDescriptor& d) { return d.id == id; });
    if (it == catalogue.end())
        return usage(QStringLiteral("Unknown operation: ") + id);

    // SIGTERM, SIGINT and SIGHUP stop the job as a quit of the app does: nothing of it is left.
    // Taken from the start, so one that comes while the files are looked into (a worker may
    // read them) stops the run before any job.
    QEventLoop loop;
    bool stopped = false;
    quitOnTerminationSignals([&](int) {
        stopped = true;
        loop.quit();
    });

    // Side by side, a few at a time: a movie's look is a start of FFmpeg.
    QList<FileInfo> files(rest.size());
    {
        QList<QUrl> urls;
        for (const QString& path : rest)
            urls.append(fileUrl(path));
        lookAheadAtFiles(urls);
        std::atomic<qsizetype> next{0};
        const auto look = [&] {
            for (qsizetype i = next++; i < rest.size(); i = next++)
                files[i] = fileInfoForURL(fileUrl(rest[i]));
        };
        std::vector<std::jthread> lookers;
        for (qsizetype i = 1; i < std::min<qsizetype>(rest.size(), 4); ++i)
            lookers.emplace_back(look);
        look();
    }
    QCoreApplication::processEvents();
    if (stopped) {
        quitOnTerminationSignals();
        const QJsonObject cancelled{{QStringLiteral("state"), QStringLiteral("cancelled")},
                                    {QStringLiteral("outputs"), QJsonArray()},
                                    {QStringLiteral("failure"), QJsonValue()},
                                    {QStringLiteral("failedCount"), 0},
                                    {QStringLiteral("messages"), QJsonArray()},
                                    {QStringLiteral("clipboard"), QJsonValue()}};
        QTextStream(stdout) << QJsonDocument(cancelled).toJson(QJsonDocument::Compact) << '\n';
        return 1;
    }

    // What the app refuses before any job (the wheel offers it nothing) fails the run in the
    // same words: a name that would read as another file's, a pipe or a device.
    for (const FileInfo& file : files) {
        if (const std::optional<QString> refused = InputFile::refusedFileMessage(file)) {
            quitOnTerminationSignals();
            const QJsonObject failed{{QStringLiteral("state"), QStringLiteral("failed")},
                                     {QStringLiteral("outputs"), QJsonArray()},
                                     {QStringLiteral("failure"),
                                      QJsonObject{{QStringLiteral("message"), *refused},
                                                  {QStringLiteral("details"), QString::fromLatin1(file.url.toEncoded())}}},
                                     {QStringLiteral("failedCount"), int(files.size())},
                                     {QStringLiteral("messages"), QJsonArray()},
                                     {QStringLiteral("clipboard"), QJsonValue()}};
            QTextStream(stdout) << QJsonDocument(failed).toJson(QJsonDocument::Compact) << '\n';
            return 1;
        }
    }

    const WheelEntry entry = WheelEntry::forOperation(*it, it->wheel);
    JobCenter& center = JobCenter::shared();
    static RecordingClipboard clipboard; // the centre outlives this call
    JobCenter::Services services;
    services.clipboard = &clipboard;
    services.workspace = &Workspace::system();
    services.workers = useWorkers() ? &catalogueWorkers() : nullptr;
    // The memory budget holds items back for one another; the one item of one file always runs,
    // so its need is not asked (a header question in the worker before the item).
    if (files.size() > 1)
        services.memoryNeed = itemMemoryNeed;
    center.setServices(services);
    const JobPtr job = center.submit(entry, files, options, std::nullopt);
    if (!job) {
        quitOnTerminationSignals();
        return usage(QStringLiteral("The operation accepts none of the files."));
    }
    QObject::connect(&center, &JobCenter::jobEnded, &loop, [&](const JobPtr& ended) {
        if (ended == job)
            loop.quit();
    });
    if (job->isActive())
        loop.exec();
    // The settings the job changed (its recent results) are written while its workers end.
    SettingsStore::shared().saveSoon();
    const bool engineStopped = center.shutdown(stopGrace);
    quitOnTerminationSignals();

    QJsonObject result = jobJson(job);
    result.insert(QStringLiteral("clipboard"),
                  clipboard.text() ? QJsonValue(*clipboard.text()) : QJsonValue());
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << '\n';
    // A stopped run is a cancelled job: like a failed one, it is not a finished one.
    const int exitCode = job->state() == Job::State::finished ? 0 : 1;
    if (!engineStopped) {
        // Static destructors must not run beside a worker that would not stop.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    if (useWorkers() && !clipboard.used()) {
        // Nothing is left to end: the workers are gone and the settings written. Tearing the
        // application down would cost more than the job's fixed part: Qt's font database asks
        // fontconfig for its configuration on the way out, reading every file of it just to
        // drop it. A clipboard that was given something is handed over at the teardown.
        SettingsStore::shared().flush();
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

} // namespace qv::dev
