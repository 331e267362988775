#pragma once

#include <QString>

namespace qv {

// Plain file-system steps that report the errno value of what went wrong (0 on success).
class FileItems {
public:
    // Copies a file, a symbolic link or a folder with all its contents to a path that must not
    // exist; nothing is ever replaced. A partial copy is left for the caller to remove.
    static int copy(const QString& from, const QString& to);

    // Removes a file, a link (not its target) or a folder with its contents.
    static bool remove(const QString& path);

    // Creates a folder and its missing parents.
    static int makePath(const QString& path, unsigned mode = 0755);
};

} // namespace qv
