#pragma once

#include "model/Clock.h"

#include <QString>
#include <QUrl>

namespace qv {

// The private per-user folder for temporary work: $XDG_CACHE_HOME/quorvenda/tmp
// (~/.cache/quorvenda/tmp), mode 0700. Before anything is made in it or removed from it, it is
// checked: a symbolic link, a non-folder or a folder owned by another user in its place is
// refused and a fresh folder is made.
class TemporaryRoot {
public:
    // The root's path; creates nothing. In a worker, $QUORVENDA_TEMPORARY_ROOT: its own folder.
    static QString path();
    // The cache folder it lies in ($XDG_CACHE_HOME, else ~/.cache).
    static QString cacheFolder();

    // Creates or repairs the root and returns its path; throws SystemError when it cannot be
    // made safe.
    static QString secure();

    // True for an item below the root (not the root itself), links resolved on both sides. In a
    // worker, also below the application's root, where the application leaves it pictures.
    static bool contains(const QString& path);

    // Creates root/name (mode 0700) and registers it as live before it exists, so that no purge
    // can take it; throws SystemError. Unregister it with WorkFolderRegistry::remove.
    static QString makeLiveFolder(const QString& name);

    // Removes the direct children of the root that are older than maxAgeSeconds and not live,
    // and the hidden work folders that ended processes left beside destinations (see
    // WorkFolderJournal), whatever their age; returns how many went. An unreadable date counts
    // as very old.
    static int purge(double maxAgeSeconds, const Clock& clock = Clock::system());

    // Bytes of every file below the root.
    static qint64 size();
};

QUrl appTemporaryRoot();
bool isInsideTemporaryRoot(const QUrl& url);
int purgeTemporaryItems(double maxAgeSeconds, const Clock& clock = Clock::system());
qint64 temporaryRootSize();

} // namespace qv
