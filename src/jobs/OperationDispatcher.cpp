#include "jobs/OperationDispatcher.h"

#include "jobs/JobCenter.h"
#include "jobs/OutputPlanner.h"
#include "jobs/PromiseCollector.h"
#include "jobs/QuickActions.h"
#include "jobs/Toasts.h"
#include "model/Log.h"
#include "model/settings/RememberedOptions.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/files/FileItems.h"
#include "platform/files/InputFile.h"
#include "platform/processes/ThreadCall.h"
#include "platform/settings/SettingsStore.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <stop_token>

namespace qv {

namespace {

const QString kWarning = QStringLiteral("exclamationmark.triangle");

// What one promise drop keeps alive until it is delivered or abandoned.
struct Receiving {
    JobPtr placeholder;
    QUrl folder;
    std::shared_ptr<PromiseCollector> collector;
    std::unique_ptr<std::stop_callback<std::function<void()>>> onCancel;
};

} // namespace

OperationDispatcher::OperationDispatcher(Hooks hooks, QObject* parent)
    : QObject(parent)
    , m_hooks(std::move(hooks))
{
    if (!m_hooks.loadOptions)
        m_hooks.loadOptions = [](const QString& id) { return loadRememberedOptions(id); };
    if (!m_hooks.quickActions) {
        static QuickActions unavailable;
        m_hooks.quickActions = &unavailable;
    }
    if (!m_hooks.openEditor) {
        m_hooks.openEditor = [](EditorKind kind, const WheelEntry&, const QList<FileInfo>&, QPointF) {
            qCInfo(appLog, "No %s editor in this build", qUtf8Printable(toString(kind)));
        };
    }
    if (!m_hooks.presentSheet) {
        m_hooks.presentSheet = [](const OperationDescriptor& d, const OperationOptions&, bool,
                                  const QList<FileInfo>&, QPointF, ApplyAction) {
            qCInfo(appLog, "No options sheet for %s in this build", qUtf8Printable(d.id));
        };
    }
}

OperationDispatcher& OperationDispatcher::shared()
{
    static OperationDispatcher* dispatcher = new OperationDispatcher(Hooks{});
    return *dispatcher;
}

JobCenter& OperationDispatcher::jobCenter() const
{
    return m_hooks.jobCenter ? *m_hooks.jobCenter : JobCenter::shared();
}

void OperationDispatcher::dispatchOperation(const WheelEntry& entry, const QList<FileInfo>& files,
                                            const Promises& promises, bool optionKeyDown,
                                            QPointF point)
{
    if (!promises.isEmpty()) {
        // Nothing to receive: said at once, without a placeholder or a work folder.
        const bool allRefused = std::all_of(promises.begin(), promises.end(), [](const auto& p) {
            return !p->refusal().isEmpty();
        });
        if (allRefused) {
            showToast(promises.first()->refusal(), kWarning, 3.0);
            return;
        }
        QPointer<OperationDispatcher> self(this);
        receiveFilePromises(promises, point, [self, entry, optionKeyDown, point](const QList<QUrl>& urls) {
            if (self)
                self->dispatchReceivedURLs(urls, entry, optionKeyDown, point);
        });
        return;
    }
    if (entry.operations.isEmpty())
        return;
    // No editor, action or job for a pipe, a device or a name that would read as another
    // file's: the wheel offers them nothing, and nothing else may reach them either.
    for (const FileInfo& file : files) {
        if (const std::optional<QString> refused = InputFile::refusedFileMessage(file)) {
            showToast(*refused, kWarning, 3.0);
            return;
        }
    }
    const OperationDescriptor& descriptor = entry.operations.first();
    if (m_hooks.sounds)
        m_hooks.sounds->play(FeedbackSound::dispatch);

    switch (descriptor.behavior.kind) {
    case OperationBehavior::Kind::editor:
        m_hooks.openEditor(*descriptor.behavior.editor, entry, files, point);
        return;
    case OperationBehavior::Kind::action: {
        QList<QUrl> urls;
        for (const FileInfo& file : files)
            urls.append(file.url);
        if (urls.isEmpty())
            return;
        QuickActions& actions = *m_hooks.quickActions;
        switch (*descriptor.behavior.action) {
        case ActionKind::sendToDevice: actions.sendToDevice(urls); break;
        case ActionKind::float_: actions.floatFiles(urls, point); break;
        case ActionKind::copy: actions.copyFiles(urls); break;
        case ActionKind::move: actions.showMoveMenu(urls, point); break;
        case ActionKind::copyPath: actions.copyPaths(urls, optionKeyDown); break;
        case ActionKind::terminal: actions.openInTerminal(urls); break;
        case ActionKind::share: actions.sharePicker(urls, point); break;
        case ActionKind::preview: actions.preview(urls); break;
        }
        return;
    }
    case OperationBehavior::Kind::run: {
        const OperationOptions options = m_hooks.loadOptions(descriptor.id);
        if (optionKeyDown && !descriptor.optionFields.isEmpty()) {
            QPointer<OperationDispatcher> self(this);
            m_hooks.presentSheet(descriptor, options, true, files, point,
                                 [self, entry, files, point](const OperationOptions& chosen) {
                                     if (self)
                                         self->runOperationJob(chosen, entry, files, point);
                                 });
        } else {
            submitOrSay(entry, files, options, point);
        }
        return;
    }
    case OperationBehavior::Kind::sheet: {
        QPointer<OperationDispatcher> self(this);
        m_hooks.presentSheet(descriptor, OperationOptions{}, false, files, point,
                             [self, entry, files, point](const OperationOptions& chosen) {
                                 if (self)
                                     self->runOperationJob(chosen, entry, files, point);
                             });
        return;
    }
    }
}

void OperationDispatcher::dispatchReceivedURLs(const QList<QUrl>& urls, const WheelEntry& entry,
                                               bool optionKeyDown, QPointF point)
{
    if (urls.isEmpty()) {
        showToast(QStringLiteral("The app you dragged from didn't provide the file"), kWarning, 3.0);
        return;
    }
    // Results of received files go to the fallback folder, which the job's worker may not be
    // allowed to make: it is made here when missing.
    const SettingsSnapshot settings = SettingsSnapshot::load(jobCenter().settingsStore());
    const QString fallback = settings.saveLocation == SaveLocation::folder
        ? QString()
        : settings.fallbackFolder.toLocalFile();
    // Describing a media file may wait seconds on FFmpeg.
    QPointer<OperationDispatcher> self(this);
    runInBackground([self, urls, entry, optionKeyDown, point, fallback] {
        if (!fallback.isEmpty())
            FileItems::makePath(fallback);
        lookAheadAtFiles(urls);
        QList<FileInfo> files;
        for (const QUrl& url : urls)
            files.append(fileInfoForURL(url));
        postToMainThread([self, files = std::move(files), entry, optionKeyDown, point] {
            if (self)
                self->dispatchOperation(entry, files, {}, optionKeyDown, point);
        });
    });
}

void OperationDispatcher::runOperationJob(const OperationOptions& options, const WheelEntry& entry,
                                          const QList<FileInfo>& files, QPointF point)
{
    submitOrSay(entry, files, options, point);
}

void OperationDispatcher::submitOrSay(const WheelEntry& entry, const QList<FileInfo>& files,
                                      const OperationOptions& options, QPointF point)
{
    if (jobCenter().submit(entry, files, options, point))
        return;
    // Files received from another application can turn out other than they were announced (a
    // browser hands over a PNG of a picture it named .jpg): the entry takes none of them, and
    // the user is told rather than left with nothing.
    const QString target = entry.id.startsWith(QLatin1String("convert.")) ? entry.id.section(QLatin1Char('.'), -1)
                                                                          : QString();
    const bool already = !target.isEmpty() && !files.isEmpty()
        && std::all_of(files.begin(), files.end(), [&target](const FileInfo& file) {
               return file.format && file.format->id == target;
           });
    if (already)
        showToast(files.size() == 1 ? QStringLiteral("This file is already a %1").arg(files.first().format->label)
                                    : QStringLiteral("These files are already %1").arg(files.first().format->label),
                  kWarning, 3.0);
    else
        showToast(files.size() == 1 ? QStringLiteral("This can't be done with this file")
                                    : QStringLiteral("This can't be done with these files"),
                  kWarning, 3.0);
}

void OperationDispatcher::receiveFilePromises(const Promises& promises, QPointF point,
                                              std::function<void(const QList<QUrl>&)> completion)
{
    QUrl folder;
    try {
        folder = OutputPlanner::makeTemporaryDirectory(QStringLiteral("promises"));
    } catch (...) {
        showToast(QStringLiteral("Couldn't receive the files"), kWarning, 3.0);
        return;
    }

    int expected = 0;
    for (const auto& promise : promises)
        expected += std::max<int>(int(promise->announcedNames().size()), 1);

    auto receiving = std::make_shared<Receiving>();
    receiving->folder = folder;
    receiving->placeholder = jobCenter().beginReceiving(expected, point);

    QPointer<OperationDispatcher> self(this);
    // Delivery hops to the main thread; the collector guarantees it happens at most once.
    receiving->collector = std::make_shared<PromiseCollector>(
        expected, [self, receiving, completion](const QList<QUrl>& urls) {
            postToMainThread([self, receiving, completion, urls] {
                if (self)
                    self->jobCenter().removeJob(receiving->placeholder);
                receiving->onCancel.reset();
                // The collector owns this delivery; letting go of it ends the cycle, so the
                // placeholder goes once the last reader and the deadline let go too.
                receiving->collector.reset();
                // From here the copies are inputs like any other file: Clean Up Now takes them
                // (counted) once no job is running, a purge by their age; a job that runs on
                // them is spared by the clean-up's hour.
                OutputPlanner::releaseTemporaryDirectory(receiving->folder);
                completion(urls);
            });
        });

    // Cancelling the placeholder abandons the drop: nothing is dispatched later and the
    // received files go.
    std::weak_ptr<Receiving> weak = receiving;
    receiving->onCancel = std::make_unique<std::stop_callback<std::function<void()>>>(
        receiving->placeholder->stopToken(), std::function<void()>([self, weak] {
            postToMainThread([self, weak] {
                const auto receiving = weak.lock();
                // Already delivered (or abandoned): nothing left to give up.
                if (!receiving || !receiving->collector || !receiving->collector->abandon())
                    return;
                if (self)
                    self->jobCenter().removeJob(receiving->placeholder);
                OutputPlanner::removeTemporaryDirectory(receiving->folder);
                receiving->collector.reset();
                qCInfo(jobsLog, "Receiving cancelled");
            });
        }));

    const QString folderPath = folder.toLocalFile();
    const std::shared_ptr<PromiseCollector> collector = receiving->collector;
    for (const auto& promise : promises) {
        promise->receive(folderPath, [collector](std::optional<QUrl> file, const QString& error) {
            if (!file)
                qCCritical(jobsLog, "Promise failed: %s", qUtf8Printable(error));
            collector->add(file);
        });
    }
    QTimer::singleShot(m_hooks.promiseDeadlineMs, this, [collector] { collector->finish(); });
}

} // namespace qv
