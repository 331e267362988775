#pragma once

#include <QString>

namespace qv {

// Plain file-system steps that report the errno value of what went wrong (0 on success). Names
// inside folders are handled as the bytes they are, whether or not they are valid UTF-8.
class FileItems {
public:
    // Copies a file, a symbolic link or a folder with all its contents to a path that must not
    // exist; nothing is ever replaced. The copy keeps what a move across filesystems keeps:
    // modes, access and modification times, links as links, hard links among the copied files,
    // pipes, extended attributes where the target takes them, and the owner where this process
    // may set it (else set-id bits are dropped). A partial copy is left for the caller to
    // remove.
    static int copy(const QString& from, const QString& to);
    // The same for paths as the file system has them, for names that are not UTF-8.
    static int copyNative(const QByteArray& from, const QByteArray& to);

    // Removes a file, a link (not its target) or a folder with its contents, opening up folders
    // of this process's own that were made read-only. False when anything is left.
    static bool remove(const QString& path);

    // 0 when every folder at path and below lets this process remove what it holds, so that
    // removing path after copying it cannot stop halfway; else the errno value of the first
    // that does not (EACCES, EROFS) or of a folder that cannot be read.
    static int checkRemovable(const QString& path);

    // Creates a folder and its missing parents.
    static int makePath(const QString& path, unsigned mode = 0755);
};

} // namespace qv
