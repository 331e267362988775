#include "platform/OutputCollector.h"

namespace qv {

QStringList OutputCollector::appendOut(const QByteArray& chunk)
{
    m_out.append(chunk);
    QStringList lines;
    if (!m_splitLines)
        return lines;
    m_pending.append(chunk);
    qsizetype start = 0;
    for (qsizetype end = m_pending.indexOf('\n'); end >= 0; end = m_pending.indexOf('\n', start)) {
        // fromUtf8 replaces every invalid sequence with U+FFFD.
        lines.append(QString::fromUtf8(m_pending.constData() + start, end - start));
        start = end + 1;
    }
    m_pending.remove(0, start);
    return lines;
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
    if (!m_splitLines || rest.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(rest);
}

} // namespace qv
