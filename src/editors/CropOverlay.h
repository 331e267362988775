#pragma once

#include "editors/CropGeometry.h"
#include "editors/EditorTargets.h"

#include <QImage>
#include <QWidget>

#include <optional>

class QVariantAnimation;

namespace qv {

// The crop frame over a picture: the outside dimmed, a thirds grid, a border that moves the
// frame and eight handles that resize it, optionally locked to a pixel ratio. The widget is the
// display area; the picture, when given, is drawn under the frame.
class CropOverlay : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    CropOverlay(QSize pixelSize, QSizeF displaySize, QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    QRectF crop() const { return m_crop; }
    void setCrop(const QRectF& crop);
    // Goes to the crop with the editors' spring, 0.3 s response.
    void animateTo(const QRectF& crop);
    void setRatio(std::optional<double> pixelRatio) { m_ratio = pixelRatio; }
    bool isDragging() const { return m_dragStart.has_value(); }

    QSize sizeHint() const override;
    std::optional<QRectF> targetRect(const QString& name) const override;

Q_SIGNALS:
    void cropChanged(const QRectF& crop);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF displayRect() const;
    QRectF handleArea(CropHandle handle) const;
    // The handle under the point, else -1 for the move area, else none.
    std::optional<int> grabAt(QPointF point) const;
    void updateCursor(QPointF point);

    QSize m_pixelSize;
    QSizeF m_displaySize;
    QImage m_picture;
    QRectF m_crop{0.1, 0.1, 0.8, 0.8};
    std::optional<double> m_ratio;
    std::optional<QRectF> m_dragStart;
    std::optional<int> m_grab;
    QPointF m_pressPoint;
    bool m_moved = false;
    QVariantAnimation* m_animation = nullptr;
};

} // namespace qv
