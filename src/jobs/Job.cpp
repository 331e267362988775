#include "jobs/Job.h"

namespace qv {

Job::Job(QString title, QString symbol, int fileCount, QString firstFileName,
         std::optional<QPointF> origin, QDateTime startedAt, QObject* parent)
    : QObject(parent)
    , m_title(std::move(title))
    , m_symbol(std::move(symbol))
    , m_fileCount(fileCount)
    , m_firstFileName(std::move(firstFileName))
    , m_origin(origin)
    , m_startedAt(std::move(startedAt))
{
}

bool Job::isActive() const
{
    return m_state == State::receiving || m_state == State::waiting || m_state == State::running;
}

void Job::cancelTask()
{
    // A placeholder has no task, but cancelling it abandons the files it waits for.
    if ((m_hasTask || m_state == State::receiving) && m_stop.request_stop())
        Q_EMIT changed();
}

void Job::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT changed();
}

void Job::setFraction(double fraction)
{
    m_fraction = fraction;
    Q_EMIT changed();
}

void Job::setOutputs(const QList<QUrl>& outputs)
{
    m_outputs = outputs;
    Q_EMIT changed();
}

void Job::setMessages(const QStringList& messages)
{
    m_messages = messages;
    Q_EMIT changed();
}

void Job::setFailure(const std::optional<JobFailure>& failure)
{
    m_failure = failure;
    Q_EMIT changed();
}

void Job::setFailedCount(int count)
{
    m_failedCount = count;
    Q_EMIT changed();
}

void Job::setItemOutcomes(const QList<ItemOutcome>& outcomes)
{
    if (m_itemOutcomes == outcomes)
        return;
    m_itemOutcomes = outcomes;
    Q_EMIT changed();
}

void Job::setFinishedAt(const QDateTime& time)
{
    m_finishedAt = time;
}

} // namespace qv
