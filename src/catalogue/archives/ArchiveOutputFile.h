#pragma once

#include <QString>

#include <cstddef>
#include <optional>
#include <sys/types.h>
#include <time.h>

namespace qv {

// One regular file being unpacked. Every write is checked in full and so is the close: a short
// write or a failed close throws SystemError instead of leaving a file that looks whole.
class ArchiveOutputFile {
public:
    enum class Mode {
        create,          // a new file; a file or empty folder of that name is replaced
        createOnly,      // a new file; a name that is taken throws SystemError (EEXIST)
        replaceContents  // an existing file (a hard link's) gets new contents
    };

    // The path's folder must exist. mode is the file's permission bits (the umask applies).
    ArchiveOutputFile(const QString& path, mode_t mode, Mode how = Mode::create);
    ~ArchiveOutputFile();
    ArchiveOutputFile(const ArchiveOutputFile&) = delete;
    ArchiveOutputFile& operator=(const ArchiveOutputFile&) = delete;

    // Writes the block at offset, which must not lie before the end of what is written.
    void write(const void* data, std::size_t size, qint64 offset);
    void append(const void* data, std::size_t size) { write(data, size, m_end); }
    qint64 end() const { return m_end; }

    // Grows the file to size (a trailing hole), sets its times when given and closes it.
    void finish(qint64 size, const std::optional<timespec>& modified = std::nullopt,
                const std::optional<timespec>& accessed = std::nullopt);

private:
    QString m_path;
    int m_fd = -1;
    qint64 m_end = 0;
};

} // namespace qv
