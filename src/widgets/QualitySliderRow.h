#pragma once

#include <QWidget>

class QLabel;
class QSlider;

namespace qv {

// A slider over 0.1...1.0 with its value as a whole percentage beside it.
class QualitySliderRow : public QWidget {
    Q_OBJECT
public:
    explicit QualitySliderRow(QWidget* parent = nullptr);

    // Shows the value without reporting it as a change.
    void setQuality(double quality);
    double quality() const;
    QSlider* slider() const { return m_slider; }
    QString valueText() const;

Q_SIGNALS:
    void qualityChanged(double quality);

private:
    QSlider* m_slider;
    QLabel* m_label;
};

} // namespace qv
