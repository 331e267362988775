#include "platform/wayland/FramedHide.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWindow>

namespace qv {

FramedHide::FramedHide(QWindow* window, std::function<void()> hide)
    : QObject(window), m_window(window), m_hide(std::move(hide))
{
    window->installEventFilter(this);
    m_limit.setSingleShot(true);
    connect(&m_limit, &QTimer::timeout, this, &FramedHide::finish);
    m_limit.start(limitMs);
    window->requestUpdate();
}

void FramedHide::run(QWindow* window, std::function<void()> hide)
{
    if (!window || !window->isVisible() || !window->handle()
        || QGuiApplication::platformName() != QLatin1String("wayland")) {
        hide();
        return;
    }
    if (FramedHide* pending = waiting(window)) {
        pending->m_hide = [first = std::move(pending->m_hide), then = std::move(hide)] {
            first();
            then();
        };
        return;
    }
    new FramedHide(window, std::move(hide));
}

void FramedHide::cancel(QWindow* window)
{
    delete waiting(window);
}

bool FramedHide::isWaiting(const QWindow* window)
{
    return waiting(window) != nullptr;
}

FramedHide* FramedHide::waiting(const QWindow* window)
{
    return window ? window->findChild<FramedHide*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

bool FramedHide::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::UpdateRequest) {
        finish();
        // Nothing to draw for a window on its way out.
        return true;
    }
    return false;
}

void FramedHide::finish()
{
    std::function<void()> hide = std::move(m_hide);
    m_limit.stop();
    m_window->removeEventFilter(this);
    // Out of the window first: the hide may delete it.
    setParent(nullptr);
    deleteLater();
    if (hide)
        hide();
}

} // namespace qv
