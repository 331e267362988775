#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// The output buffers of one child process. One thread reads both pipes, so no lock is needed.
// Standard output is kept whole; standard error keeps only its most recent bytes.
class OutputCollector {
public:
    static constexpr qsizetype stderrLimit = 256000;
    static constexpr qsizetype stderrKeep = 128000;

    // With splitLines, complete standard-output lines are handed back as they arrive.
    explicit OutputCollector(bool splitLines) : m_splitLines(splitLines) {}

    // Returns the lines completed by this chunk, in order, without their line feed
    // (a carriage return before it stays).
    QStringList appendOut(const QByteArray& chunk);
    void appendErr(const QByteArray& chunk);
    // The unterminated last line, once.
    std::optional<QString> flushPending();

    const QByteArray& outData() const { return m_out; }
    const QByteArray& errData() const { return m_err; }
    QByteArray takeOut() { return std::exchange(m_out, {}); }
    QByteArray takeErr() { return std::exchange(m_err, {}); }

private:
    bool m_splitLines;
    QByteArray m_out;
    QByteArray m_err;
    QByteArray m_pending;
};

} // namespace qv
