#include "editors/media/PlayerSurface.h"

#include <QPainter>

#include <utility>

namespace qv {

PlayerSurface::PlayerSurface(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

PlayerSurface::~PlayerSurface() = default;

void PlayerSurface::setFrame(const QImage& frame)
{
    m_frame = frame;
    m_pending = {};
    update();
}

void PlayerSurface::setPendingFrame(std::function<QImage()> picture)
{
    m_pending = std::move(picture);
    update();
    Q_EMIT frameArrived();
}

void PlayerSurface::setFirstPicture(const QImage& picture)
{
    if (hasPicture() || picture.isNull())
        return;
    m_frame = picture;
    update();
}

bool PlayerSurface::hasPicture() const
{
    return !m_frame.isNull() || m_pending;
}

void PlayerSurface::setMessage(const QString& message)
{
    m_message = message;
    update();
}

QSize PlayerSurface::pixelSize() const
{
    return (QSizeF(size()) * devicePixelRatioF()).toSize();
}

void PlayerSurface::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Q_EMIT pixelSizeChanged(pixelSize());
}

void PlayerSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!m_message.isEmpty()) {
        painter.setPen(Qt::white);
        painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, m_message);
        return;
    }
    if (m_pending) {
        m_frame = std::exchange(m_pending, {})();
    }
    if (m_frame.isNull())
        return;
    const QSizeF size = QSizeF(m_frame.size()).scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
}

} // namespace qv
