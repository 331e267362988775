#include "model/errors/FFmpegError.h"

#include "model/errors/JobFailure.h"

#include <csignal>

namespace qv {

QString FFmpegError::localizedDescription() const
{
    // Killed by SIGXFSZ: the file outgrew what the process may write, before a word was logged.
    if (m_status == 128 + SIGXFSZ)
        return fileTooLargeMessage();
    return ffmpegLogMessage(m_log);
}

} // namespace qv
