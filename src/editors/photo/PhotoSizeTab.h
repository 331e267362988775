#pragma once

#include "editors/photo/PhotoEditorModel.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QMenu;
class QSlider;
class QStackedWidget;
class QToolButton;

namespace qv {

class SegmentedPicker;

// How the copy is sized: as it is, scaled, fitted to a longest side or to an exact size.
class PhotoSizeTab : public QWidget {
    Q_OBJECT
public:
    using Animator = std::function<void(const std::function<void()>&)>;

    explicit PhotoSizeTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    // Runs a change of the model so that the preview's crop frame springs to it.
    void setAnimator(Animator animator) { m_animator = std::move(animator); }

    // A whole number as the current locale writes it, or nothing.
    static std::optional<qint64> readNumber(const QString& text);
    // The slider stores multiples of 5, never under 5.
    static double storedScale(double percent);
    // An exact side lies within 1 ... 16384 pixels.
    static int storedSide(qint64 pixels);
    // The Fit row's menu, longest first.
    static const QList<int>& commonLongestSides();
    // The exact size's menu.
    static const QList<PhotoEditorModel::SizePreset>& commonSizes();
    // "1080 × 1350 · Portrait 4:5".
    static QString presetTitle(const PhotoEditorModel::SizePreset& preset);
    // What the exact size does to the cropped picture.
    static QString exactCaption(const PhotoEditorModel& model);

    // Scale slider positions per percent.
    static constexpr int scaleStepsPerPercent = 10;
    QLabel* scaleLabel() const { return m_scaleText; }

    // Swaps the exact width and height.
    void swapSides();
    void choosePreset(const PhotoEditorModel::SizePreset& preset);

    QSlider* scaleSlider() const { return m_scale; }
    QLineEdit* widthField() const { return m_width; }
    QLineEdit* heightField() const { return m_height; }
    QLabel* copyLabel() const { return m_copy; }
    QLabel* croppedLabel() const { return m_cropped; }
    QLabel* exactCaptionLabel() const { return m_caption; }
    QToolButton* swapButton() const { return m_swap; }
    QMenu* fitMenu() const { return m_fitMenu; }
    QMenu* sizeMenu() const { return m_sizeMenu; }

protected:
    // Return in a field commits the number and never saves the copy.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();
    void animated(const std::function<void()>& change);

    PhotoEditorModel* m_model;
    Animator m_animator;
    SegmentedPicker* m_modes;
    QStackedWidget* m_sections;
    QSlider* m_scale;
    QLabel* m_scaleText;
    QLineEdit* m_fit;
    QLineEdit* m_width;
    QLineEdit* m_height;
    SegmentedPicker* m_exactFit;
    QToolButton* m_swap;
    QMenu* m_fitMenu;
    QMenu* m_sizeMenu;
    QLabel* m_caption;
    QLabel* m_original;
    QLabel* m_cropped;
    QWidget* m_croppedRow;
    QLabel* m_copy;
};

} // namespace qv
