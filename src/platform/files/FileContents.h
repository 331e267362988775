#pragma once

#include "model/errors/SystemError.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <optional>

namespace qv {

// Writing a whole file so that a failure is never taken for success: every byte is counted,
// flushed and synced before the file is put in place, and a failed write leaves nothing behind.
class FileContents {
public:
    // Replaces the file at path atomically (QSaveFile): on failure the old file stays as it was.
    // Nothing on success, else what went wrong.
    static std::optional<SystemError> replace(const QString& path, const QByteArray& bytes);

    // Writes a file that must not exist yet; it appears under its name only once complete. A
    // taken name gives the POSIX error EEXIST and leaves the file there untouched.
    static std::optional<SystemError> createNew(const QString& path, const QByteArray& bytes);

    static bool isNameTaken(const SystemError& error)
    {
        return error.domain() == SystemError::posixDomain && error.code() == EEXIST;
    }
};

} // namespace qv
