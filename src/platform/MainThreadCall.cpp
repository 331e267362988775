#include "platform/MainThreadCall.h"

#include "platform/ThreadHandoff.h"

#include <QCoreApplication>
#include <QEvent>

namespace qv {

namespace {

const QEvent::Type callEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct CallEvent : QEvent {
    explicit CallEvent(std::function<void()> f) : QEvent(callEventType), function(std::move(f)) {}
    std::function<void()> function;
};

class CallReceiver : public QObject {
public:
    bool event(QEvent* event) override
    {
        handoffAcquire();
        if (event->type() != callEventType)
            return QObject::event(event);
        static_cast<CallEvent*>(event)->function();
        return true;
    }
};

CallReceiver* receiver()
{
    // Lives as long as the process; made on whichever thread posts first, then given to main.
    static CallReceiver* const instance = [] {
        auto* r = new CallReceiver;
        if (QCoreApplication* app = QCoreApplication::instance())
            r->moveToThread(app->thread());
        return r;
    }();
    return instance;
}

} // namespace

void postToMainThread(std::function<void()> function)
{
    auto* event = new CallEvent(std::move(function));
    CallReceiver* target = receiver();
    handoffRelease();
    QCoreApplication::postEvent(target, event);
}

} // namespace qv
