#include "platform/processes/ThreadCall.h"

#include "platform/processes/ThreadHandoff.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <memory>

namespace qv {

namespace {

struct Call {
    bool hasContext = false;
    QPointer<QObject> context;
    std::function<void()> function;
};

// Made on the main thread with the application, so that nothing Qt reads of it before a call
// runs was written by the posting thread. The call itself travels as a number.
class CallReceiver : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void run(qulonglong address)
    {
        handoffAcquire();
        const std::unique_ptr<Call> call(reinterpret_cast<Call*>(address));
        if (!call->hasContext || call->context)
            call->function();
    }
};

CallReceiver* g_receiver = nullptr;

void waitForBackgroundWork();

// Most background work waits on a program or the disk, not on the processor: a pool sized to
// the processors let two slow programs (a hanging FFmpeg's version and licence) hold back
// everything else on a two-core machine.
QThreadPool& backgroundPool()
{
    static QThreadPool* const pool = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(std::max(16, 4 * QThread::idealThreadCount()));
        qAddPostRoutine(waitForBackgroundWork);
        return made;
    }();
    return *pool;
}

// As the application does for Qt's own pool: its work ends before the application does.
void waitForBackgroundWork()
{
    backgroundPool().waitForDone();
}

void makeReceiver()
{
    g_receiver = new CallReceiver;
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(makeReceiver)

void postToMainThread(std::function<void()> function)
{
    auto* call = new Call{false, {}, std::move(function)};
    handoffRelease();
    QMetaObject::invokeMethod(g_receiver, "run", Qt::QueuedConnection,
                              Q_ARG(qulonglong, reinterpret_cast<qulonglong>(call)));
}

void postToMainThread(const QObject* context, std::function<void()> function)
{
    if (!context)
        return;
    auto* call = new Call{true, const_cast<QObject*>(context), std::move(function)};
    handoffRelease();
    QMetaObject::invokeMethod(g_receiver, "run", Qt::QueuedConnection,
                              Q_ARG(qulonglong, reinterpret_cast<qulonglong>(call)));
}

void runInBackground(std::function<void()> work, int priority)
{
    std::function<void()> task = [work = std::move(work)] {
        handoffAcquire();
        work();
    };
    handoffRelease();
    backgroundPool().start(std::move(task), priority);
}

} // namespace qv

#include "ThreadCall.moc"
