#pragma once

// libjpeg's error handling for the JPEG readers of engines/image. Included only there.

#include <QString>

#include <csetjmp>
#include <cstdio>
#include <memory>

#include <jpeglib.h>

namespace qv {

// An error jumps back to `jump` with libjpeg's message kept; a warning about damaged data
// (level -1) is counted and its message kept, or ends the read as an error would.
struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX] = {};
    bool failOnWarning = false;

    // Installs itself as info's error manager; info must not outlive it.
    void install(jpeg_decompress_struct& info, bool endOnWarning);
    QString text() const { return QString::fromLatin1(message); }

    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    using File = std::unique_ptr<std::FILE, FileCloser>;
    // The file opened for reading, closed on exec; null when it cannot be.
    static File open(const QString& path);
};

} // namespace qv
