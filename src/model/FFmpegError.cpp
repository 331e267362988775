#include "model/FFmpegError.h"

#include "model/JobFailure.h"

namespace qv {

QString FFmpegError::localizedDescription() const
{
    return ffmpegLogMessage(m_log);
}

} // namespace qv
