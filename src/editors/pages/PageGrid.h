#pragma once

#include "editors/EditorTargets.h"

#include <QWidget>

#include <optional>

namespace qv {

class PagesModel;

// The page cells of a PagesModel in rows: thumbnail, pick badge in extract mode, page number.
// In reorder mode a cell dragged over others takes their places as the pointer goes.
class PageGrid : public QWidget, public EditorTargets {
    Q_OBJECT
public:
    static constexpr int cellMinimum = 116;
    static constexpr int cellMaximum = 140;
    static constexpr int columnSpacing = 14;
    static constexpr int rowSpacing = 16;
    static constexpr int thumbnailHeight = 140;
    static constexpr int rowHeight = 160;
    static constexpr int margin = 4;

    explicit PageGrid(PagesModel* model, QWidget* parent = nullptr);

    // The cell of the page at this position in the list, in the grid's coordinates.
    QRectF cellRect(int position) const;
    // The grid's height for a width.
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;
    // The page positions whose cells meet the rectangle.
    QList<int> positionsIn(const QRect& area) const;

    std::optional<QRectF> targetRect(const QString& name) const override;

Q_SIGNALS:
    void visibleAreaMayHaveChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int columns(int width) const;
    double cellWidth(int width) const;
    std::optional<int> positionAt(QPointF point) const;

    PagesModel* m_model;
    std::optional<int> m_pressed; // page index under the press
    QPointF m_pressPoint;
    bool m_dragging = false;
};

} // namespace qv
