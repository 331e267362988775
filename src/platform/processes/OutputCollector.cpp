#include "platform/processes/OutputCollector.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

// fromUtf8 replaces every invalid sequence with U+FFFD.
QString decode(const char* data, qsizetype size)
{
    return QString::fromUtf8(data, size);
}

// Where to cut a line of at least `limit` bytes so that no character is cut in two.
qsizetype cutPoint(const QByteArray& line, qsizetype limit)
{
    qsizetype cut = limit;
    // Back over at most three continuation bytes to the start of the character.
    for (int i = 0; i < 3 && cut > 0 && (uchar(line.at(cut)) & 0xC0) == 0x80; ++i)
        --cut;
    return (uchar(line.at(cut)) & 0xC0) == 0x80 ? limit : cut;
}

} // namespace

QStringList OutputCollector::appendOut(const QByteArray& chunk)
{
    QStringList lines;
    if (!m_splitLines) {
        if (m_outOverflowed || m_out.size() + chunk.size() > stdoutLimit)
            m_outOverflowed = true;
        else
            m_out.append(chunk);
        return lines;
    }

    const char* data = chunk.constData();
    qsizetype size = chunk.size();
    while (size > 0) {
        const auto* feed = static_cast<const char*>(std::memchr(data, '\n', size_t(size)));
        const qsizetype part = feed ? feed - data : size;
        appendPending(data, part, lines);
        if (!feed)
            break;
        if (!m_skippingLine)
            lines.append(decode(m_pending.constData(), m_pending.size()));
        m_pending.clear();
        m_skippingLine = false;
        data += part + 1;
        size -= part + 1;
    }
    return lines;
}

void OutputCollector::appendPending(const char* data, qsizetype size, QStringList& lines)
{
    if (m_skippingLine)
        return;
    // One byte past the limit tells whether the limit falls inside a character.
    m_pending.append(data, std::min(size, lineLimit + 1 - m_pending.size()));
    if (m_pending.size() <= lineLimit)
        return;
    const qsizetype cut = cutPoint(m_pending, lineLimit);
    lines.append(decode(m_pending.constData(), cut));
    m_pending.clear();
    m_skippingLine = true;
}

void OutputCollector::appendErr(const QByteArray& chunk)
{
    m_err.append(chunk);
    if (m_err.size() > stderrLimit)
        m_err.remove(0, m_err.size() - stderrKeep);
}

std::optional<QString> OutputCollector::flushPending()
{
    const QByteArray rest = std::exchange(m_pending, {});
    m_skippingLine = false;
    if (!m_splitLines || rest.isEmpty())
        return std::nullopt;
    return decode(rest.constData(), rest.size());
}

} // namespace qv
