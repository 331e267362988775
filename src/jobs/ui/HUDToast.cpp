#include "jobs/ui/HUDToast.h"

#include "jobs/HudGeometry.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/PillBackground.h"
#include "jobs/ui/ToastView.h"
#include "model/Log.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/TestHarness.h"
#include "platform/desktop/WindowOpacity.h"

#include <QAccessible>
#include <QEasingCurve>

namespace qv {

namespace {

QPointer<HUDToast> g_current;
std::optional<QString> g_pendingAnnouncement;

} // namespace

HUDToast::HUDToast(const QString& text, const QString& symbol, const ScreenInfo& screen, double primaryHeight,
                   std::function<void()> action)
    : m_action(std::move(action))
{
    const double maxWidth = hud::toastMaxWidth(screen.frame);
    m_view = new ToastView(text, symbol, maxWidth, bool(m_action));
    const QSize size = m_view->sizeHint();
    m_panel = new HUDPanel(size);
    m_panel->setContent(m_view);
    m_panel->setShape(pillShape(QRectF(QPointF(0, 0), size)));
    if (!m_action) {
        // Clicks go through to the windows below.
        m_panel->setAttribute(Qt::WA_TransparentForMouseEvents);
        m_panel->setWindowFlag(Qt::WindowTransparentForInput);
    }
    m_panel->setFrame(flipY(hud::toastFrame(screen, QSizeF(size)), primaryHeight).toRect());
    connect(m_view, &ToastView::clicked, this, &HUDToast::click);

    m_dismissWork.setSingleShot(true);
    connect(&m_dismissWork, &QTimer::timeout, this, [this] { dismiss(true); });
}

HUDToast::~HUDToast()
{
    HUDPanel::dispose(m_panel);
}

void HUDToast::present(double seconds)
{
    // A presented toast is the one on screen; an older one has been replaced by now.
    if (g_current && g_current != this)
        g_current->dismiss(false);
    g_current = this;
    if (windowOpacityWorks())
        m_panel->setWindowOpacity(0.0);
    m_panel->orderFrontRegardless();
    m_panel->animate(m_panel->geometry(), 1.0, 150, QEasingCurve::Linear);
    if (QAccessible::isActive() && g_pendingAnnouncement) {
        QAccessibleEvent event(m_view, QAccessible::Alert);
        QAccessible::updateAccessibility(&event);
    }
    m_dismissWork.start(int(std::lround(seconds * 1000)));
}

void HUDToast::dismiss(bool animated)
{
    m_dismissWork.stop();
    if (g_current == this)
        g_current = nullptr;
    if (!animated || !m_panel) {
        if (m_panel)
            m_panel->orderOut();
        deleteLater();
        return;
    }
    QPointer<HUDToast> self(this);
    m_panel->animate(m_panel->geometry(), 0.0, 250, QEasingCurve::Linear, [self] {
        if (!self)
            return;
        self->m_panel->orderOut();
        self->deleteLater();
    });
}

void HUDToast::click()
{
    if (!m_action)
        return;
    // A second click on the same toast does nothing.
    const std::function<void()> action = std::exchange(m_action, {});
    action();
    dismiss(true);
}

void HUDToast::showToast(const Toast& toast, const ScreenProvider& screens)
{
    if (g_current)
        g_current->dismiss(false);
    g_pendingAnnouncement = toast.text;
    qCInfo(appLog, "Toast: %s", qUtf8Printable(toast.text));
    if (isRunningTests())
        return;
    const std::optional<ScreenInfo> screen = screenForPoint(std::nullopt, screens);
    if (!screen)
        return; // nowhere to show it
    auto* shown = new HUDToast(toast.text, toast.symbol, *screen, screens.primaryHeight(), toast.onClick);
    shown->present(toast.seconds);
}

HUDToast* HUDToast::current()
{
    return g_current;
}

std::optional<QString> HUDToast::pendingAnnouncement()
{
    return g_pendingAnnouncement;
}

} // namespace qv
