#include "editors/PhotoAdjustTab.h"

#include "editors/PhotoEditorModel.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace qv {

const std::array<PhotoAdjustTab::Slider, 5>& PhotoAdjustTab::sliders()
{
    static const std::array<Slider, 5> list{{
        {QStringLiteral("Exposure"), &PhotoAdjustments::exposure, -2, 2, 0},
        {QStringLiteral("Contrast"), &PhotoAdjustments::contrast, 0.5, 1.5, 1},
        {QStringLiteral("Saturation"), &PhotoAdjustments::saturation, 0, 2, 1},
        {QStringLiteral("Warmth"), &PhotoAdjustments::warmth, -1, 1, 0},
        {QStringLiteral("Sharpness"), &PhotoAdjustments::sharpness, 0, 1, 0},
    }};
    return list;
}

bool PhotoAdjustTab::showsReset(double value, double neutral)
{
    return std::abs(value - neutral) > 0.001;
}

PhotoAdjustTab::PhotoAdjustTab(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    for (int i = 0; i < int(sliders().size()); ++i) {
        const Slider& s = sliders()[i];
        auto* row = new QVBoxLayout;
        row->setSpacing(2);
        auto* header = new QHBoxLayout;
        header->addWidget(new QLabel(s.title));
        header->addStretch(1);
        auto* reset = new QToolButton;
        reset->setText(QStringLiteral("↺"));
        reset->setAutoRaise(true);
        reset->setFocusPolicy(Qt::NoFocus);
        reset->setToolTip(QStringLiteral("Reset ") + s.title.toLower());
        reset->setAccessibleName(reset->toolTip());
        header->addWidget(reset);
        row->addLayout(header);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(0, steps);
        slider->setAccessibleName(s.title);
        row->addWidget(slider);
        layout->addLayout(row);
        m_sliders[i] = slider;
        m_resets[i] = reset;
        connect(slider, &QSlider::valueChanged, this, [this, i](int position) {
            const Slider& s = sliders()[i];
            PhotoAdjustments adjustments = m_model->adjustments();
            adjustments.*s.field = s.low + (s.high - s.low) * position / steps;
            m_model->setAdjustments(adjustments);
        });
        connect(reset, &QToolButton::clicked, this, [this, i] {
            const Slider& s = sliders()[i];
            PhotoAdjustments adjustments = m_model->adjustments();
            adjustments.*s.field = s.neutral;
            m_model->setAdjustments(adjustments);
        });
    }
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);

    auto* switchRow = new QHBoxLayout;
    switchRow->addWidget(new QLabel(QStringLiteral("Remove background")));
    switchRow->addStretch(1);
    m_remove = new QCheckBox;
    m_remove->setAccessibleName(QStringLiteral("Remove background"));
    switchRow->addWidget(m_remove);
    layout->addLayout(switchRow);
    connect(m_remove, &QCheckBox::toggled, this, [this](bool on) { m_model->setRemoveBackground(on); });

    m_fillRow = new QWidget;
    auto* fillLayout = new QHBoxLayout(m_fillRow);
    fillLayout->setContentsMargins(0, 0, 0, 0);
    fillLayout->setSpacing(8);
    auto* behind = new QLabel(QStringLiteral("Behind the subject"));
    behind->setForegroundRole(QPalette::PlaceholderText);
    fillLayout->addWidget(behind);
    fillLayout->addStretch(1);
    const std::array<std::pair<QString, std::optional<QString>>, 3> fills{{
        {QStringLiteral("Transparent"), std::nullopt},
        {QStringLiteral("White"), QStringLiteral("#FFFFFF")},
        {QStringLiteral("Black"), QStringLiteral("#000000")},
    }};
    for (const auto& [title, hex] : fills) {
        auto* swatch = new QPushButton(title);
        swatch->setFlat(true);
        swatch->setFocusPolicy(Qt::NoFocus);
        swatch->setToolTip(title);
        swatch->setAccessibleName(title);
        fillLayout->addWidget(swatch);
        connect(swatch, &QPushButton::clicked, this, [this, hex = hex] { m_model->setFillHex(hex); });
    }
    layout->addWidget(m_fillRow);

    m_error = new QLabel;
    m_error->setWordWrap(true);
    m_error->setForegroundRole(QPalette::PlaceholderText);
    layout->addWidget(m_error);

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoAdjustTab::refresh);
    refresh();
}

void PhotoAdjustTab::refresh()
{
    const PhotoAdjustments adjustments = m_model->adjustments();
    for (int i = 0; i < int(sliders().size()); ++i) {
        const Slider& s = sliders()[i];
        const double value = adjustments.*s.field;
        const QSignalBlocker block(m_sliders[i]);
        m_sliders[i]->setValue(int(std::lround((value - s.low) / (s.high - s.low) * steps)));
        m_resets[i]->setVisible(showsReset(value, s.neutral));
    }
    {
        const QSignalBlocker block(m_remove);
        m_remove->setChecked(m_model->removeBackground());
    }
    m_remove->setEnabled(!m_model->findingSubject());
    m_fillRow->setVisible(m_model->removeBackground());
    const std::optional<QString> error = m_model->subjectError();
    m_error->setVisible(error.has_value());
    m_error->setText(error ? QStringLiteral("⚠ ") + *error : QString());
}

} // namespace qv
