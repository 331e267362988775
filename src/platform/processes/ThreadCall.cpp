#include "platform/processes/ThreadCall.h"

#include "platform/processes/ThreadHandoff.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

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
    QThreadPool::globalInstance()->start(std::move(task), priority);
}

} // namespace qv

#include "ThreadCall.moc"
