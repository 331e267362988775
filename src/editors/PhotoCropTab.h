#pragma once

#include "model/AspectPreset.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace qv {

class PhotoEditorModel;
class SegmentedPicker;

// The crop shapes, the quarter turns and mirrors, the crop's size and its reset.
class PhotoCropTab : public QWidget {
    Q_OBJECT
public:
    explicit PhotoCropTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    // A shape's starting frame, unless an exact size imposes its own; "Free" keeps the crop.
    void choose(AspectPreset preset);
    // "2700 × 2700 px".
    static QString pixelSizeText(QSize size);

    QLabel* sizeLabel() const { return m_size; }
    QPushButton* resetButton() const { return m_reset; }

private:
    void refresh();

    PhotoEditorModel* m_model;
    SegmentedPicker* m_shapes;
    QLabel* m_size;
    QPushButton* m_reset;
};

} // namespace qv
