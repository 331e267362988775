#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QSlider;
class QStackedWidget;

namespace qv {

class PhotoEditorModel;
class SegmentedPicker;

// How the copy is sized: as it is, scaled, fitted to a longest side or to an exact size.
class PhotoSizeTab : public QWidget {
    Q_OBJECT
public:
    explicit PhotoSizeTab(PhotoEditorModel* model, QWidget* parent = nullptr);

    // The slider stores multiples of 5, never under 5.
    static double storedScale(double percent);
    // An exact side lies within 1 ... 16384 pixels.
    static int storedSide(qint64 pixels);

    QSlider* scaleSlider() const { return m_scale; }
    QLineEdit* widthField() const { return m_width; }
    QLineEdit* heightField() const { return m_height; }
    QLabel* copyLabel() const { return m_copy; }

protected:
    // Return in a field commits the number and never saves the copy.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refresh();

    PhotoEditorModel* m_model;
    SegmentedPicker* m_modes;
    QStackedWidget* m_sections;
    QSlider* m_scale;
    QLabel* m_scaleText;
    QLineEdit* m_fit;
    QLineEdit* m_width;
    QLineEdit* m_height;
    SegmentedPicker* m_exactFit;
    QLabel* m_original;
    QLabel* m_cropped;
    QLabel* m_croppedTitle;
    QLabel* m_copy;
};

} // namespace qv
