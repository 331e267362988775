#include "editors/redact/RedactPageView.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace qv {

namespace {

constexpr double margin = 8;
constexpr double gap = 10;

} // namespace

RedactPageView::RedactPageView(RedactModel* model, QList<QSizeF> pageSizes, QWidget* parent)
    : QWidget(parent), m_model(model)
{
    for (const QSizeF& size : pageSizes)
        m_pages.append(Page{size.isEmpty() ? QSizeF(612, 792) : size, {}, std::nullopt});
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setCursor(Qt::CrossCursor);
    connect(model, &RedactModel::changed, this, qOverload<>(&QWidget::update));
}

QRectF RedactPageView::pageRect(int page) const
{
    const double width = std::max(double(this->width()) - 2 * margin, 1.0);
    double top = margin;
    for (int i = 0; i < page; ++i)
        top += width * m_pages[i].size.height() / m_pages[i].size.width() + gap;
    return QRectF(margin, top, width, width * m_pages[page].size.height() / m_pages[page].size.width());
}

int RedactPageView::heightForWidth(int width) const
{
    const double inner = std::max(double(width) - 2 * margin, 1.0);
    double height = 2 * margin;
    for (const Page& page : m_pages)
        height += inner * page.size.height() / page.size.width();
    height += gap * std::max<qsizetype>(m_pages.size() - 1, 0);
    return int(std::ceil(height));
}

QSize RedactPageView::sizeHint() const
{
    return QSize(560, heightForWidth(560));
}

QList<int> RedactPageView::pagesIn(const QRect& area) const
{
    QList<int> pages;
    for (int i = 0; i < m_pages.size(); ++i)
        if (pageRect(i).intersects(area))
            pages.append(i);
    return pages;
}

std::optional<QRectF> RedactPageView::targetRect(const QString& name) const
{
    if (!name.startsWith(QLatin1String("page:")))
        return std::nullopt;
    bool ok = false;
    const int number = name.mid(5).toInt(&ok);
    if (!ok || number < 1 || number > m_pages.size())
        return std::nullopt;
    return pageRect(number - 1);
}

void RedactPageView::setPicture(int page, const QImage& picture, const QTransform& pageToPixel)
{
    if (page < 0 || page >= m_pages.size())
        return;
    m_pages[page].picture = picture;
    m_pages[page].pageToPixel = pageToPixel;
    update(pageRect(page).toAlignedRect());
}

std::optional<QTransform> RedactPageView::widgetToPage(int page) const
{
    const Page& p = m_pages[page];
    if (!p.pageToPixel || p.picture.isNull())
        return std::nullopt;
    const QRectF rect = pageRect(page);
    // widget -> picture pixels -> page space
    QTransform widgetToPixel;
    widgetToPixel.scale(p.picture.width() / rect.width(), p.picture.height() / rect.height());
    widgetToPixel.translate(-rect.x(), -rect.y());
    bool invertible = false;
    const QTransform pixelToPage = p.pageToPixel->inverted(&invertible);
    if (!invertible)
        return std::nullopt;
    return widgetToPixel * pixelToPage;
}

std::optional<int> RedactPageView::pageAt(QPointF point) const
{
    for (int i = 0; i < m_pages.size(); ++i)
        if (pageRect(i).contains(point))
            return i;
    return std::nullopt;
}

void RedactPageView::drawBox(QPainter& painter, int page, const QRectF& bounds) const
{
    const std::optional<QTransform> toPage = widgetToPage(page);
    if (!toPage)
        return;
    painter.fillRect(toPage->inverted().mapRect(bounds), Qt::black);
}

void RedactPageView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < m_pages.size(); ++i) {
        const QRectF rect = pageRect(i);
        if (!rect.intersects(event->rect()))
            continue;
        if (m_pages[i].picture.isNull())
            painter.fillRect(rect, Qt::white);
        else
            painter.drawImage(rect, m_pages[i].picture);
        painter.setPen(QColor(0, 0, 0, 40));
        painter.drawRect(rect.adjusted(-0.5, -0.5, 0.5, 0.5));
    }
    for (const RedactModel::Box& box : m_model->boxes())
        drawBox(painter, box.page, box.bounds);
    if (m_drawing)
        drawBox(painter, m_drawing->page, m_drawing->bounds);
}

void RedactPageView::mousePressEvent(QMouseEvent* event)
{
    m_drawing.reset();
    const std::optional<int> page = event->button() == Qt::LeftButton ? pageAt(event->position()) : std::nullopt;
    const std::optional<QTransform> toPage = page ? widgetToPage(*page) : std::nullopt;
    if (!toPage) {
        event->ignore();
        return;
    }
    m_start = toPage->map(event->position());
    m_drawing = RedactModel::Box{*page, QRectF(m_start, QSizeF(0, 0))};
}

void RedactPageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_drawing) {
        event->ignore();
        return;
    }
    // Measured on the box's own page, wherever the pointer is; nothing clamps it to the page.
    const QPointF point = widgetToPage(m_drawing->page)->map(event->position());
    m_drawing->bounds = QRectF(QPointF(std::min(m_start.x(), point.x()), std::min(m_start.y(), point.y())),
                               QPointF(std::max(m_start.x(), point.x()), std::max(m_start.y(), point.y())));
    update();
}

void RedactPageView::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_drawing) {
        event->ignore();
        return;
    }
    const RedactModel::Box box = *m_drawing;
    m_drawing.reset();
    if (!m_model->add(box))
        update();
}

void RedactPageView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Q_EMIT layoutChanged();
}

} // namespace qv
