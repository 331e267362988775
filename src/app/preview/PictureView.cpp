#include "app/preview/PictureView.h"

#include "catalogue/isolated/IsolatedReading.h"
#include "platform/processes/ThreadCall.h"

#include <QPainter>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace qv {

PictureView::PictureView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

PictureView::~PictureView()
{
    m_stop.request_stop();
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
    if (m_reloadTimer)
        m_reloadTimer->start();
}

void PictureView::reloadIfBlurry()
{
    if (m_path.isEmpty() || m_image.isNull() || m_pixels.isEmpty())
        return;
    const double ratio = devicePixelRatioF();
    const QSize wanted = m_pixels.scaled(QSize(std::ceil(width() * ratio), std::ceil(height() * ratio)),
                                         Qt::KeepAspectRatio)
                             .boundedTo(m_pixels);
    // Only a picture a tenth too small or more is worth reading again. Frames are measured by
    // the box they were asked for: they may have come smaller to fit in memory.
    const QSize have = m_loading.isValid() ? m_loading : !m_animationBox.isEmpty() ? m_animationBox : m_image.size();
    if (wanted.width() <= have.width() * 1.1 && wanted.height() <= have.height() * 1.1)
        return;
    if (!m_animationBox.isEmpty()) {
        loadAnimation(wanted);
        return;
    }
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

void PictureView::loadAnimation(QSize box)
{
    if (m_path.isEmpty() || box.isEmpty())
        return;
    m_animationBox = box;
    m_loading = box;
    const int request = ++m_request;
    QPointer<PictureView> self(this);
    const QString path = m_path;
    runInBackground([self, path, box, request, stop = m_stop.get_token()] {
        auto animation = IsolatedPictureReading::animation(path, box, stop);
        postToMainThread([self, animation = std::move(animation), request]() mutable {
            if (!self || request != self->m_request)
                return;
            self->m_loading = {};
            if (animation)
                self->setAnimation(std::move(*animation));
            else if (!self->m_animation)
                self->m_animationBox = {}; // a still picture after all
        });
    });
}

void PictureView::setAnimation(IsolatedPictureReading::Animation animation)
{
    if (animation.frames.isEmpty() || animation.frames.size() != animation.delays.size())
        return;
    if (!m_frameTimer) {
        m_frameTimer = new QTimer(this);
        m_frameTimer->setSingleShot(true);
        connect(m_frameTimer, &QTimer::timeout, this, &PictureView::nextFrame);
    }
    // Larger frames of the same animation go on where the smaller ones were.
    const int at = m_animation && m_animation->frames.size() == animation.frames.size() ? m_frame : 0;
    if (!m_animation || at == 0)
        m_playsLeft = animation.loopCount;
    m_animation = std::move(animation);
    showFrame(at);
}

void PictureView::showFrame(int index)
{
    m_frame = index;
    QImage frame = m_animation->frames[index];
    frame.setDevicePixelRatio(devicePixelRatioF());
    setImage(frame);
    if (m_animation->frames.size() > 1)
        m_frameTimer->start(m_animation->delays[index]);
}

void PictureView::nextFrame()
{
    if (!m_animation)
        return;
    if (m_frame + 1 < m_animation->frames.size()) {
        showFrame(m_frame + 1);
    } else if (m_playsLeft != 0) {
        if (m_playsLeft > 0)
            --m_playsLeft;
        showFrame(0);
    }
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
