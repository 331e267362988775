#include "app/PictureView.h"

#include "catalogue/IsolatedReading.h"
#include "platform/ThreadCall.h"

#include <QMovie>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace qv {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void PictureView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

void PictureView::setSource(const QString& path, QSize pixels)
{
    m_path = path;
    m_pixels = pixels;
    if (!m_reloadTimer) {
        m_reloadTimer = new QTimer(this);
        m_reloadTimer->setSingleShot(true);
        m_reloadTimer->setInterval(150);
        connect(m_reloadTimer, &QTimer::timeout, this, &PictureView::reloadIfBlurry);
    }
}

void PictureView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (m_movie && !m_pixels.isEmpty()) {
        const double ratio = devicePixelRatioF();
        m_movie->setScaledSize(m_pixels.scaled(size() * ratio, Qt::KeepAspectRatio).boundedTo(m_pixels));
    } else if (m_reloadTimer) {
        m_reloadTimer->start();
    }
}

void PictureView::reloadIfBlurry()
{
    if (m_path.isEmpty() || m_image.isNull() || m_pixels.isEmpty())
        return;
    const double ratio = devicePixelRatioF();
    const QSize wanted = m_pixels.scaled(QSize(std::ceil(width() * ratio), std::ceil(height() * ratio)),
                                         Qt::KeepAspectRatio)
                             .boundedTo(m_pixels);
    // Only a picture a tenth too small or more is worth reading again.
    const QSize have = m_loading.isValid() ? m_loading : m_image.size();
    if (wanted.width() <= have.width() * 1.1 && wanted.height() <= have.height() * 1.1)
        return;
    m_loading = wanted;
    const int request = ++m_request;
    QPointer<PictureView> self(this);
    const QString path = m_path;
    runInBackground([self, path, wanted, request, ratio] {
        auto image = IsolatedReading::picture(path, wanted);
        postToMainThread([self, image = std::move(image), request, ratio]() mutable {
            if (!self || request != self->m_request)
                return;
            self->m_loading = {};
            if (!image)
                return;
            image->setDevicePixelRatio(ratio);
            self->setImage(*image);
        });
    });
}

void PictureView::setMovie(QMovie* movie)
{
    delete m_movie;
    m_movie = movie;
    if (!movie)
        return;
    movie->setParent(this);
    connect(movie, &QMovie::frameChanged, this, [this] {
        m_image = m_movie->currentImage();
        update();
    });
    movie->start();
}

bool PictureView::hasPicture() const
{
    return !m_image.isNull();
}

void PictureView::paintEvent(QPaintEvent*)
{
    if (m_image.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF fitted = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target((width() - fitted.width()) / 2, (height() - fitted.height()) / 2,
                        fitted.width(), fitted.height());
    painter.drawImage(target, m_image);
}

} // namespace qv
