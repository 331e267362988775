#pragma once

#include "model/Clock.h"
#include "model/settings/SettingsSnapshot.h"
#include "platform/files/FileAttributes.h"
#include "platform/files/WriteAccessProbe.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <sys/types.h>

namespace qv {

class JobNotes;
class WorkFolder;

// A result another process made, held open by the application: the folder it lies in and its
// name there, and the item itself (a plain file or folder). It is placed from these
// descriptors, never by a path that process could change on the way.
struct HeldResult {
    int folderFd = -1;
    QByteArray name;
    int fd = -1;
    bool isFolder = false;
    // The user the disk shows for what this process makes there (PlainTree::makePlain).
    std::optional<uid_t> owner;
    // The most files, folders and links a folder may hold: what its maker said it made.
    std::optional<qint64> mostEntries;
    // Nothing of the process that made it is left to hold it open: a file may be linked
    // rather than copied.
    bool makerGone = false;
};

// Names and places the results of one work item. Each item gets its own planner; copies of a
// planner share its work directory, which goes when the last copy does or when
// removeWorkDirectory is called. Safe to use from the item's thread while other items place
// into the same folder.
class OutputPlanner {
public:
    // Throws EngineError when the chosen output folder is gone, SystemError when no work
    // directory can be made.
    OutputPlanner(const QUrl& source, const SettingsSnapshot& settings,
                  std::shared_ptr<JobNotes> notes = nullptr,
                  const WriteAccessProbe& writeAccess = WriteAccessProbe::system(),
                  const Clock& clock = Clock::system());

    // In a worker: the work directory and every result stay in the item's work folder, where
    // deliver() leaves them for the application to place (see staged()). Throws SystemError.
    OutputPlanner(const QUrl& source, const SettingsSnapshot& settings, std::shared_ptr<JobNotes> notes,
                  const QString& itemFolder);

    // What deliver() left in the item's work folder, in order.
    QList<WorkerProtocol::StagedResult> staged() const;

    const QUrl& source() const { return m_source; }
    const SettingsSnapshot& settings() const { return m_settings; }
    QUrl workDirectory() const;
    bool sourceIsTemporary() const { return m_sourceIsTemporary; }
    const std::shared_ptr<JobNotes>& notes() const { return m_notes; }

    // The folder results go to: the chosen output folder, else the source's own folder when it
    // can be written, else the fallback folder (always for a temporary source).
    QUrl destinationFolder() const;

    // A path in the work directory: name.extension, or name alone for an empty extension.
    QUrl workURL(const QString& extension, const QString& name) const;

    // The base name of results: the given one or the source's, plus " (suffix)" when the
    // suffix is not empty.
    QString outputBaseName(const std::optional<QString>& suffix = std::nullopt,
                           const std::optional<QString>& baseName = std::nullopt) const;

    // Creates workDirectory/name with its parents; throws SystemError.
    QUrl makeWorkSubdirectory(const QString& name) const;

    // Moves a finished file or folder to its destination under the first free name, falling
    // back to the fallback folder when the destination refuses writing; returns where it went.
    // It arrives with its tags and dates already set (preserveAttributes), and is never touched
    // once it is there. Throws EngineError for a missing output folder, SystemError otherwise.
    QUrl deliver(const QUrl& file, const QString& baseName, const QString& extension) const;
    // The same for a result held open (see placeHeldResult).
    QUrl deliverHeld(const HeldResult& result, const QString& baseName, const QString& extension) const;

    // The destination folder as opened when the item started (not owned; -1 for none): held
    // results go into that folder through it, so one moved away and replaced by a link while
    // the item runs takes them, never the link's target.
    void holdDestination(int folderFd);

    // Gives a result, before it is placed, the source's tags and, when asked, its dates (else
    // the current time).
    void preserveAttributes(const QUrl& result) const;
    void preserveAttributes(int fd) const;

    void removeWorkDirectory() const;

    // A live folder "<prefix>-<uuid>" in the temporary root for work that outlives one item
    // (received promises, office conversions); throws SystemError. Purges leave it alone until
    // removeTemporaryDirectory, or until releaseTemporaryDirectory leaves it to them.
    static QUrl makeTemporaryDirectory(const QString& prefix);
    static void removeTemporaryDirectory(const QUrl& folder);
    static void releaseTemporaryDirectory(const QUrl& folder);

    // Candidate k of a result's name (k from 1): "base", "base 2", ... with ".ext" when given.
    static QString candidateName(const QString& baseName, const QString& extension, int k);

    static constexpr int maximumCandidates = 10000;

    // What the user reads when a worker's results are not what the application asked for.
    static QString untrustedResultMessage();

private:
    struct Destination {
        QString folder;
        bool isChosenFolder = false;
        // The folder the result should have gone to when it was not writable.
        QString refusedFolder;
    };
    Destination resolveDestination() const;
    // The source's tags and the dates a result takes.
    struct Inherited {
        QStringList tags;
        FileAttributes::Dates dates;
    };
    Inherited inherited() const;
    std::function<void(const QString&)> preparer() const;
    QString fallbackPath() const;
    // Puts the result in the folder (through its descriptor where held, else -1) under the first
    // free name made of these: placeResult or placeHeldResult.
    using Placer = std::function<QUrl(const QUrl& folder, int folderFd, const QString& baseName, const QString& extension)>;
    QUrl deliverWith(const Placer& place, const QString& baseName, const QString& extension) const;
    QUrl deliverToFallback(const Placer& place, const QString& baseName,
                           const QString& extension, const QString& refusedFolder) const;

    struct Staging;
    QUrl stage(const QUrl& file, const QString& baseName, const QString& extension) const;

    QUrl m_source;
    SettingsSnapshot m_settings;
    std::shared_ptr<Staging> m_staging;
    std::shared_ptr<WorkFolder> m_work;
    bool m_sourceIsTemporary = false;
    std::shared_ptr<JobNotes> m_notes;
    const WriteAccessProbe* m_writeAccess;
    const Clock* m_clock;
    int m_heldDestination = -1;
    QString m_heldFolder;
};

// Moves a file or folder into a folder under the first free candidate name, never replacing
// anything; copies it first when the folder is on another filesystem. prepare gets the path of
// the item about to be placed, before it takes its name: the given one, and the copy once it
// is made. Throws SystemError (EEXIST when all 10000 names are taken).
QUrl placeResult(const QUrl& file, const QUrl& destinationFolder, const QString& baseName,
                 const QString& extension,
                 const std::function<void(const QString& item)>& prepare = {});

// Places a held result in a folder under the first free candidate name, never replacing
// anything. A file is copied there from its descriptor under a hidden name (never linked: the
// process that made it may hold it still), given its tags and dates by attributes, then named;
// a folder is moved in under a hidden name, checked to be the one held,
// made plain (PlainTree) and then given its name. With folderFd (else -1), every step in the
// folder goes through that descriptor to it: its path names it only in what is returned.
// Throws EngineError when the result is not plain or another item took its place, SystemError
// otherwise.
QUrl placeHeldResult(const HeldResult& result, const QUrl& destinationFolder, int folderFd, const QString& baseName,
                     const QString& extension, const std::function<void(int fd)>& attributes,
                     const std::function<void(const QString& item)>& prepare);

} // namespace qv
