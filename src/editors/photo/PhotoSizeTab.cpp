#include "editors/photo/PhotoSizeTab.h"

#include "editors/photo/PhotoCropTab.h"
#include "editors/photo/PhotoLabels.h"
#include "graphics/SymbolTable.h"
#include "widgets/SegmentedPicker.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>

namespace qv {

namespace {

QLineEdit* pixelField(const QString& name)
{
    auto* field = new QLineEdit;
    field->setAccessibleName(name);
    field->setFixedWidth(64);
    field->setAlignment(Qt::AlignRight);
    // Any whole number in the locale's own digits and grouping; the model keeps it in bounds.
    field->setValidator(new QIntValidator(field));
    return field;
}

// A chevron that opens a menu of common sizes.
QToolButton* menuButton(QMenu* menu)
{
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(QStringLiteral("chevron.down")));
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setToolTip(QStringLiteral("Common sizes"));
    button->setAccessibleName(QStringLiteral("Common sizes"));
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // Opened without a nested event loop, so nothing waits on the menu.
    QObject::connect(button, &QToolButton::clicked, menu,
                     [button, menu] { menu->popup(button->mapToGlobal(QPoint(0, button->height()))); });
    return button;
}

QString numberText(qint64 value)
{
    return QLocale().toString(value);
}

// Shows the value unless the user is typing in the field.
void showValue(QLineEdit* field, int value)
{
    if (!field->hasFocus())
        field->setText(numberText(value));
}

// One line of the size summary: the label, then its value at the far side.
QWidget* valueRow(const QString& title, QLabel* value, bool emphasised)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PhotoLabels::secondary(title));
    layout->addStretch(1);
    QFont font = value->font();
    font.setWeight(emphasised ? QFont::DemiBold : QFont::Normal);
    value->setFont(font);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->addWidget(value);
    return row;
}

} // namespace

std::optional<qint64> PhotoSizeTab::readNumber(const QString& text)
{
    bool ok = false;
    const qint64 value = QLocale().toLongLong(text.trimmed(), &ok);
    return ok ? std::optional(value) : std::nullopt;
}

double PhotoSizeTab::storedScale(double percent)
{
    return std::max(5.0, std::round(percent / 5) * 5);
}

int PhotoSizeTab::storedSide(qint64 pixels)
{
    return int(std::clamp<qint64>(pixels, 1, 16384));
}

const QList<int>& PhotoSizeTab::commonLongestSides()
{
    static const QList<int> sides{3840, 2560, 2048, 1920, 1600, 1280, 1080, 1024, 800, 640, 512};
    return sides;
}

const QList<PhotoEditorModel::SizePreset>& PhotoSizeTab::commonSizes()
{
    static const QList<PhotoEditorModel::SizePreset> sizes{
        {1080, 1080, QStringLiteral("Square")},       {1080, 1350, QStringLiteral("Portrait 4:5")},
        {1080, 1920, QStringLiteral("Story 9:16")},   {1920, 1080, QStringLiteral("Full HD")},
        {1280, 720, QStringLiteral("HD")},            {3840, 2160, QStringLiteral("4K")},
        {1200, 630, QStringLiteral("Link preview")},  {1500, 500, QStringLiteral("Banner 3:1")},
        {1024, 1024, QStringLiteral("Icon")},         {512, 512, QStringLiteral("Small icon")},
    };
    return sizes;
}

QString PhotoSizeTab::presetTitle(const PhotoEditorModel::SizePreset& preset)
{
    return QStringLiteral("%1 × %2 · %3").arg(preset.width).arg(preset.height).arg(preset.name);
}

QString PhotoSizeTab::exactCaption(const PhotoEditorModel& model)
{
    const QRect crop = model.pixelCropRect();
    const double w = crop.width(), h = crop.height();
    const double W = model.exactWidth(), H = model.exactHeight();
    if (std::abs(w * H - h * W) <= 0.002 * w * H && !model.exactShapeRatio())
        return QStringLiteral("The picture already has this shape.");
    if (model.exactFit() == PhotoEditorModel::ExactFit::stretch)
        return QStringLiteral("The whole picture is stretched to the new shape.");
    return QStringLiteral("Drag the frame to choose what stays. The rest is cut off.");
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
    auto* keeps = PhotoLabels::callout(QStringLiteral("The copy keeps the picture's size."));
    keeps->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_sections->addWidget(keeps);

    auto* scale = new QWidget;
    auto* scaleRow = new QHBoxLayout(scale);
    scaleRow->setContentsMargins(0, 0, 0, 0);
    m_scale = new QSlider(Qt::Horizontal);
    // In tenths of a percent, so the handle glides; the model keeps multiples of 5.
    m_scale->setRange(5 * scaleStepsPerPercent, 200 * scaleStepsPerPercent);
    m_scale->setSingleStep(5 * scaleStepsPerPercent);
    m_scale->setPageStep(25 * scaleStepsPerPercent);
    m_scale->setAccessibleName(QStringLiteral("Scale"));
    scaleRow->addWidget(m_scale, 1);
    m_scaleText = new QLabel;
    m_scaleText->setFixedWidth(52);
    m_scaleText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    scaleRow->addWidget(m_scaleText);
    connect(m_scale, &QSlider::valueChanged, this, [this](int position) {
        m_model->setScalePercent(storedScale(double(position) / scaleStepsPerPercent));
    });
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
    fitRow->addWidget(PhotoLabels::secondary(QStringLiteral("px")));
    m_fitMenu = new QMenu(this);
    for (int side : commonLongestSides()) {
        QAction* action = m_fitMenu->addAction(QStringLiteral("%1 px").arg(side));
        connect(action, &QAction::triggered, this, [this, side] {
            m_fit->clearFocus();
            m_model->setFitLongest(side);
        });
    }
    fitRow->addWidget(menuButton(m_fitMenu));
    fitLayout->addLayout(fitRow);
    fitLayout->addWidget(PhotoLabels::caption(QStringLiteral("Smaller pictures keep their size.")));
    connect(m_fit, &QLineEdit::editingFinished, this, [this] {
        if (const std::optional<qint64> pixels = readNumber(m_fit->text()))
            m_model->setFitLongest(int(std::clamp<qint64>(*pixels, std::numeric_limits<int>::min(),
                                                           std::numeric_limits<int>::max())));
        m_fit->setText(numberText(m_model->fitLongest()));
    });
    m_sections->addWidget(fit);

    auto* exact = new QWidget;
    auto* exactLayout = new QVBoxLayout(exact);
    exactLayout->setContentsMargins(0, 0, 0, 0);
    exactLayout->setSpacing(12);
    auto* sidesRow = new QHBoxLayout;
    sidesRow->setSpacing(10);
    auto* fields = new QVBoxLayout;
    fields->setSpacing(8);
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
        row->addWidget(PhotoLabels::secondary(QStringLiteral("px")));
        fields->addLayout(row);
    }
    sidesRow->addLayout(fields, 1);
    auto* tools = new QVBoxLayout;
    tools->setSpacing(8);
    m_swap = new QToolButton;
    m_swap->setIcon(symbolIcon(QStringLiteral("arrow.up.arrow.down")));
    m_swap->setAutoRaise(true);
    m_swap->setFocusPolicy(Qt::NoFocus);
    m_swap->setToolTip(QStringLiteral("Swap width and height"));
    m_swap->setAccessibleName(QStringLiteral("Swap width and height"));
    connect(m_swap, &QToolButton::clicked, this, &PhotoSizeTab::swapSides);
    tools->addWidget(m_swap, 0, Qt::AlignHCenter);
    m_sizeMenu = new QMenu(this);
    for (const PhotoEditorModel::SizePreset& preset : commonSizes()) {
        QAction* action = m_sizeMenu->addAction(presetTitle(preset));
        connect(action, &QAction::triggered, this, [this, preset] { choosePreset(preset); });
    }
    tools->addWidget(menuButton(m_sizeMenu), 0, Qt::AlignHCenter);
    sidesRow->addLayout(tools);
    exactLayout->addLayout(sidesRow);
    connect(m_width, &QLineEdit::editingFinished, this, [this] {
        if (const std::optional<qint64> pixels = readNumber(m_width->text()))
            m_model->setExactWidth(storedSide(*pixels));
        m_width->setText(numberText(m_model->exactWidth()));
    });
    connect(m_height, &QLineEdit::editingFinished, this, [this] {
        if (const std::optional<qint64> pixels = readNumber(m_height->text()))
            m_model->setExactHeight(storedSide(*pixels));
        m_height->setText(numberText(m_model->exactHeight()));
    });
    using Fit = PhotoEditorModel::ExactFit;
    m_exactFit = new SegmentedPicker({{PhotoEditorModel::title(Fit::crop), QVariant::fromValue(int(Fit::crop))},
                                      {PhotoEditorModel::title(Fit::stretch), QVariant::fromValue(int(Fit::stretch))}});
    m_exactFit->setAccessibleName(QStringLiteral("Fit"));
    connect(m_exactFit, &SegmentedPicker::activated, this, [this](const QVariant& value) {
        animated([this, fit = Fit(value.toInt())] { m_model->setExactFit(fit); });
    });
    exactLayout->addWidget(m_exactFit);
    m_caption = PhotoLabels::caption(QString());
    exactLayout->addWidget(m_caption);
    exactLayout->addStretch(1);
    m_sections->addWidget(exact);
    layout->addWidget(m_sections);

    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    m_original = new QLabel;
    m_cropped = new QLabel;
    m_copy = new QLabel;
    m_original->setAccessibleName(QStringLiteral("Original size"));
    m_cropped->setAccessibleName(QStringLiteral("Cropped size"));
    m_copy->setAccessibleName(QStringLiteral("Copy size"));
    layout->addWidget(valueRow(QStringLiteral("Original"), m_original, false));
    m_croppedRow = valueRow(QStringLiteral("Cropped"), m_cropped, false);
    layout->addWidget(m_croppedRow);
    layout->addWidget(valueRow(QStringLiteral("Copy"), m_copy, true));

    for (QLineEdit* field : {m_fit, m_width, m_height})
        field->installEventFilter(this);
    connect(m_model, &PhotoEditorModel::changed, this, &PhotoSizeTab::refresh);
    refresh();
}

void PhotoSizeTab::animated(const std::function<void()>& change)
{
    if (m_animator)
        m_animator(change);
    else
        change();
}

void PhotoSizeTab::swapSides()
{
    animated([this] {
        const int width = storedSide(m_model->exactHeight());
        const int height = storedSide(m_model->exactWidth());
        m_width->clearFocus();
        m_height->clearFocus();
        m_model->setExactSize(width, height);
    });
}

void PhotoSizeTab::choosePreset(const PhotoEditorModel::SizePreset& preset)
{
    animated([this, preset] {
        m_width->clearFocus();
        m_height->clearFocus();
        m_model->setExactSize(storedSide(preset.width), storedSide(preset.height));
    });
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
        m_scale->setValue(int(std::lround(m_model->scalePercent() * scaleStepsPerPercent)));
    }
    m_scaleText->setText(QStringLiteral("%1 %").arg(int(m_model->scalePercent())));
    showValue(m_fit, m_model->fitLongest());
    showValue(m_width, m_model->exactWidth());
    showValue(m_height, m_model->exactHeight());
    m_exactFit->setCurrentValue(int(m_model->exactFit()));
    m_caption->setText(exactCaption(*m_model));
    m_original->setText(PhotoCropTab::pixelSizeText(m_model->pixelSize));
    const bool cropped = m_model->crop() != QRectF(0, 0, 1, 1);
    m_cropped->setText(PhotoCropTab::pixelSizeText(m_model->pixelCropRect().size()));
    m_croppedRow->setVisible(cropped);
    m_copy->setText(PhotoCropTab::pixelSizeText(m_model->outputPixelSize()));
}

} // namespace qv
