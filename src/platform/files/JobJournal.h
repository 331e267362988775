#pragma once

#include <QString>
#include <QStringList>
#include <QUuid>

namespace qv {

// The jobs of the running application, listed in a file while they run, so that the next start
// can say which ones were cut short when the application was killed or crashed. One line per
// job: "<boot id> <pid> <start time> <job id> <percent-encoded description>". Every change holds an
// exclusive lock on the file. Off (nothing is written) until a path is set: the application
// sets one; the driver and tests leave it off unless they test it.
class JobJournal {
public:
    // The usual file: $XDG_STATE_HOME/quorvenda/jobs-in-flight (~/.local/state when unset).
    static QString defaultPath();
    // Turns the journal on with this file, or off with an empty path.
    static void setPath(const QString& path);
    static bool isEnabled();

    // Records a job that starts; false when the record could not be written in full.
    static bool add(const QUuid& job, const QString& description);
    // Drops the record of a job that ended.
    static bool remove(const QUuid& job);

    // The descriptions of jobs whose process is gone, oldest first, and their records dropped.
    // Records of a process that still runs (another session of this user) are kept.
    static QStringList takeInterrupted();

    // How a job is named there: its title and its first file ("Converting to PNG “photo.jpg”",
    // "… and 2 more").
    static QString describe(const QString& title, const QString& firstFileName, int fileCount);
    // What the toast at start says of them; empty for none.
    static QString interruptedMessage(const QStringList& descriptions);
};

} // namespace qv
