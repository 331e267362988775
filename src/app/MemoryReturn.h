#pragma once

#include "jobs/WorkerPool.h"

#include <QObject>
#include <QTimer>

namespace qv {

// Gives memory back to the system once windows close: a tray application runs all day, and
// the pictures an editor, a preview or a float panel held must not stay in its heap. Watches
// every top-level window of the application; two seconds after the last one hides, the
// picture caches are emptied and the heap's free pages returned (malloc_trim). Once no window
// has shown for a while (restMs), after the start-up as after a window, the same again, and
// the dynamic linker's tables go as well (ResidentPages). Beyond that, nothing runs while no
// window closes.
class MemoryReturn : public QObject {
    Q_OBJECT
public:
    // Starts watching, and has large blocks (pictures) mapped apart from the heap from now on,
    // so that freeing one returns it whole.
    static void install();

    // Empties the caches and trims the heap now.
    static void giveBack();

    // The same and the linking tables, unless a window shows.
    static void rest();

    static constexpr int delayMs = 2000;
    // After the last warm worker has gone (WorkerPool): its end runs code that would look at
    // the tables again.
    static constexpr int restMs = 2 * int(WorkerPool::defaultIdleLimit.count()) + 10000;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit MemoryReturn(QObject* parent);
    QTimer m_timer;
    QTimer m_rest;
};

} // namespace qv
