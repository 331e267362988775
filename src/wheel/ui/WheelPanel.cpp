#include "wheel/ui/WheelPanel.h"

#include "jobs/ui/HUDPanel.h"
#include "model/Log.h"
#include "platform/desktop/WindowOpacity.h"
#include "platform/wayland/FramedHide.h"
#include "platform/wayland/LayerShell.h"
#include "platform/x11/CompositorWatcher.h"
#include "wheel/ui/WheelView.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QRegion>
#include <QTimer>
#include <QWindow>
#include <QVariantAnimation>

#include <utility>

namespace qv {

namespace {

Qt::WindowFlags flagsFor(bool clickMode)
{
    const Qt::WindowFlags common = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
        | Qt::NoDropShadowWindowHint;
    // A Wayland popup needs a parent window, and would be a plain window without one: there
    // the wheel is a layer surface that holds the keyboard while it is shown.
    if (clickMode && LayerShell::isAvailable())
        return Qt::Tool | common | Qt::X11BypassWindowManagerHint;
    if (clickMode)
        return Qt::Popup | common;
    return Qt::Tool | common | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;
}

} // namespace

WheelPanel::WheelPanel()
    : QWidget(nullptr, flagsFor(false))
    , m_view(new WheelView(this))
    , m_grabTimer(new QTimer(this))
{
    m_grabTimer->setInterval(grabRetryMs);
    connect(m_grabTimer, &QTimer::timeout, this, &WheelPanel::takeInput);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypePopupMenu);
    if (translucencyAvailable())
        setAttribute(Qt::WA_TranslucentBackground);
    setAccessibleName(QStringLiteral("Quorvenda"));
    resize(500, 500);
    m_view->setGeometry(rect());
    connect(m_view, &WheelView::shapeChanged, this, &WheelPanel::applyMask);
    connect(&CompositorWatcher::system(), &CompositorWatcher::changed, this, &WheelPanel::followCompositor);
    m_applicationState = QGuiApplication::applicationState();
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) { m_applicationState = state; });
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
        if (focus && focus == windowHandle() && isVisible())
            m_activeSinceShown = true;
    });
}

bool WheelPanel::translucencyAvailable()
{
    return HUDPanel::translucencyAvailable();
}

bool WheelPanel::isSeeThrough() const
{
    return testAttribute(Qt::WA_TranslucentBackground) && translucencyAvailable();
}

void WheelPanel::followCompositor()
{
    // A shown wheel keeps its window: making it anew would break a drag over it.
    if (!isVisible())
        matchVisual();
    applyMask();
    m_view->update();
}

void WheelPanel::matchVisual()
{
    const bool translucent = translucencyAvailable();
    if (translucent == testAttribute(Qt::WA_TranslucentBackground))
        return;
    // The visual is chosen when the native window is made: the next show makes it anew.
    if (testAttribute(Qt::WA_WState_Created))
        destroy();
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setAttribute(Qt::WA_NoSystemBackground, translucent);
    applyMask();
}

void WheelPanel::setClickMode(bool on)
{
    if (on == m_clickMode)
        return;
    releaseInput();
    m_clickMode = on;
    const bool visible = isVisible();
    setWindowFlags(flagsFor(on));
    setAttribute(Qt::WA_ShowWithoutActivating, !on);
    m_view->setClickMode(on);
    if (visible)
        orderFront();
}

void WheelPanel::setFrame(const QRect& frame)
{
    setGeometry(frame);
    m_view->setGeometry(rect());
    applyMask();
}

void WheelPanel::orderFront()
{
    FramedHide::cancel(windowHandle());
    stopFade();
    if (windowOpacityWorks())
        setWindowOpacity(1);
    if (!isVisible())
        matchVisual();
    if (LayerShell::isAvailable()) {
        winId();
        LayerShell::setKeys(windowHandle(), m_clickMode ? LayerKeys::exclusive : LayerKeys::none);
    }
    m_activeSinceShown = isVisible() && hasKeyboard();
    m_keptOpen = false;
    if (!isVisible())
        show();
    raise();
    if (m_clickMode) {
        activateWindow();
        m_view->setFocus(Qt::PopupFocusReason);
        m_grabAttempts = 0;
        takeInput();
    }
}

void WheelPanel::takeInput()
{
    // A popup asks for both grabs as it opens; another client holding the keyboard then (the
    // hot key's own grab, until the key is let go of) makes that fail, and the focus stays with
    // the file manager: the wheel asks again until it has them.
    QWindow* window = windowHandle();
    if (!m_clickMode || !isVisible() || !window || ++m_grabAttempts > grabGiveUpMs / grabRetryMs) {
        m_grabTimer->stop();
        return;
    }
    if (!m_keyboardGrabbed)
        m_keyboardGrabbed = window->setKeyboardGrabEnabled(true);
    if (m_keyboardGrabbed && !m_pointerGrabbed)
        m_pointerGrabbed = window->setMouseGrabEnabled(true);
    if (hasInputGrab())
        m_grabTimer->stop();
    else if (!m_grabTimer->isActive())
        m_grabTimer->start();
}

void WheelPanel::releaseInput()
{
    m_grabTimer->stop();
    QWindow* window = windowHandle();
    if (window && m_pointerGrabbed)
        window->setMouseGrabEnabled(false);
    if (window && m_keyboardGrabbed)
        window->setKeyboardGrabEnabled(false);
    m_pointerGrabbed = false;
    m_keyboardGrabbed = false;
}

void WheelPanel::releaseKeyboardHold()
{
    // A layer surface that holds the keyboard holds it until it goes, and it may wait a frame
    // or two to go (FramedHide): a key typed right after Escape belongs to the window before.
    if (m_clickMode && isVisible() && LayerShell::isAvailable() && windowHandle())
        LayerShell::setKeys(windowHandle(), LayerKeys::none);
}

void WheelPanel::hideEvent(QHideEvent* event)
{
    m_activeSinceShown = false;
    releaseInput();
    QWidget::hideEvent(event);
}

void WheelPanel::changeEvent(QEvent* event)
{
    // Where a key typed at once may still go to the window before: it is ours from here on.
    if (event->type() == QEvent::ActivationChange && m_clickMode && isActiveWindow())
        qCDebug(wheelLog, "The wheel has the keyboard");
    QWidget::changeEvent(event);
}

void WheelPanel::orderOut()
{
    stopFade();
    // The keyboard and pointer go back at once, whenever the window goes.
    releaseInput();
    releaseKeyboardHold();
    QPointer<WheelPanel> self(this);
    FramedHide::run(windowHandle(), [self] {
        if (!self)
            return;
        self->m_closingOurselves = true;
        self->hide();
        self->m_closingOurselves = false;
    });
}

bool WheelPanel::isShown() const
{
    return isVisible() && !FramedHide::isWaiting(windowHandle());
}

void WheelPanel::fadeOut(int ms, std::function<void()> done)
{
    stopFade();
    // Keys typed while it fades belong to the window the user goes back to.
    releaseInput();
    releaseKeyboardHold();
    if (!windowOpacityWorks()) {
        // No fade to see (Wayland): gone at once, and with it its hold on the keyboard, which
        // KWin keeps for any surface a drag passed over until it goes.
        if (done)
            done();
        return;
    }
    auto* fade = new QVariantAnimation(this);
    fade->setStartValue(windowOpacity());
    fade->setEndValue(0.0);
    fade->setDuration(ms);
    fade->setEasingCurve(QEasingCurve::InQuad);
    connect(fade, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) {
                if (windowOpacityWorks())
                    setWindowOpacity(value.toDouble());
            });
    connect(fade, &QVariantAnimation::finished, this, [done = std::move(done)] {
        if (done)
            done();
    });
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void WheelPanel::stopFade()
{
    if (m_fade) {
        m_fade->disconnect(this);
        m_fade->stop();
    }
}

void WheelPanel::setAlpha(double alpha)
{
    if (windowOpacityWorks())
        setWindowOpacity(alpha);
}

bool WheelPanel::hasKeyboard() const
{
    // Not isActiveWindow(), which a popup shown always is.
    return windowHandle() && windowHandle()->isActive();
}

void WheelPanel::closeEvent(QCloseEvent* event)
{
    // Qt closes its popups as the application goes inactive, before it says so. Before this
    // wheel had the keyboard, that is the focus leaving the wheel before it (told late on a busy
    // machine), not the user going elsewhere: the wheel stays.
    const bool goingInactive = m_applicationState == Qt::ApplicationActive
        && QGuiApplication::applicationState() != Qt::ApplicationActive;
    if (m_clickMode && !m_closingOurselves && goingInactive && !m_activeSinceShown) {
        if (!std::exchange(m_keptOpen, true))
            qCDebug(wheelLog, "Kept the wheel open: the application went inactive before it had the keyboard");
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    // Qt closes a popup on a click outside it; anything else is our own doing.
    if (m_clickMode && !m_closingOurselves)
        Q_EMIT dismissed();
}

void WheelPanel::applyMask()
{
    if (isSeeThrough()) {
        m_maskShape = QPainterPath();
        clearMask();
        return;
    }
    // Without a compositor the corners would show black: cut the window to the wheel.
    const QPainterPath shape = m_view->paintedShape();
    if (shape.isEmpty()) {
        m_maskShape = QPainterPath();
        clearMask();
        return;
    }
    // The same wheel at the same place: the mask it has is right.
    if (shape == m_maskShape && m_view->pos() == m_maskOffset && !mask().isEmpty())
        return;
    m_maskShape = shape;
    m_maskOffset = m_view->pos();
    setMask(QRegion(shape.toFillPolygon().toPolygon()).translated(m_view->pos()));
}

} // namespace qv
