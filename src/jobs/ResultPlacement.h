#pragma once

#include "jobs/OutputPlanner.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace qv {

class JobNotes;

// The application's side of a worker's results: the worker writes only into the item's work
// folder, on the destination's filesystem, and this places what it left there under free names
// with ExclusiveRename, never replacing anything. The work folder is a folder in the worker's
// own folder when that lies on the destination's filesystem (a worker then serves many items),
// else a hidden folder in the destination.
//
// Nothing a worker says is taken at its word: only the results asked for are placed (as many
// as the item may make, each a plain file, or a plain folder where its name has no
// extension), opened from the work folder's descriptor without following a link, under names
// and modes the application makes; a reply that names anything else fails the item.
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
    // The folder the results go to, as the settings and the first input name it.
    QString destinationFolder() const;

    // The destination folder as opened when the item started (see OutputPlanner::holdDestination).
    void holdDestination(int folderFd) { m_planner->holdDestination(folderFd); }

    // Makes the item's work folder for a worker whose own folder is given, and holds it open;
    // throws SystemError.
    QString prepare(const QString& workerFolder);

    // Places the results the worker left and returns where each of its outputs went. Throws
    // EngineError, placing nothing, when the reply names anything else. Messages go to notes.
    // Results are placed once endWorker has ended the worker and everything it started (empty
    // where nothing of it is left already): nothing of it may still hold one of them, so a file
    // is linked, not copied.
    QList<QUrl> place(const QList<QUrl>& outputs, const QList<WorkerProtocol::StagedResult>& staged, JobNotes& notes,
                      const std::function<void()>& endWorker);

    // The base name a result takes: the input's own (its base name or its whole name),
    // followed by the worker's " (words)" when that is all it adds, else by the operation's
    // suffix; never with a leading dot, a control or direction character, or a slash.
    static QString baseNameFor(const QString& inputName, const QString& proposed, const QString& suffix);
    // The name of a result named after what its input holds (an archive's one entry): the
    // worker's, without leading dots and control, format or direction characters.
    static QString contentNameFor(const QString& proposed);
    // The extension a result takes, lower-case: one the item's operation or the inputs name, or
    // one of the formats the application's tools write; nothing for any other.
    static std::optional<QString> extensionFor(const QString& proposed, const QStringList& allowed);
    // The extensions the inputs name: each one's own and its format's first (a tool that keeps a
    // .j2k's format writes a .jp2).
    static QStringList inputExtensions(const QList<FileInfo>& files);

private:
    void removeItemFolder();

    std::shared_ptr<JobNotes> m_notes;
    std::optional<OutputPlanner> m_planner;
    QString m_shared;
    QString m_itemFolder;
    int m_itemFd = -1;
    int m_attempts = 0;
    int m_resultLimit = 1;
    QString m_inputName;
    QString m_suffix;
    QStringList m_extensions;
    bool m_namesFromContents = false;
};

} // namespace qv
