#include "engines/pdf/PdfSyncBatch.h"

#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace qv {

namespace {

// Open files a batch holds before syncing them, well inside the descriptors a process may open.
constexpr size_t batchFiles = 64;

} // namespace

PdfSyncBatch::~PdfSyncBatch()
{
    for (int file : m_files)
        ::close(file);
}

void PdfSyncBatch::add(int descriptor)
{
    // Starts the writing without waiting for it.
    ::sync_file_range(descriptor, 0, 0, SYNC_FILE_RANGE_WRITE);
    m_files.push_back(descriptor);
    if (m_files.size() >= batchFiles)
        sync();
}

void PdfSyncBatch::sync()
{
    std::vector<int> errors(m_files.size(), 0);
    std::atomic<size_t> next{0};
    const auto syncSome = [&] {
        for (size_t k = next++; k < m_files.size(); k = next++) {
            if (::fsync(m_files[k]) != 0 && errno != EINVAL && errno != ENOTSUP)
                errors[k] = errno;
        }
    };
    {
        // Waiting threads, not working ones: the disk gathers their syncs into fewer commits.
        const size_t helpers = std::min<size_t>(m_files.size(), 8);
        std::vector<std::jthread> threads;
        for (size_t i = 1; i < helpers; ++i)
            threads.emplace_back(syncSome);
        syncSome();
    }
    for (int file : m_files)
        ::close(file);
    m_files.clear();
    for (int code : errors) {
        if (code == ENOSPC || code == EDQUOT)
            throw SystemError::fromErrno(code, QStringLiteral("Couldn't write the PDF: ")
                                                   + QString::fromLocal8Bit(std::strerror(code)));
        if (code != 0)
            throw EngineError(QStringLiteral("Couldn't write the PDF"), QString::fromLocal8Bit(std::strerror(code)));
    }
}

} // namespace qv
