#pragma once

#include "jobs/OutputPlanner.h"
#include "platform/WorkerProtocol.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>
#include <optional>

namespace qv {

class JobNotes;

// The application's side of a worker's results: the worker writes only into the item's work
// folder, on the destination's filesystem, and this places what it left there under free names
// with ExclusiveRename, never replacing anything. The work folder is a folder in the worker's
// own folder when that lies on the destination's filesystem (a worker then serves many items),
// else a hidden folder in the destination.
class ResultPlacement {
public:
    // Throws EngineError when the chosen output folder is gone, SystemError when no work
    // folder can be made.
    explicit ResultPlacement(const WorkerProtocol::RunRequest& request);
    ~ResultPlacement();
    ResultPlacement(const ResultPlacement&) = delete;
    ResultPlacement& operator=(const ResultPlacement&) = delete;

    // The hidden folder in the destination the item works in, empty when it works in its
    // worker's own folder: only workers made for it may write there.
    QString sharedFolder() const;

    // Makes the item's work folder for a worker whose own folder is given; throws SystemError.
    QString prepare(const QString& workerFolder);

    // Places the results the worker left (anything else it names stays unplaced) and returns
    // the outputs with each staged one replaced by where it went. Messages go to notes.
    QList<QUrl> place(const QList<QUrl>& outputs, const QList<WorkerProtocol::StagedResult>& staged, JobNotes& notes);

private:
    void removeItemFolder();

    std::shared_ptr<JobNotes> m_notes;
    std::optional<OutputPlanner> m_planner;
    QString m_shared;
    QString m_itemFolder;
    int m_attempts = 0;
};

} // namespace qv
