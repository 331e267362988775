#include "editors/CropOverlay.h"

#include "editors/EditorActivity.h"
#include "graphics/Spring.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <array>
#include <cmath>

namespace qv {

namespace {

constexpr std::array handles{CropHandle::topLeft, CropHandle::top, CropHandle::topRight, CropHandle::right,
                             CropHandle::bottomRight, CropHandle::bottom, CropHandle::bottomLeft,
                             CropHandle::left};
constexpr std::array handleNames{"topLeft", "top", "topRight", "right", "bottomRight", "bottom",
                                 "bottomLeft", "left"};

QPointF handlePoint(const QRectF& r, CropHandle handle)
{
    switch (handle) {
    case CropHandle::topLeft: return r.topLeft();
    case CropHandle::top: return {r.center().x(), r.top()};
    case CropHandle::topRight: return r.topRight();
    case CropHandle::right: return {r.right(), r.center().y()};
    case CropHandle::bottomRight: return r.bottomRight();
    case CropHandle::bottom: return {r.center().x(), r.bottom()};
    case CropHandle::bottomLeft: return r.bottomLeft();
    case CropHandle::left: return {r.left(), r.center().y()};
    }
    return {};
}

Qt::CursorShape cursorFor(CropHandle handle)
{
    switch (handle) {
    case CropHandle::topLeft:
    case CropHandle::bottomRight: return Qt::SizeFDiagCursor;
    case CropHandle::topRight:
    case CropHandle::bottomLeft: return Qt::SizeBDiagCursor;
    case CropHandle::top:
    case CropHandle::bottom: return Qt::SizeVerCursor;
    case CropHandle::left:
    case CropHandle::right: return Qt::SizeHorCursor;
    }
    return Qt::ArrowCursor;
}

} // namespace

CropOverlay::CropOverlay(QSize pixelSize, QSizeF displaySize, QWidget* parent)
    : QWidget(parent), m_pixelSize(pixelSize), m_displaySize(displaySize)
{
    setFixedSize(QSize(int(std::ceil(displaySize.width())), int(std::ceil(displaySize.height()))));
    setMouseTracking(true);
    setAccessibleName(QStringLiteral("Crop"));
}

QSize CropOverlay::sizeHint() const
{
    return QSize(int(std::ceil(m_displaySize.width())), int(std::ceil(m_displaySize.height())));
}

void CropOverlay::setPicture(const QImage& picture)
{
    m_picture = picture;
    update();
}

void CropOverlay::setCrop(const QRectF& crop)
{
    if (crop == m_crop)
        return;
    m_crop = crop;
    update();
    Q_EMIT cropChanged(m_crop);
}

void CropOverlay::animateTo(const QRectF& target)
{
    if (m_animation) {
        m_animation->stop();
    } else {
        m_animation = new QVariantAnimation(this);
        // A driver waits for the frame to come to rest.
        connect(m_animation, &QVariantAnimation::stateChanged, this,
                [](QAbstractAnimation::State now, QAbstractAnimation::State before) {
                    if (now == QAbstractAnimation::Running)
                        EditorActivity::begin();
                    else if (before == QAbstractAnimation::Running)
                        EditorActivity::end();
                });
    }
    const Spring spring = Spring::withResponse(0.3, 0.85);
    const QRectF from = m_crop;
    const int ms = std::max(1, int(spring.settlingDuration() * 1000));
    m_animation->setDuration(ms);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    disconnect(m_animation, &QVariantAnimation::valueChanged, this, nullptr);
    disconnect(m_animation, &QVariantAnimation::finished, this, nullptr);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this, from, target, spring, ms](const QVariant&) {
        const double t = spring.valueAt(m_animation->currentTime() / 1000.0);
        const auto mix = [t](double a, double b) { return a + (b - a) * t; };
        setCrop(m_animation->currentTime() >= ms
                    ? target
                    : QRectF(mix(from.x(), target.x()), mix(from.y(), target.y()), mix(from.width(), target.width()),
                             mix(from.height(), target.height())));
    });
    connect(m_animation, &QVariantAnimation::finished, this, [this, target] { setCrop(target); });
    m_animation->start();
}

QRectF CropOverlay::displayRect() const
{
    return QRectF(m_crop.x() * m_displaySize.width(), m_crop.y() * m_displaySize.height(),
                  m_crop.width() * m_displaySize.width(), m_crop.height() * m_displaySize.height());
}

QRectF CropOverlay::handleArea(CropHandle handle) const
{
    const QRectF r = displayRect();
    QSizeF size(28, 28);
    if (handle == CropHandle::top || handle == CropHandle::bottom)
        size = QSizeF(std::max(r.width() - 28, 8.0), 20);
    else if (handle == CropHandle::left || handle == CropHandle::right)
        size = QSizeF(20, std::max(r.height() - 28, 8.0));
    const QPointF centre = handlePoint(r, handle);
    return QRectF(centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height());
}

std::optional<int> CropOverlay::grabAt(QPointF point) const
{
    // Corners above edges, edges above the move area.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < handles.size(); ++i) {
            const bool corner = i % 2 == 0;
            if ((pass == 0) == corner && handleArea(handles[i]).contains(point))
                return int(i);
        }
    }
    if (displayRect().contains(point))
        return -1;
    return std::nullopt;
}

std::optional<QRectF> CropOverlay::targetRect(const QString& name) const
{
    if (name == QLatin1String("picture"))
        return QRectF(QPointF(), m_displaySize);
    if (name == QLatin1String("frame"))
        return displayRect();
    for (std::size_t i = 0; i < handles.size(); ++i)
        if (name == QLatin1String(handleNames[i]))
            return QRectF(handlePoint(displayRect(), handles[i]), QSizeF(0, 0));
    return std::nullopt;
}

void CropOverlay::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF all(QPointF(), m_displaySize);
    if (!m_picture.isNull()) {
        QPainterPath clip;
        clip.addRoundedRect(all, 6, 6);
        painter.save();
        painter.setClipPath(clip);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(all, m_picture);
        painter.restore();
    }
    const QRectF r = displayRect();
    QPainterPath dim;
    dim.setFillRule(Qt::OddEvenFill);
    dim.addRect(all);
    dim.addRect(r);
    painter.fillPath(dim, QColor(0, 0, 0, 128));

    painter.setPen(QPen(QColor(255, 255, 255, 89), 0.5));
    for (int i = 1; i <= 2; ++i) {
        const double x = r.left() + r.width() * i / 3;
        const double y = r.top() + r.height() * i / 3;
        painter.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        painter.drawLine(QPointF(r.left(), y), QPointF(r.right(), y));
    }
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(r.adjusted(0.75, 0.75, -0.75, -0.75));

    for (CropHandle handle : handles) {
        const QPointF centre = handlePoint(r, handle);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 77));
        painter.drawEllipse(centre + QPointF(0, 0.75), 7.5, 7.5);
        painter.setPen(QPen(QColor(0, 0, 0, 64), 0.5));
        painter.setBrush(Qt::white);
        painter.drawEllipse(centre, 6, 6);
    }
}

void CropOverlay::updateCursor(QPointF point)
{
    const std::optional<int> grab = m_dragStart ? m_grab : grabAt(point);
    if (!grab)
        unsetCursor();
    else if (*grab < 0)
        setCursor(m_dragStart ? Qt::ClosedHandCursor : Qt::OpenHandCursor);
    else
        setCursor(cursorFor(handles[std::size_t(*grab)]));
}

void CropOverlay::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_grab = grabAt(event->position());
    m_pressPoint = event->position();
    m_moved = false;
    if (m_animation)
        m_animation->stop();
}

void CropOverlay::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !m_grab) {
        updateCursor(event->position());
        return;
    }
    const QPointF t = event->position() - m_pressPoint;
    if (!m_moved && std::hypot(t.x(), t.y()) < 1)
        return;
    m_moved = true;
    if (!m_dragStart)
        m_dragStart = m_crop;
    const double dx = t.x() / m_displaySize.width();
    const double dy = t.y() / m_displaySize.height();
    if (*m_grab < 0)
        setCrop(movedCrop(*m_dragStart, dx, dy));
    else
        setCrop(resizedCrop(*m_dragStart, handles[std::size_t(*m_grab)], dx, dy, m_ratio, m_pixelSize));
    updateCursor(event->position());
}

void CropOverlay::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragStart.reset();
    m_grab.reset();
    updateCursor(event->position());
}

} // namespace qv
