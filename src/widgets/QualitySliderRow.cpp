#include "widgets/QualitySliderRow.h"

#include "jobs/OptionChoices.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>

#include <cmath>

namespace qv {

namespace {
// Thousandths: close enough to a continuous slider.
constexpr int steps = 1000;
} // namespace

QualitySliderRow::QualitySliderRow(QWidget* parent)
    : QWidget(parent), m_slider(new QSlider(Qt::Horizontal, this)), m_label(new QLabel(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_slider->setRange(steps / 10, steps);
    m_label->setFixedWidth(44);
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont digits = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    digits.setPointSizeF(font().pointSizeF());
    m_label->setFont(digits);
    layout->addWidget(m_slider, 1);
    layout->addWidget(m_label);
    connect(m_slider, &QSlider::valueChanged, this, [this](int) {
        m_label->setText(valueText());
        Q_EMIT qualityChanged(quality());
    });
}

void QualitySliderRow::setQuality(double quality)
{
    const QSignalBlocker blocker(m_slider);
    m_slider->setValue(int(std::lround(quality * steps)));
    m_label->setText(valueText());
}

double QualitySliderRow::quality() const
{
    return double(m_slider->value()) / steps;
}

QString QualitySliderRow::valueText() const
{
    return qualityPercentText(quality());
}

} // namespace qv
