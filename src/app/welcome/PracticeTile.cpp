#include "app/welcome/PracticeTile.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace qv {

namespace {
// Room around the tile for its shadow.
constexpr int shadowMargin = 5;
} // namespace

PracticeTile::PracticeTile(QWidget* parent)
    : QWidget(parent)
    , m_accent(QColor(0x0A, 0x84, 0xFF))
{
    setFixedSize(tileWidth + 2 * shadowMargin, tileHeight + 2 * shadowMargin);
    setToolTip(QStringLiteral("Drag me"));
    setCursor(Qt::OpenHandCursor);
}

void PracticeTile::setThumbnail(std::optional<QImage> image)
{
    if (image && image->isNull())
        image.reset();
    m_thumbnail = std::move(image);
    update();
}

void PracticeTile::setAccent(const QColor& accent)
{
    m_accent = accent;
    update();
}

QRectF PracticeTile::tileRect() const
{
    return QRectF(shadowMargin, shadowMargin - 2, tileWidth, tileHeight);
}

void PracticeTile::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF tile = tileRect();

    // A soft shadow below: a few widening rounded rectangles, faint each.
    painter.setPen(Qt::NoPen);
    for (int i = 4; i >= 1; --i) {
        QPainterPath shadow;
        shadow.addRoundedRect(tile.translated(0, 2).adjusted(-i, -i, i, i), 8 + i, 8 + i);
        painter.fillPath(shadow, QColor(0, 0, 0, int(255 * 0.18 / 4)));
    }

    QPainterPath shape;
    shape.addRoundedRect(tile, 8, 8);
    painter.save();
    painter.setClipPath(shape);
    painter.fillRect(tile, palette().window());
    if (m_thumbnail) {
        // Fill the tile, keeping the photo's proportions.
        const QSizeF scaled = QSizeF(m_thumbnail->size()).scaled(tile.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(tile.center().x() - scaled.width() / 2,
                            tile.center().y() - scaled.height() / 2, scaled.width(),
                            scaled.height());
        painter.drawImage(target, *m_thumbnail);
    } else {
        QColor fill = m_accent;
        fill.setAlphaF(0.2f);
        painter.fillPath(shape, fill);
    }
    painter.restore();
    painter.setPen(QPen(QColor(255, 255, 255, 204), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(shape);
}

void PracticeTile::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressedAt = event->position().toPoint();
}

void PracticeTile::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressedAt || !(event->buttons() & Qt::LeftButton))
        return;
    if ((event->position().toPoint() - *m_pressedAt).manhattanLength()
        < QApplication::startDragDistance())
        return;
    m_pressedAt.reset();
    Q_EMIT dragStarted();
}

void PracticeTile::mouseReleaseEvent(QMouseEvent*)
{
    m_pressedAt.reset();
}

} // namespace qv
