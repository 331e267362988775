#include "support/WaitFor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>

namespace qv::test {

bool waitFor(const std::function<bool()>& condition, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        // Outside a running event loop deleteLater needs a nudge.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

bool waitForQuiet(const std::function<qsizetype()>& count, int quietMs, int milliseconds)
{
    qsizetype last = count();
    QElapsedTimer still;
    still.start();
    return waitFor([&] {
        const qsizetype now = count();
        if (now != last) {
            last = now;
            still.restart();
        }
        return still.elapsed() >= quietMs;
    }, milliseconds);
}

} // namespace qv::test
