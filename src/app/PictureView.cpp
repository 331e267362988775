#include "app/PictureView.h"

#include <QMovie>
#include <QPainter>

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
