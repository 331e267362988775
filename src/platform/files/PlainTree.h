#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>
#include <sys/types.h>

namespace qv {

// What another process made and this one is about to hand to the user: a file or a folder
// that holds only files and folders of this process's user, links only where they lead to
// something of the folder itself, and files with more than one name only where every name is
// in the folder (an archive's hard links; a name elsewhere would carry a change to that name).
// Making it plain gives a lone file the mode a new file of this process would get, and the files
// and folders of a folder their own less the set-ID bits and writing by others (the umask
// applied), where the disk keeps modes at all.
//
// No count or depth is fixed: a tree is what its disk holds. The walk is linear, keeps one
// folder open at a time, and remembers only the folders still to visit and the files with more
// than one name.
class PlainTree {
public:
    // A sentence for the details when the item held by fd is not plain, or holds more than
    // mostEntries files, folders and links; else nothing, with every mode set. A folder is
    // walked through descriptors only, never by its paths. owner is the user the disk shows
    // for what this process makes there: its own, but on a disk that keeps no owners (FAT
    // through FUSE) whoever mounted it.
    static std::optional<QString> makePlain(int fd, std::optional<uid_t> owner = std::nullopt,
                                            std::optional<qint64> mostEntries = std::nullopt);

    // The modes new files and folders of this process get: 0666 and 0777 less its umask.
    static mode_t fileMode();
    static mode_t folderMode();
};

} // namespace qv
