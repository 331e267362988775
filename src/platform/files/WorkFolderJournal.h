#pragma once

#include <QString>

namespace qv {

// The hidden work folders made beside destinations, listed in a file of the temporary root so
// that a later purge finds the ones a crash left behind. One line per folder:
// "<boot id> <pid> <start time> <percent-encoded path>", the owner process being the one that
// made it. Every change holds an exclusive lock on the root, so processes may share the list;
// the file goes when the list is empty.
class WorkFolderJournal {
public:
    static constexpr const char* fileName = ".work-folders";

    // Records a folder of this process, before it is made. False when the record could not be
    // written in full.
    static bool add(const QString& path);
    // Drops the record of a folder that is gone. False when the list could not be rewritten.
    static bool remove(const QString& path);

    // Removes the listed folders whose owner process has ended and that are not live here, and
    // drops their records; returns how many folders went. Only a real folder of this user named
    // like a hidden work folder is removed, never what a link points to; a record naming
    // anything else is dropped without touching it.
    static int sweep();
};

} // namespace qv
