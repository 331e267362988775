#pragma once

#include "model/errors/Error.h"

namespace qv {

// An engine's failure in its own words: a sentence for the user and the technical text behind it.
class EngineError : public Error {
public:
    explicit EngineError(QString message, QString log = {})
        : m_message(std::move(message)), m_log(std::move(log)) {}

    const QString& message() const { return m_message; }
    const QString& log() const { return m_log; }
    void setLog(const QString& log) { m_log = log; }

    QString localizedDescription() const override { return m_message; }

private:
    QString m_message;
    QString m_log;
};

} // namespace qv
