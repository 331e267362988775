#pragma once

#include "editors/EditorTargets.h"
#include "model/operations/Annotation.h"

#include <QImage>
#include <QPainterPath>
#include <QPixmap>
#include <QRect>
#include <QWidget>

#include <optional>

namespace qv {

class AnnotateModel;

// The picture with the marks over it, at s = min(720 / W, 480 / H) of the full picture's
// W x H pixels. Drags here make the model's marks; a click counts as a drag. The finished marks
// are kept drawn in a pixmap, so a drag repaints only the draft's area.
class AnnotateCanvas : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    AnnotateCanvas(const QImage& image, AnnotateModel* model, QWidget* parent = nullptr);

    double scale() const { return m_scale; }
    const QImage& image() const { return m_image; }
    // The picture as shown, W·s x H·s, in this widget's coordinates.
    QRectF pictureRect() const;

    // The bounds of what was painted since the last call (for checking that a drag repaints
    // little).
    QRect takePaintedBounds();

    // "picture": the whole picture as shown.
    std::optional<QRectF> targetRect(const QString& name) const override;

    QSize sizeHint() const override;

    // The picture's scale in the view for a picture of that many pixels.
    static double scaleFor(QSizeF pixelSize);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void dragTo(QPointF location);
    void endDrag(QPointF location);
    void marksChanged();
    void draftChanged();
    // Where a mark shows in this widget, wide enough for its strokes and arrow head.
    QRectF shownArea(const QList<QPointF>& points, const Annotation& mark) const;
    void paintMarks(QPainter& painter, const Annotation& mark) const;
    void ensureCache();
    QPainterPath clipPath() const;

    AnnotateModel* m_model;
    QImage m_image;
    double m_scale;
    QPixmap m_cache; // the picture and the finished marks
    bool m_cacheValid = false;
    std::optional<Annotation> m_shownDraft;
    std::optional<QPointF> m_dragStart; // in view points
    QRect m_painted;
};

} // namespace qv
