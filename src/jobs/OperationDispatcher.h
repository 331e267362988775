#pragma once

#include "jobs/FilePromise.h"
#include "jobs/Job.h"
#include "model/operations/OperationOptions.h"
#include "model/wheel/WheelEntry.h"

#include <QObject>
#include <QPointF>

#include <functional>
#include <memory>

namespace qv {

class JobCenter;
class QuickActions;
class SoundPlayer;

// The one road from a chosen wheel entry to what the user asked for: an editor, a quick action,
// a job at once, or the options sheet first. Files promised by another application are received
// before anything else. Main thread only.
class OperationDispatcher : public QObject {
    Q_OBJECT
public:
    using Promises = QList<std::shared_ptr<FilePromise>>;
    using ApplyAction = std::function<void(const OperationOptions&)>;

    // What the dispatcher calls; the user interface installs the windows.
    struct Hooks {
        std::function<void(EditorKind, const WheelEntry&, const QList<FileInfo>&, QPointF)> openEditor;
        std::function<void(const OperationDescriptor&, const OperationOptions&, bool canRemember,
                           const QList<FileInfo>&, QPointF, ApplyAction)>
            presentSheet;
        std::function<OperationOptions(const QString& operationId)> loadOptions;
        JobCenter* jobCenter = nullptr;
        SoundPlayer* sounds = nullptr;
        QuickActions* quickActions = nullptr;
        int promiseDeadlineMs = 120000;
    };

    explicit OperationDispatcher(Hooks hooks, QObject* parent = nullptr);

    static OperationDispatcher& shared();
    Hooks& hooks() { return m_hooks; }

    void dispatchOperation(const WheelEntry& entry, const QList<FileInfo>& files,
                           const Promises& promises, bool optionKeyDown, QPointF point);
    // Describes the received files off the main thread, then dispatches them as chosen.
    void dispatchReceivedURLs(const QList<QUrl>& urls, const WheelEntry& entry, bool optionKeyDown,
                              QPointF point);
    // Submits the job; when the entry takes none of the files, says so in a toast.
    void submitOrSay(const WheelEntry& entry, const QList<FileInfo>& files, const OperationOptions& options,
                     QPointF point);
    void runOperationJob(const OperationOptions& options, const WheelEntry& entry,
                         const QList<FileInfo>& files, QPointF point);
    // Receives the promised files into a fresh folder while a placeholder job shows; calls the
    // completion once on the main thread, unless the user cancels the placeholder.
    void receiveFilePromises(const Promises& promises, QPointF point,
                             std::function<void(const QList<QUrl>&)> completion);

private:
    JobCenter& jobCenter() const;
    Hooks m_hooks;
};

} // namespace qv
