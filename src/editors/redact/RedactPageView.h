#pragma once

#include "editors/EditorTargets.h"
#include "editors/redact/RedactModel.h"

#include <QImage>
#include <QSizeF>
#include <QTransform>
#include <QWidget>

#include <optional>

namespace qv {

// Every page of a PDF one under the other, fitted to the width, on which a drag draws a black
// box. Boxes are kept in the page's own space through the map the renderer gives with each
// page's picture, so crop boxes and rotations land where the engine's redaction expects.
class RedactPageView : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    // pageSizes: each page as shown, in points, its rotation applied.
    RedactPageView(RedactModel* model, QList<QSizeF> pageSizes, QWidget* parent = nullptr);

    void setPicture(int page, const QImage& picture, const QTransform& pageToPixel);
    QRectF pageRect(int page) const;
    // The pages whose rectangles meet the area.
    QList<int> pagesIn(const QRect& area) const;

    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;
    std::optional<QRectF> targetRect(const QString& name) const override;

Q_SIGNALS:
    void layoutChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Page {
        QSizeF size;
        QImage picture;
        std::optional<QTransform> pageToPixel;
    };
    // From the widget's coordinates to the page's space, and back; none before its picture came.
    std::optional<QTransform> widgetToPage(int page) const;
    std::optional<int> pageAt(QPointF point) const;
    void drawBox(QPainter& painter, int page, const QRectF& bounds) const;

    RedactModel* m_model;
    QList<Page> m_pages;
    std::optional<RedactModel::Box> m_drawing;
    QPointF m_start;
};

} // namespace qv
