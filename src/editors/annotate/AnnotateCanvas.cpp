#include "editors/annotate/AnnotateCanvas.h"

#include "editors/annotate/AnnotateModel.h"
#include "engines/image/conversion/AnnotationRenderer.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

namespace qv {

namespace {

constexpr double cornerRadius = 6.0;

bool isStroke(Annotation::Kind kind)
{
    return kind == Annotation::Kind::pen || kind == Annotation::Kind::highlight;
}

} // namespace

double AnnotateCanvas::scaleFor(QSizeF pixelSize)
{
    const double w = std::max(pixelSize.width(), 1.0);
    const double h = std::max(pixelSize.height(), 1.0);
    return std::min(720.0 / w, 480.0 / h);
}

AnnotateCanvas::AnnotateCanvas(const QImage& image, AnnotateModel* model, QWidget* parent)
    : QWidget(parent), m_model(model), m_image(image), m_scale(scaleFor(model->pixelSize()))
{
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setCursor(Qt::CrossCursor);
    connect(m_model, &AnnotateModel::annotationsChanged, this, &AnnotateCanvas::marksChanged);
    connect(m_model, &AnnotateModel::draftChanged, this, &AnnotateCanvas::draftChanged);
}

QSize AnnotateCanvas::sizeHint() const
{
    const QSizeF size = m_model->pixelSize() * m_scale;
    return QSize(std::max(1, int(std::ceil(size.width() - 1e-6))), std::max(1, int(std::ceil(size.height() - 1e-6))));
}

QRectF AnnotateCanvas::pictureRect() const
{
    return QRectF(QPointF(0, 0), m_model->pixelSize() * m_scale);
}

std::optional<QRectF> AnnotateCanvas::targetRect(const QString& name) const
{
    if (name == QLatin1String("picture"))
        return pictureRect();
    return std::nullopt;
}

QRect AnnotateCanvas::takePaintedBounds()
{
    return std::exchange(m_painted, QRect());
}

QPainterPath AnnotateCanvas::clipPath() const
{
    QPainterPath path;
    path.addRoundedRect(pictureRect(), cornerRadius, cornerRadius);
    return path;
}

void AnnotateCanvas::paintMarks(QPainter& painter, const Annotation& mark) const
{
    // The job's own drawing at the view's scale, so the canvas shows what is saved.
    painter.save();
    painter.scale(m_scale, m_scale);
    AnnotationRenderer::drawAnnotation(painter, mark);
    painter.restore();
}

void AnnotateCanvas::ensureCache()
{
    const double ratio = devicePixelRatioF();
    if (m_cacheValid && m_cache.devicePixelRatio() == ratio && m_cache.size() == size() * ratio)
        return;
    m_cache = QPixmap(size() * ratio);
    m_cache.setDevicePixelRatio(ratio);
    m_cache.fill(Qt::transparent);
    QPainter painter(&m_cache);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipPath(clipPath());
    painter.drawImage(pictureRect(), m_image);
    for (const Annotation& mark : m_model->annotations())
        paintMarks(painter, mark);
    m_cacheValid = true;
}

void AnnotateCanvas::paintEvent(QPaintEvent* event)
{
    m_painted |= event->rect();
    ensureCache();
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.drawPixmap(0, 0, m_cache);
    if (const std::optional<Annotation>& draft = m_model->draft()) {
        painter.setClipPath(clipPath(), Qt::IntersectClip);
        paintMarks(painter, *draft);
    }
}

void AnnotateCanvas::resizeEvent(QResizeEvent* event)
{
    m_cacheValid = false;
    QWidget::resizeEvent(event);
}

QRectF AnnotateCanvas::shownArea(const QList<QPointF>& points, const Annotation& mark) const
{
    if (points.isEmpty())
        return {};
    double left = points.first().x(), right = left, top = points.first().y(), bottom = top;
    for (const QPointF& p : points) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    const double pad = (std::max(4.0 * mark.lineWidth, AnnotationRenderer::arrowHeadLength(mark.lineWidth))) * m_scale + 3.0;
    return QRectF(left * m_scale, top * m_scale, (right - left) * m_scale, (bottom - top) * m_scale)
        .adjusted(-pad, -pad, pad, pad);
}

void AnnotateCanvas::draftChanged()
{
    const std::optional<Annotation>& draft = m_model->draft();
    QRectF area;
    if (m_shownDraft && draft && isStroke(draft->kind) && draft->kind == m_shownDraft->kind
        && draft->points.size() > m_shownDraft->points.size()
        && draft->points.mid(0, m_shownDraft->points.size()) == m_shownDraft->points) {
        // A stroke only grows at its end: the new segments and the join before them.
        const qsizetype from = std::max<qsizetype>(0, m_shownDraft->points.size() - 2);
        area = shownArea(draft->points.mid(from), *draft);
    } else {
        if (m_shownDraft)
            area = shownArea(m_shownDraft->points, *m_shownDraft);
        if (draft)
            area = area.united(shownArea(draft->points, *draft));
    }
    m_shownDraft = draft;
    if (!area.isEmpty())
        update(area.toAlignedRect());
}

void AnnotateCanvas::marksChanged()
{
    m_cacheValid = false;
    m_shownDraft = m_model->draft();
    update();
}

void AnnotateCanvas::dragTo(QPointF location)
{
    if (!m_dragStart || m_model->tool() == Annotation::Kind::text)
        return;
    const QPointF p = location / m_scale;
    std::optional<Annotation> draft = m_model->draft();
    if (!draft) {
        Annotation mark;
        mark.kind = m_model->tool();
        mark.points = {*m_dragStart / m_scale};
        mark.colorHex = m_model->colorHex();
        mark.lineWidth = m_model->lineWidth();
        draft = mark;
    }
    if (isStroke(draft->kind)) {
        if (draft->points.last() != p)
            draft->points.append(p);
    } else {
        draft->points = {draft->points.value(0, p), p};
    }
    m_model->setDraft(draft);
}

void AnnotateCanvas::endDrag(QPointF location)
{
    if (!m_dragStart)
        return;
    if (m_model->tool() == Annotation::Kind::text) {
        m_dragStart.reset();
        // A pending text stays at its old place; the field opens afresh at the new one.
        m_model->commitText();
        m_model->setTextPoint(location / m_scale);
        return;
    }
    dragTo(location);
    m_dragStart.reset();
    std::optional<Annotation> draft = m_model->draft();
    if (!draft)
        return;
    if (draft->points.size() == 1)
        draft->points.append(draft->points.first());
    QList<Annotation> marks = m_model->annotations();
    marks.append(*draft);
    // The draft goes first, so the finished mark is drawn once, into the cache.
    m_model->setDraft(std::nullopt);
    m_model->setAnnotations(marks);
}

void AnnotateCanvas::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragStart = event->position();
    m_model->setDraft(std::nullopt);
    dragTo(event->position());
}

void AnnotateCanvas::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragStart && (event->buttons() & Qt::LeftButton))
        dragTo(event->position());
}

void AnnotateCanvas::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    endDrag(event->position());
}

} // namespace qv
