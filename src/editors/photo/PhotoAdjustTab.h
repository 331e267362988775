#pragma once

#include "model/operations/PhotoAdjustments.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QSlider;
class QToolButton;

namespace qv {

class ColorWell;
class PhotoToggleRow;
class PhotoEditorModel;

// Five colour sliders and the background removal switch; every control writes into the model.
class PhotoAdjustTab : public QWidget {
    Q_OBJECT
public:
    struct Slider {
        QString title;
        QString symbol;
        double PhotoAdjustments::*field;
        double low;
        double high;
        double neutral;
    };
    static const std::array<Slider, 5>& sliders();
    // A reset button shows once the value is more than 0.001 away from the neutral.
    static bool showsReset(double value, double neutral);

    explicit PhotoAdjustTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    QSlider* slider(int index) const { return m_sliders[index]; }
    QToolButton* resetButton(int index) const { return m_resets[index]; }
    QCheckBox* removeSwitch() const;
    PhotoToggleRow* removeRow() const { return m_switchRow; }
    QLabel* errorLabel() const { return m_error; }
    QWidget* fillRow() const { return m_fillRow; }
    // "Transparent", "White", "Black", in that order.
    ColorWell* swatch(int index) const { return m_swatches[index]; }
    // "Another color".
    ColorWell* colorWell() const { return m_well; }

    // Slider positions over a range: fine enough to pass for continuous.
    static constexpr int steps = 10000;

private:
    void refresh();

    PhotoEditorModel* m_model;
    std::array<QSlider*, 5> m_sliders{};
    std::array<QToolButton*, 5> m_resets{};
    PhotoToggleRow* m_switchRow;
    QWidget* m_fillRow;
    std::array<ColorWell*, 3> m_swatches{};
    ColorWell* m_well;
    QWidget* m_errorRow;
    QLabel* m_error;
};

} // namespace qv
