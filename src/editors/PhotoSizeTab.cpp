#include "editors/PhotoSizeTab.h"

#include "editors/PhotoCropTab.h"
#include "editors/PhotoEditorModel.h"
#include "jobs/ui/SegmentedPicker.h"

#include <QFormLayout>
#include <QFrame>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace qv {

namespace {

QLabel* secondary(const QString& text)
{
    auto* label = new QLabel(text);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setWordWrap(true);
    return label;
}

QLineEdit* pixelField(const QString& name)
{
    auto* field = new QLineEdit;
    field->setAccessibleName(name);
    field->setFixedWidth(64);
    field->setAlignment(Qt::AlignRight);
    field->setValidator(new QIntValidator(0, 999999, field));
    return field;
}

// Shows the value unless the user is typing in the field.
void showValue(QLineEdit* field, int value)
{
    if (!field->hasFocus())
        field->setText(QString::number(value));
}

} // namespace

double PhotoSizeTab::storedScale(double percent)
{
    return std::max(5.0, std::round(percent / 5) * 5);
}

int PhotoSizeTab::storedSide(qint64 pixels)
{
    return int(std::clamp<qint64>(pixels, 1, 16384));
}

PhotoSizeTab::PhotoSizeTab(PhotoEditorModel* model, QWidget* parent) : QWidget(parent), m_model(model)
{
    using Mode = PhotoEditorModel::SizeMode;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    QList<OptionChoice> modes;
    for (Mode mode : {Mode::original, Mode::scale, Mode::fit, Mode::exact})
        modes.append({PhotoEditorModel::title(mode), QVariant::fromValue(int(mode))});
    m_modes = new SegmentedPicker(modes);
    m_modes->setAccessibleName(QStringLiteral("Size"));
    layout->addWidget(m_modes);
    connect(m_modes, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { m_model->setSizeMode(Mode(value.toInt())); });

    m_sections = new QStackedWidget;
    m_sections->addWidget(secondary(QStringLiteral("The copy keeps the picture's size.")));

    auto* scale = new QWidget;
    auto* scaleRow = new QHBoxLayout(scale);
    scaleRow->setContentsMargins(0, 0, 0, 0);
    m_scale = new QSlider(Qt::Horizontal);
    m_scale->setRange(5, 200);
    m_scale->setAccessibleName(QStringLiteral("Scale"));
    scaleRow->addWidget(m_scale, 1);
    m_scaleText = new QLabel;
    m_scaleText->setFixedWidth(52);
    m_scaleText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scaleRow->addWidget(m_scaleText);
    connect(m_scale, &QSlider::valueChanged, this, [this](int value) { m_model->setScalePercent(storedScale(value)); });
    m_sections->addWidget(scale);

    auto* fit = new QWidget;
    auto* fitLayout = new QVBoxLayout(fit);
    fitLayout->setContentsMargins(0, 0, 0, 0);
    auto* fitRow = new QHBoxLayout;
    fitRow->setSpacing(6);
    fitRow->addWidget(new QLabel(QStringLiteral("Longest side")));
    fitRow->addStretch(1);
    m_fit = pixelField(QStringLiteral("Longest side"));
    m_fit->setPlaceholderText(QStringLiteral("Pixels"));
    fitRow->addWidget(m_fit);
    fitRow->addWidget(secondary(QStringLiteral("px")));
    fitLayout->addLayout(fitRow);
    fitLayout->addWidget(secondary(QStringLiteral("Smaller pictures keep their size.")));
    connect(m_fit, &QLineEdit::editingFinished, this, [this] { m_model->setFitLongest(m_fit->text().toInt()); });
    m_sections->addWidget(fit);

    auto* exact = new QWidget;
    auto* exactLayout = new QVBoxLayout(exact);
    exactLayout->setContentsMargins(0, 0, 0, 0);
    exactLayout->setSpacing(12);
    m_width = pixelField(QStringLiteral("Width"));
    m_height = pixelField(QStringLiteral("Height"));
    for (auto [title, field] : {std::pair{QStringLiteral("Width"), m_width}, std::pair{QStringLiteral("Height"), m_height}}) {
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        auto* label = new QLabel(title);
        label->setBuddy(field);
        row->addWidget(label);
        row->addStretch(1);
        row->addWidget(field);
        row->addWidget(secondary(QStringLiteral("px")));
        exactLayout->addLayout(row);
    }
    connect(m_width, &QLineEdit::editingFinished, this, [this] {
        m_model->setExactWidth(storedSide(m_width->text().toLongLong()));
        m_width->setText(QString::number(m_model->exactWidth()));
    });
    connect(m_height, &QLineEdit::editingFinished, this, [this] {
        m_model->setExactHeight(storedSide(m_height->text().toLongLong()));
        m_height->setText(QString::number(m_model->exactHeight()));
    });
    using Fit = PhotoEditorModel::ExactFit;
    m_exactFit = new SegmentedPicker({{PhotoEditorModel::title(Fit::crop), QVariant::fromValue(int(Fit::crop))},
                                      {PhotoEditorModel::title(Fit::stretch), QVariant::fromValue(int(Fit::stretch))}});
    m_exactFit->setAccessibleName(QStringLiteral("Fit"));
    connect(m_exactFit, &SegmentedPicker::activated, this,
            [this](const QVariant& value) { m_model->setExactFit(Fit(value.toInt())); });
    exactLayout->addWidget(m_exactFit);
    m_sections->addWidget(exact);
    layout->addWidget(m_sections);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    auto* summary = new QFormLayout;
    m_original = new QLabel;
    m_cropped = new QLabel;
    m_copy = new QLabel;
    QFont bold = m_copy->font();
    bold.setBold(true);
    m_copy->setFont(bold);
    m_croppedTitle = secondary(QStringLiteral("Cropped"));
    summary->addRow(secondary(QStringLiteral("Original")), m_original);
    summary->addRow(m_croppedTitle, m_cropped);
    summary->addRow(secondary(QStringLiteral("Copy")), m_copy);
    layout->addLayout(summary);

    for (QLineEdit* field : {m_fit, m_width, m_height})
        field->installEventFilter(this);
    connect(m_model, &PhotoEditorModel::changed, this, &PhotoSizeTab::refresh);
    refresh();
}

bool PhotoSizeTab::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            event->accept();
    }
    return QWidget::eventFilter(watched, event);
}

void PhotoSizeTab::refresh()
{
    m_modes->setCurrentValue(int(m_model->sizeMode()));
    m_sections->setCurrentIndex(int(m_model->sizeMode()));
    {
        const QSignalBlocker block(m_scale);
        m_scale->setValue(int(m_model->scalePercent()));
    }
    m_scaleText->setText(QStringLiteral("%1 %").arg(int(m_model->scalePercent())));
    showValue(m_fit, m_model->fitLongest());
    showValue(m_width, m_model->exactWidth());
    showValue(m_height, m_model->exactHeight());
    m_exactFit->setCurrentValue(int(m_model->exactFit()));
    m_original->setText(PhotoCropTab::pixelSizeText(m_model->pixelSize));
    const bool cropped = m_model->crop() != QRectF(0, 0, 1, 1);
    m_cropped->setText(PhotoCropTab::pixelSizeText(m_model->pixelCropRect().size()));
    m_cropped->setVisible(cropped);
    m_croppedTitle->setVisible(cropped);
    m_copy->setText(PhotoCropTab::pixelSizeText(m_model->outputPixelSize()));
}

} // namespace qv
