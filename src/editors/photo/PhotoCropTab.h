#pragma once

#include "model/operations/AspectPreset.h"

#include <QWidget>

#include <array>
#include <functional>

class QLabel;
class QPushButton;

namespace qv {

class ChipStyle;
class PhotoEditorModel;

// The crop shapes, the quarter turns and mirrors, the crop's size and its reset.
class PhotoCropTab : public QWidget {
    Q_OBJECT
public:
    // Runs a change of the model so that the preview springs to it.
    using Animator = std::function<void(const std::function<void()>&)>;

    explicit PhotoCropTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    void setAnimator(Animator animator) { m_animator = std::move(animator); }

    // A shape's starting frame, unless an exact size imposes its own; "Free" keeps the crop.
    void choose(AspectPreset preset);
    // "2700 × 2700 px", each side truncated.
    static QString pixelSizeText(QSizeF size);
    // "The frame keeps the shape of the exact size, 1080 × 1350 px." with no-break spaces.
    static QString shapeNote(int width, int height);

    QLabel* sizeLabel() const { return m_size; }
    QLabel* shapeNoteLabel() const { return m_note; }
    QPushButton* resetButton() const { return m_reset; }
    QPushButton* chip(AspectPreset preset) const { return m_chips[std::size_t(preset)]; }
    bool chipSelected(AspectPreset preset) const;

Q_SIGNALS:
    // The view turns and mirrors the picture, with its animation.
    void turnRequested(bool clockwise);
    void mirrorRequested(bool horizontal);

private:
    void refresh();
    void animated(const std::function<void()>& change);

    PhotoEditorModel* m_model;
    Animator m_animator;
    std::array<QPushButton*, 7> m_chips{};
    std::array<ChipStyle*, 7> m_chipStyles{};
    QWidget* m_chipGrid;
    QLabel* m_note;
    QLabel* m_size;
    QPushButton* m_reset;
};

} // namespace qv
