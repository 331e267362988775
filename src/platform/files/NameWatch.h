#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace qv {

// Watches the names of files in their folders, for anything that takes a name away or puts
// something under it (a rename over it, a delete, a create), and for the folder itself moving
// or going: what a look at the path cannot see once it is put back.
//
// Every watch of a process shares one inotify instance, never closed: the last close of an
// instance that watched anything waits for the kernel to be done with its marks (10 to 20 ms),
// and each item's end waited for it. A watch ended takes its marks away at once.
class NameWatch {
public:
    explicit NameWatch(const QStringList& paths);
    ~NameWatch();

    NameWatch(const NameWatch&) = delete;
    NameWatch& operator=(const NameWatch&) = delete;

    // The instance every watch of this process shares, opened now if it is not yet; -1 where
    // inotify refused. A process that ends at once after its last watch may hand it to one
    // that outlives it (the driver's process template), which then makes the last close.
    static int sharedFd();

    // Whether every path is watched: false where inotify refused (its limits), and then what
    // was not watched is only looked at.
    bool watchesAll() const { return m_watchedAll; }
    // For poll(): readable when any watch of this process may have seen something; -1 without
    // inotify.
    int fd() const { return m_fd; }
    // Reads what happened so far, without waiting; true once any watched name changed (or the
    // kernel dropped events, which might have been such a change).
    bool changed();
    // The path whose name changed first; empty if none did or the events were dropped.
    QString changedPath() const;

private:
    // Reads every event queued on the shared instance and marks the watches they concern.
    // Under the shared instance's lock.
    static void readEventsLocked();
    void noteChange(const QString& path);

    int m_fd = -1;
    bool m_watchedAll = true;
    bool m_changed = false;
    QString m_changedPath;
    // A folder's watch and the names watched in it (each as given: the folder's path + name).
    QHash<int, QHash<QByteArray, QString>> m_names;
};

} // namespace qv
