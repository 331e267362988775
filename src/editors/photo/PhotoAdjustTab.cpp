#include "editors/photo/PhotoAdjustTab.h"

#include "editors/photo/Checkerboard.h"
#include "editors/photo/PhotoEditorModel.h"
#include "editors/photo/PhotoLabels.h"
#include "editors/photo/PhotoToggleRow.h"
#include "graphics/SymbolTable.h"
#include "model/operations/HexColor.h"
#include "widgets/ColorWell.h"

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

namespace {

struct Fill {
    QString title;
    std::optional<QString> hex;
};

const std::array<Fill, 3>& fills()
{
    static const std::array<Fill, 3> list{{
        {QStringLiteral("Transparent"), std::nullopt},
        {QStringLiteral("White"), QStringLiteral("#FFFFFF")},
        {QStringLiteral("Black"), QStringLiteral("#000000")},
    }};
    return list;
}

} // namespace

const std::array<PhotoAdjustTab::Slider, 5>& PhotoAdjustTab::sliders()
{
    static const std::array<Slider, 5> list{{
        {QStringLiteral("Exposure"), QStringLiteral("sun.max"), &PhotoAdjustments::exposure, -2, 2, 0},
        {QStringLiteral("Contrast"), QStringLiteral("circle.lefthalf.filled"), &PhotoAdjustments::contrast, 0.5, 1.5, 1},
        {QStringLiteral("Saturation"), QStringLiteral("drop"), &PhotoAdjustments::saturation, 0, 2, 1},
        {QStringLiteral("Warmth"), QStringLiteral("thermometer.medium"), &PhotoAdjustments::warmth, -1, 1, 0},
        {QStringLiteral("Sharpness"), QStringLiteral("triangle"), &PhotoAdjustments::sharpness, 0, 1, 0},
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
        header->addWidget(PhotoLabels::symbolTitle(s.symbol, s.title));
        header->addStretch(1);
        auto* reset = new QToolButton;
        reset->setIcon(symbolIcon(QStringLiteral("arrow.uturn.backward.circle")));
        reset->setAutoRaise(true);
        reset->setFocusPolicy(Qt::NoFocus);
        reset->setToolTip(QStringLiteral("Reset ") + s.title.toLower());
        reset->setAccessibleName(reset->toolTip());
        // Hidden, it keeps its room: the rows below must not jump when it appears.
        QSizePolicy keep = reset->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        reset->setSizePolicy(keep);
        header->addWidget(reset);
        row->addLayout(header);
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(0, steps);
        // Keys move by a visible amount although the slider is nearly continuous.
        slider->setSingleStep(steps / 100);
        slider->setPageStep(steps / 10);
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

    m_switchRow = new PhotoToggleRow(QStringLiteral("Remove background"), QStringLiteral("person.and.background.dotted"));
    layout->addWidget(m_switchRow);
    connect(m_switchRow, &PhotoToggleRow::toggled, this, [this](bool on) { m_model->setRemoveBackground(on); });

    m_fillRow = new QWidget;
    auto* fillLayout = new QHBoxLayout(m_fillRow);
    fillLayout->setContentsMargins(0, 0, 0, 0);
    fillLayout->setSpacing(8);
    auto* behind = PhotoLabels::callout(QStringLiteral("Behind the subject"));
    behind->setWordWrap(false);
    fillLayout->addWidget(behind);
    fillLayout->addStretch(1);
    for (std::size_t i = 0; i < fills().size(); ++i) {
        const Fill& fill = fills()[i];
        auto* swatch = new ColorWell;
        swatch->setShape(ColorWell::Shape::round);
        swatch->setOpensChooser(false);
        swatch->setToolTip(fill.title);
        swatch->setAccessibleName(fill.title);
        if (fill.hex)
            swatch->setColor(colorFromHex(*fill.hex).value_or(QColor(Qt::white)));
        else
            swatch->setFace([](QPainter& painter, const QRectF& disc) { Checkerboard(4).paint(painter, disc); });
        fillLayout->addWidget(swatch);
        m_swatches[i] = swatch;
        connect(swatch, &QPushButton::clicked, this, [this, hex = fill.hex] { m_model->setFillHex(hex); });
    }
    m_well = new ColorWell;
    m_well->setShape(ColorWell::Shape::round);
    m_well->setToolTip(QStringLiteral("Another color"));
    m_well->setAccessibleName(QStringLiteral("Color"));
    fillLayout->addWidget(m_well);
    connect(m_well, &ColorWell::colorChosen, this, [this](const QColor& color) { m_model->setFillHex(hexString(color)); });
    layout->addWidget(m_fillRow);

    m_errorRow = new QWidget;
    auto* errorLayout = new QHBoxLayout(m_errorRow);
    errorLayout->setContentsMargins(0, 0, 0, 0);
    errorLayout->setSpacing(4);
    auto* warning = new QLabel;
    warning->setPixmap(symbolIcon(QStringLiteral("exclamationmark.triangle")).pixmap(14, 14));
    errorLayout->addWidget(warning, 0, Qt::AlignTop);
    m_error = PhotoLabels::caption();
    errorLayout->addWidget(m_error, 1);
    layout->addWidget(m_errorRow);

    connect(m_model, &PhotoEditorModel::changed, this, &PhotoAdjustTab::refresh);
    refresh();
}

QCheckBox* PhotoAdjustTab::removeSwitch() const
{
    return m_switchRow->toggle();
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
    m_switchRow->setChecked(m_model->removeBackground());
    // One lift at a time.
    m_switchRow->setEnabled(!m_model->findingSubject());
    m_fillRow->setVisible(m_model->removeBackground());
    const std::optional<QString> fill = m_model->fillHex();
    for (std::size_t i = 0; i < fills().size(); ++i)
        m_swatches[i]->setSelected(fill == fills()[i].hex);
    m_well->setColor(colorFromHex(fill.value_or(QStringLiteral("#FFFFFF"))).value_or(QColor(Qt::white)));
    const std::optional<QString> error = m_model->subjectError();
    m_errorRow->setVisible(error.has_value());
    m_error->setText(error.value_or(QString()));
}

} // namespace qv
