#include "editors/pages/PageGrid.h"

#include "editors/pages/PagesModel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace qv {

PageGrid::PageGrid(PagesModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(model, &PagesModel::changed, this, qOverload<>(&QWidget::update));
}

int PageGrid::columns(int width) const
{
    const int usable = width - 2 * margin;
    return std::max(1, (usable + columnSpacing) / (cellMinimum + columnSpacing));
}

double PageGrid::cellWidth(int width) const
{
    const int n = columns(width);
    const double share = double(width - 2 * margin - (n - 1) * columnSpacing) / n;
    return std::clamp(share, double(cellMinimum), double(cellMaximum));
}

QRectF PageGrid::cellRect(int position) const
{
    const int n = columns(width());
    const double w = cellWidth(width());
    const double total = n * w + (n - 1) * columnSpacing;
    const double left = std::max(double(margin), (width() - total) / 2);
    const int row = position / n, column = position % n;
    return QRectF(left + column * (w + columnSpacing), margin + row * (rowHeight + rowSpacing), w, rowHeight);
}

int PageGrid::heightForWidth(int width) const
{
    const int rows = (m_model->pageCount() + columns(width) - 1) / columns(width);
    return 2 * margin + std::max(rows, 1) * rowHeight + std::max(rows - 1, 0) * rowSpacing;
}

QSize PageGrid::sizeHint() const
{
    return QSize(560, heightForWidth(560));
}

QList<int> PageGrid::positionsIn(const QRect& area) const
{
    QList<int> positions;
    for (int i = 0; i < m_model->pageCount(); ++i)
        if (cellRect(i).intersects(area))
            positions.append(i);
    return positions;
}

std::optional<int> PageGrid::positionAt(QPointF point) const
{
    for (int i = 0; i < m_model->pageCount(); ++i)
        if (cellRect(i).contains(point))
            return i;
    return std::nullopt;
}

std::optional<QRectF> PageGrid::targetRect(const QString& name) const
{
    if (!name.startsWith(QLatin1String("page:")))
        return std::nullopt;
    bool ok = false;
    const int number = name.mid(5).toInt(&ok);
    if (!ok)
        return std::nullopt;
    const std::optional<int> at = m_model->position(number - 1);
    if (!at)
        return std::nullopt;
    return cellRect(*at);
}

void PageGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Q_EMIT visibleAreaMayHaveChanged();
}

void PageGrid::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QColor accent = palette().color(QPalette::Highlight);
    const QList<PagesModel::Page>& pages = m_model->pages();
    for (int i = 0; i < pages.size(); ++i) {
        const QRectF cell = cellRect(i);
        if (!cell.intersects(event->rect()))
            continue;
        const PagesModel::Page& page = pages[i];
        painter.setOpacity(m_model->dragging() == page.index ? 0.4 : 1.0);
        const QRectF area(cell.x(), cell.y(), cell.width(), thumbnailHeight);
        const double ratio = page.thumbnail.isNull() ? 0.77 : double(page.thumbnail.width()) / page.thumbnail.height();
        QSizeF size(area.height() * ratio, area.height());
        if (size.width() > area.width())
            size = QSizeF(area.width(), area.width() / ratio);
        const QRectF picture(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2, size.width(),
                             size.height());
        QPainterPath rounded;
        rounded.addRoundedRect(picture, 3, 3);
        if (page.thumbnail.isNull()) {
            QColor fill = palette().color(QPalette::WindowText);
            fill.setAlphaF(0.06);
            painter.fillPath(rounded, fill);
        } else {
            painter.fillPath(rounded.translated(0, 1), QColor(0, 0, 0, 46));
            painter.drawImage(picture, page.thumbnail);
        }
        if (page.selected) {
            painter.setPen(QPen(accent, 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(rounded);
        }
        if (m_model->isExtract()) {
            const QPointF centre(picture.right() - 3, picture.top() + 3);
            painter.setPen(Qt::NoPen);
            painter.setBrush(palette().color(QPalette::Window));
            painter.drawEllipse(centre, 10, 10);
            if (page.selected) {
                painter.setBrush(accent);
                painter.drawEllipse(centre, 8, 8);
                painter.setPen(QPen(Qt::white, 1.8));
                painter.drawPolyline(QPolygonF{centre + QPointF(-4, 0), centre + QPointF(-1, 3), centre + QPointF(4, -3)});
            } else {
                painter.setPen(QPen(palette().color(QPalette::PlaceholderText), 1.2));
                painter.setBrush(Qt::NoBrush);
                painter.drawEllipse(centre, 8, 8);
            }
        }
        painter.setPen(palette().color(QPalette::PlaceholderText));
        const QRectF caption(cell.x(), area.bottom() + 5, cell.width(), cell.bottom() - area.bottom() - 5);
        painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop, QString::number(page.index + 1));
    }
}

void PageGrid::mousePressEvent(QMouseEvent* event)
{
    m_pressed.reset();
    m_dragging = false;
    if (event->button() != Qt::LeftButton)
        return;
    if (const std::optional<int> at = positionAt(event->position())) {
        m_pressed = m_model->pages()[*at].index;
        m_pressPoint = event->position();
    }
}

void PageGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_pressed || !(event->buttons() & Qt::LeftButton))
        return;
    if (!m_dragging) {
        const QPointF moved = event->position() - m_pressPoint;
        if (std::hypot(moved.x(), moved.y()) < 4)
            return;
        m_dragging = true;
        m_model->beginDrag(*m_pressed);
    }
    if (const std::optional<int> at = positionAt(event->position()))
        m_model->dragEntered(m_model->pages()[*at].index);
}

void PageGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pressed && !m_dragging && event->button() == Qt::LeftButton)
        m_model->toggleSelection(*m_pressed);
    // Wherever the drag ends, the page is no longer dimmed.
    m_model->endDrag();
    m_pressed.reset();
    m_dragging = false;
}

} // namespace qv
