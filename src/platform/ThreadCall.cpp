#include "platform/ThreadCall.h"

#include "platform/ThreadHandoff.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>

namespace qv {

namespace {

const QEvent::Type callEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

struct CallEvent : QEvent {
    explicit CallEvent(std::function<void()> f) : QEvent(callEventType), function(std::move(f)) {}
    std::function<void()> function;
};

// One call: it lives on the context's thread and goes once it has run.
class CallReceiver : public QObject {
public:
    explicit CallReceiver(const QObject* context) : m_context(const_cast<QObject*>(context)) {}

    bool event(QEvent* event) override
    {
        handoffAcquire();
        if (event->type() != callEventType)
            return QObject::event(event);
        if (m_context)
            static_cast<CallEvent*>(event)->function();
        deleteLater();
        return true;
    }

private:
    QPointer<QObject> m_context;
};

} // namespace

void postToThreadOf(const QObject* context, std::function<void()> function)
{
    if (!context)
        return;
    auto* event = new CallEvent(std::move(function));
    auto* receiver = new CallReceiver(context);
    receiver->moveToThread(context->thread());
    handoffRelease();
    QCoreApplication::postEvent(receiver, event);
}

void postToMainThread(std::function<void()> function)
{
    postToThreadOf(QCoreApplication::instance(), std::move(function));
}

} // namespace qv
