#include "editors/media/PlayerSurface.h"

#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace qv {

PlayerSurface::PlayerSurface(QWidget* parent) : QWidget(parent), m_pending(std::make_unique<QVideoFrame>())
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

PlayerSurface::~PlayerSurface() = default;

QVideoSink* PlayerSurface::sink()
{
    if (!m_sink) {
        m_sink = new QVideoSink(this);
        connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
            if (!frame.isValid())
                return;
            *m_pending = frame;
            update();
        });
    }
    return m_sink;
}

void PlayerSurface::setFrame(const QImage& frame)
{
    m_frame = frame;
    *m_pending = QVideoFrame();
    update();
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
    return !m_frame.isNull() || m_pending->isValid();
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
    if (m_pending->isValid()) {
        m_frame = m_pending->toImage();
        *m_pending = QVideoFrame();
    }
    if (m_frame.isNull())
        return;
    const QSizeF size = QSizeF(m_frame.size()).scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
}

} // namespace qv
