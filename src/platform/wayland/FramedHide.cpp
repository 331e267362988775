#include "platform/wayland/FramedHide.h"

#include <QEvent>
#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformwindow.h>

namespace qv {

FramedHide::FramedHide(QWindow* window, std::function<void()> hide)
    : QObject(window), m_window(window), m_hide(std::move(hide)), m_unexposed(!window->isExposed())
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
    FramedHide* pending = waiting(window);
    if (!pending)
        return;
    const bool heldBack = pending->m_heldBack;
    delete pending;
    // What it did not draw while it waited.
    if (heldBack)
        window->requestUpdate();
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
    if (watched != m_window)
        return false;
    if (event->type() == QEvent::UpdateRequest) {
        m_heldBack = true;
        answered();
        return true;
    }
    if (event->type() == QEvent::Expose) {
        if (!m_window->isExposed()) {
            m_unexposed = true;
            return false;
        }
        // A window on its way out draws nothing: a new frame would wait for its own answer.
        m_heldBack = true;
        if (m_unexposed) {
            m_unexposed = false;
            answered();
        }
        return true;
    }
    return false;
}

void FramedHide::answered()
{
    if (m_settled) {
        finish();
        return;
    }
    m_settled = true;
    m_window->requestUpdate();
    // An update asked for before may still be waiting for an answer that came as an expose.
    if (QPlatformWindow* platform = m_window->handle())
        platform->requestUpdate();
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
