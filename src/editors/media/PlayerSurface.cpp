#include "editors/media/PlayerSurface.h"

#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

namespace qv {

PlayerSurface::PlayerSurface(QWidget* parent) : QWidget(parent), m_sink(new QVideoSink(this))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        if (!frame.isValid())
            return;
        m_pending = frame;
        update();
    });
}

void PlayerSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_pending.isValid()) {
        m_frame = m_pending.toImage();
        m_pending = QVideoFrame();
    }
    if (m_frame.isNull())
        return;
    const QSizeF size = QSizeF(m_frame.size()).scaled(QSizeF(this->size()), Qt::KeepAspectRatio);
    const QRectF target((width() - size.width()) / 2, (height() - size.height()) / 2, size.width(), size.height());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, m_frame);
}

} // namespace qv
