#include "jobs/ui/HUDPanel.h"

#include <QGuiApplication>
#include <QRegion>
#include <QVariantAnimation>

#include <xcb/xcb.h>

namespace qv {

HUDPanel::HUDPanel(const QSize& size)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                           | Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint
                           | Qt::NoDropShadowWindowHint)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    setFocusPolicy(Qt::NoFocus);
    if (translucencyAvailable())
        setAttribute(Qt::WA_TranslucentBackground);
    resize(size);
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
    if (!isVisible())
        show();
    raise();
}

void HUDPanel::orderOut()
{
    stopAnimation();
    hide();
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
        setWindowOpacity(fromOpacity + (opacity - fromOpacity) * t);
    });
    connect(animation, &QVariantAnimation::finished, this, [this, frame, opacity, done] {
        setGeometry(frame);
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
    static const bool available = [] {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return true;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // A compositing manager owns _NET_WM_CM_S<screen>.
    const QByteArray name = "_NET_WM_CM_S0";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 1, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
    const bool composited = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return composited;
    }();
    return available;
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
    if (m_shape.isEmpty() || translucencyAvailable()) {
        clearMask();
        return;
    }
    setMask(QRegion(m_shape.toFillPolygon().toPolygon()));
}

} // namespace qv
