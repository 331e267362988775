#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace qv {

// The output buffers of one child process. One thread reads both pipes, so no lock is needed.
// Every buffer is bounded, whatever the program writes:
// - split into lines, standard output is handed over line by line and not kept; a line longer
//   than lineLimit is handed over cut to its first lineLimit bytes (less the end of a character
//   cut in two) and the rest of it, up to its line feed, is dropped;
// - kept whole, standard output stops growing once more than stdoutLimit bytes came, and
//   outOverflowed() says so: the caller must then treat the output as lost, never as complete;
// - standard error keeps only its most recent bytes.
class OutputCollector {
public:
    static constexpr qsizetype stdoutLimit = 64 * 1024 * 1024;
    static constexpr qsizetype lineLimit = 4 * 1024 * 1024;
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

    // True once kept standard output went past stdoutLimit; the chunk that did so and all
    // after it were dropped.
    bool outOverflowed() const { return m_outOverflowed; }

    const QByteArray& outData() const { return m_out; }
    const QByteArray& errData() const { return m_err; }
    QByteArray takeOut() { return std::exchange(m_out, {}); }
    QByteArray takeErr() { return std::exchange(m_err, {}); }

private:
    void appendPending(const char* data, qsizetype size, QStringList& lines);

    bool m_splitLines;
    bool m_outOverflowed = false;
    // The rest of an over-long line is being skipped up to its line feed.
    bool m_skippingLine = false;
    QByteArray m_out;
    QByteArray m_err;
    QByteArray m_pending;
};

} // namespace qv
