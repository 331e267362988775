#include "wheel/ui/WheelTimeline.h"

namespace qv {

WheelTimeline::WheelTimeline(const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(&clock)
{
    m_frame.setInterval(16);
    m_frame.setTimerType(Qt::PreciseTimer);
    connect(&m_frame, &QTimer::timeout, this, &WheelTimeline::advance);
}

void WheelTimeline::setClock(const Clock& clock)
{
    m_clock = &clock;
}

void WheelTimeline::add(const QString& key, QVariantAnimation* animation, double delay)
{
    remove(key);
    animation->setParent(this);
    const QDateTime start = m_clock->now().addMSecs(qRound64(delay * 1000));
    m_animations.insert(key, {animation, start});
    // Fill backwards: the start value shows at once, also while the start is delayed.
    animation->setCurrentTime(0);
    ensureTicking();
    Q_EMIT stepped();
}

void WheelTimeline::remove(const QString& key)
{
    const auto found = m_animations.find(key);
    if (found == m_animations.end())
        return;
    if (found->animation)
        found->animation->deleteLater();
    m_animations.erase(found);
}

void WheelTimeline::removeWithPrefix(const QString& prefix)
{
    const QStringList all = m_animations.keys();
    for (const QString& key : all) {
        if (key.startsWith(prefix))
            remove(key);
    }
}

int WheelTimeline::schedule(double seconds, std::function<void()> action)
{
    const int handle = m_nextHandle++;
    m_timers.insert(handle, {m_clock->now().addMSecs(qRound64(seconds * 1000)), std::move(action)});
    ensureTicking();
    return handle;
}

void WheelTimeline::cancel(int handle)
{
    m_timers.remove(handle);
}

void WheelTimeline::advance()
{
    const QDateTime now = m_clock->now();
    bool moved = false;
    const QStringList running = m_animations.keys();
    for (const QString& key : running) {
        const auto found = m_animations.constFind(key);
        if (found == m_animations.constEnd())
            continue; // removed by an earlier step
        QPointer<QVariantAnimation> animation = found->animation;
        if (!animation) {
            m_animations.remove(key);
            continue;
        }
        const qint64 elapsed = found->start.msecsTo(now);
        if (elapsed < 0)
            continue;
        const int duration = animation->duration();
        animation->setCurrentTime(int(std::min<qint64>(elapsed, duration)));
        moved = true;
        if (elapsed >= duration) {
            // The step may have replaced this key with a new animation.
            const auto again = m_animations.find(key);
            if (again != m_animations.end() && again->animation == animation) {
                m_animations.erase(again);
                animation->deleteLater();
            }
        }
    }

    QList<int> due;
    for (auto it = m_timers.cbegin(); it != m_timers.cend(); ++it) {
        if (it->due <= now)
            due.append(it.key());
    }
    std::sort(due.begin(), due.end());
    for (const int handle : due) {
        const auto found = m_timers.find(handle);
        if (found == m_timers.end())
            continue;
        const std::function<void()> action = found->action;
        m_timers.erase(found);
        action();
        moved = true;
    }

    if (isIdle())
        m_frame.stop();
    if (moved)
        Q_EMIT stepped();
}

void WheelTimeline::ensureTicking()
{
    if (!m_frame.isActive())
        m_frame.start();
}

} // namespace qv
