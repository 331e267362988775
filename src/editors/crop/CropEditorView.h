#pragma once

#include "editors/CropOverlay.h"

#include <QWidget>

#include <functional>

class QLabel;

namespace qv {

class EditorButtons;
class SegmentedPicker;

// The picture with its crop frame, the aspect presets, the size in pixels and Cancel / Crop.
class CropEditorView : public QWidget {
    Q_OBJECT
public:
    CropEditorView(const QImage& preview, QSize pixelSize, std::function<void()> cancel,
                   std::function<void(QRect)> apply, QWidget* parent = nullptr);

    CropOverlay* overlay() const { return m_overlay; }
    QRect pixelRect() const;
    void choose(AspectPreset preset);

    // The size the picture is shown at: scaled to fit 680 x 460.
    static QSizeF displaySize(QSize pixelSize);

private:
    void refresh();

    QSize m_pixelSize;
    AspectPreset m_aspect = AspectPreset::free;
    CropOverlay* m_overlay;
    SegmentedPicker* m_picker;
    QLabel* m_size;
    EditorButtons* m_buttons;
};

} // namespace qv
