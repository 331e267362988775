#include "jobs/ui/HUDPanel.h"

#include "platform/desktop/WindowOpacity.h"
#include "platform/wayland/FramedHide.h"
#include "platform/wayland/LayerShell.h"
#include "platform/x11/CompositorWatcher.h"

#include <QGuiApplication>
#include <QRegion>
#include <QVariantAnimation>

namespace qv {

HUDPanel::HUDPanel(const QSize& size)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint
                           | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    // A panel never becomes the active window, and Qt shows tooltips only in the active one.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    if (translucencyAvailable())
        setAttribute(Qt::WA_TranslucentBackground);
    resize(size);
    connect(&CompositorWatcher::system(), &CompositorWatcher::changed, this, &HUDPanel::followCompositor);
}

void HUDPanel::setContent(QWidget* content)
{
    if (m_content)
        m_content->deleteLater();
    m_content = content;
    if (content) {
        content->setParent(this);
        content->setGeometry(rect());
        content->show();
    }
}

void HUDPanel::dropContent()
{
    setContent(nullptr);
}

void HUDPanel::setShape(const QPainterPath& shape)
{
    m_shape = shape;
    applyMask();
}

void HUDPanel::setFrame(const QRect& frame)
{
    setGeometry(frame);
}

void HUDPanel::orderFrontRegardless()
{
    FramedHide::cancel(windowHandle());
    if (!isVisible()) {
        matchVisual();
        // Pills sit at a screen's corner, beside the bars there, never over them.
        create();
        LayerShell::setClearOfPanels(windowHandle(), true);
        show();
    }
    raise();
}

void HUDPanel::orderOut()
{
    stopAnimation();
    QPointer<HUDPanel> self(this);
    FramedHide::run(windowHandle(), [self] {
        if (self)
            self->hide();
    });
}

bool HUDPanel::isShown() const
{
    return isVisible() && !FramedHide::isWaiting(windowHandle());
}

void HUDPanel::dispose(HUDPanel* panel)
{
    if (!panel)
        return;
    panel->stopAnimation();
    panel->dropContent();
    QPointer<HUDPanel> gone(panel);
    FramedHide::run(panel->windowHandle(), [gone] { delete gone.data(); });
}

void HUDPanel::animate(const QRect& frame, double opacity, int ms, const QEasingCurve& curve,
                       std::function<void()> done)
{
    stopAnimation();
    auto* animation = new QVariantAnimation(this);
    const QRect from = geometry();
    const double fromOpacity = windowOpacity();
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(ms);
    animation->setEasingCurve(curve);
    connect(animation, &QVariantAnimation::valueChanged, this, [this, from, frame, fromOpacity, opacity](const QVariant& v) {
        const double t = v.toDouble();
        auto mix = [t](int a, int b) { return int(std::lround(a + (b - a) * t)); };
        setGeometry(QRect(mix(from.x(), frame.x()), mix(from.y(), frame.y()),
                          mix(from.width(), frame.width()), mix(from.height(), frame.height())));
        if (windowOpacityWorks())
            setWindowOpacity(fromOpacity + (opacity - fromOpacity) * t);
    });
    connect(animation, &QVariantAnimation::finished, this, [this, frame, opacity, done] {
        setGeometry(frame);
        if (windowOpacityWorks())
            setWindowOpacity(opacity);
        if (done)
            done();
    });
    m_animation = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void HUDPanel::stopAnimation()
{
    if (m_animation) {
        m_animation->disconnect(this);
        m_animation->stop();
    }
}

bool HUDPanel::isAnimating() const
{
    return m_animation && m_animation->state() == QAbstractAnimation::Running;
}

bool HUDPanel::translucencyAvailable()
{
    return QGuiApplication::platformName() != QLatin1String("xcb")
           || CompositorWatcher::system().isComposited();
}

bool HUDPanel::isSeeThrough() const
{
    return testAttribute(Qt::WA_TranslucentBackground) && translucencyAvailable();
}

void HUDPanel::followCompositor()
{
    if (!isVisible())
        matchVisual();
    applyMask();
    update();
}

void HUDPanel::matchVisual()
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

void HUDPanel::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_content)
        m_content->setGeometry(rect());
    applyMask();
}

void HUDPanel::applyMask()
{
    if (m_shape.isEmpty() || isSeeThrough()) {
        clearMask();
        return;
    }
    setMask(QRegion(m_shape.toFillPolygon().toPolygon()));
}

} // namespace qv
