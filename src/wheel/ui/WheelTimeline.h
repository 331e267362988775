#pragma once

#include "model/Clock.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>

#include <functional>

namespace qv {

// The clock that moves the wheel: keyed animations stepped to the clock's time on a frame
// timer, and one-shot timers. Tests give a fake clock and call advance().
class WheelTimeline : public QObject {
    Q_OBJECT
public:
    explicit WheelTimeline(const Clock& clock = Clock::system(), QObject* parent = nullptr);

    void setClock(const Clock& clock);

    // Runs the animation from now plus the delay (seconds); until then it holds its start value.
    // One under the same key is stopped first. The timeline owns the animation.
    void add(const QString& key, QVariantAnimation* animation, double delay = 0);
    void remove(const QString& key);
    void removeWithPrefix(const QString& prefix);
    bool has(const QString& key) const { return m_animations.contains(key); }
    QStringList keys() const { return m_animations.keys(); }

    // Calls the action once after that many seconds; gives a handle for cancel().
    int schedule(double seconds, std::function<void()> action);
    void cancel(int handle);
    bool isPending(int handle) const { return m_timers.contains(handle); }

    // Steps every animation to the clock's time and fires the timers that are due.
    void advance();
    bool isIdle() const { return m_animations.isEmpty() && m_timers.isEmpty(); }

Q_SIGNALS:
    // Something moved: repaint.
    void stepped();

private:
    struct Running {
        QPointer<QVariantAnimation> animation;
        QDateTime start;
    };
    struct Timer {
        QDateTime due;
        std::function<void()> action;
    };

    void ensureTicking();

    const Clock* m_clock;
    QHash<QString, Running> m_animations;
    QHash<int, Timer> m_timers;
    int m_nextHandle = 1;
    QTimer m_frame;
};

} // namespace qv
