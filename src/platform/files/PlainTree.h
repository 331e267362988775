#pragma once

#include <QString>

#include <optional>
#include <sys/types.h>

namespace qv {

// What another process made and this one is about to hand to the user: a file or a folder
// that holds only files and folders of this process's user, none with another name elsewhere
// (a hard link would carry a change to that name), links only where they lead to something of
// the folder itself, and within bounds. Making it plain gives each the mode a new file of this process would get.
class PlainTree {
public:
    static constexpr int maximumEntries = 10000;
    static constexpr int maximumDepth = 16;

    // A sentence for the details when the item held by fd is not plain; else nothing, with
    // every mode set. A folder is walked through descriptors only, never by its paths.
    static std::optional<QString> makePlain(int fd);

    // The modes new files and folders of this process get: 0666 and 0777 less its umask.
    static mode_t fileMode();
    static mode_t folderMode();
};

} // namespace qv
