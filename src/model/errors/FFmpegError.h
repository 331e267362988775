#pragma once

#include "model/errors/Error.h"

namespace qv {

// The FFmpeg program ended with a non-zero status.
class FFmpegError : public Error {
public:
    FFmpegError(int status, QString log) : m_status(status), m_log(std::move(log)) {}

    int status() const { return m_status; }
    const QString& log() const { return m_log; }

    QString localizedDescription() const override;

private:
    int m_status;
    QString m_log;
};

} // namespace qv
