#include "jobs/OptionBinding.h"
#include "jobs/OptionChoices.h"
#include "jobs/OptionsActions.h"
#include "jobs/ui/MergeOrderList.h"
#include "jobs/ui/OptionsForm.h"
#include "model/operations/HexColor.h"
#include "widgets/ColorWell.h"
#include "widgets/QualitySliderRow.h"
#include "widgets/SegmentedPicker.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>

#include <cmath>

namespace qv {

namespace {

// Reads the shown value; writes the user's pick.
struct ChoiceAccess {
    std::function<QVariant()> read;
    std::function<void(const QVariant&)> write;
};

template <typename T>
ChoiceAccess access(const OptionBinding<T>& binding)
{
    return {[binding] { return binding.readVariant(); },
            [binding](const QVariant& value) { binding.writeVariant(value); }};
}

QLabel* secondaryLabel(const QString& text, QWidget* parent, double scale = 1.0)
{
    auto* label = new QLabel(text, parent);
    label->setForegroundRole(QPalette::PlaceholderText);
    if (scale != 1.0) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * scale);
        label->setFont(font);
    }
    label->setWordWrap(true);
    return label;
}

void addMenuPicker(OptionsForm& form, QFormLayout* layout, const QString& name,
                   const QString& label, const QList<OptionChoice>& choices, ChoiceAccess access)
{
    auto* combo = new QComboBox(layout->parentWidget());
    combo->setObjectName(name);
    for (const OptionChoice& choice : choices) {
        if (choice.dividerBefore)
            combo->insertSeparator(combo->count());
        combo->addItem(choice.text, choice.value);
    }
    QObject::connect(combo, &QComboBox::activated, combo,
                     [combo, access](int index) { access.write(combo->itemData(index)); });
    form.addRefresher([combo, access] {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(combo->findData(access.read()));
    });
    layout->addRow(label, combo);
}

SegmentedPicker* addSegmentedPicker(OptionsForm& form, QFormLayout* layout, const QString& name,
                                    const QString& label, const QList<OptionChoice>& choices,
                                    ChoiceAccess access)
{
    auto* picker = new SegmentedPicker(choices, layout->parentWidget());
    picker->setObjectName(name);
    QObject::connect(picker, &SegmentedPicker::activated, picker, access.write);
    form.addRefresher([picker, access] { picker->setCurrentValue(access.read()); });
    layout->addRow(label, picker);
    return picker;
}

QCheckBox* addToggle(OptionsForm& form, QFormLayout* layout, const QString& name,
                     const QString& label, std::function<bool()> read,
                     std::function<void(bool)> write)
{
    auto* box = new QCheckBox(label, layout->parentWidget());
    box->setObjectName(name);
    // clicked, unlike toggled, comes only from the user.
    QObject::connect(box, &QCheckBox::clicked, box, std::move(write));
    form.addRefresher([box, read = std::move(read)] {
        const QSignalBlocker blocker(box);
        box->setChecked(read());
    });
    layout->addRow(QString(), box);
    return box;
}

QCheckBox* addBoolToggle(OptionsForm& form, QFormLayout* layout, const QString& name,
                         const QString& label, std::optional<bool> OperationOptions::*field)
{
    const auto binding = optionBinding(form.model(), field, false);
    return addToggle(form, layout, name, label, [binding] { return binding.read(); },
                     [binding](bool on) { binding.write(on); });
}

void addColorWell(OptionsForm& form, QFormLayout* layout, const QString& name,
                  std::optional<QString> OperationOptions::*field)
{
    OptionsModel* model = form.model();
    auto* well = new ColorWell(layout->parentWidget());
    well->setObjectName(name);
    QObject::connect(well, &ColorWell::colorChosen, well, [model, field](const QColor& color) {
        model->updateOptions([&](OperationOptions& options) { options.*field = hexString(color); });
    });
    auto* label = new QLabel(QObject::tr("Background"), layout->parentWidget());
    layout->addRow(label, well);
    form.addRefresher([model, field, well, layout] {
        const std::optional<QString>& value = model->options().*field;
        well->setColor(colorSelection(value, model->snapshot()));
        layout->setRowVisible(well, !blurSelection(value));
    });
}

void addNote(QFormLayout* layout, const QString& text, const QString& iconName = {})
{
    auto* row = new QWidget(layout->parentWidget());
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    if (!iconName.isEmpty()) {
        auto* icon = new QLabel(row);
        const int side = row->fontMetrics().height();
        icon->setPixmap(QIcon::fromTheme(iconName, row->style()->standardIcon(
                                                        QStyle::SP_MessageBoxInformation))
                            .pixmap(side, side));
        icon->setAlignment(Qt::AlignTop);
        box->addWidget(icon);
    }
    box->addWidget(secondaryLabel(text, row, 0.95), 1);
    layout->addRow(row);
}

QHBoxLayout* compactRow(QWidget* row)
{
    auto* box = new QHBoxLayout(row);
    box->setContentsMargins(0, 0, 0, 0);
    box->setSpacing(6);
    return box;
}

QLineEdit* numberField(QWidget* parent, const QString& name, const QString& accessibleName)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setAccessibleName(accessibleName);
    field->setFixedWidth(80);
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return field;
}

// A locale number that may carry grouping separators.
std::optional<double> readLocaleNumber(const QString& text, bool whole)
{
    const QLocale locale;
    bool ok = false;
    const double value = whole ? double(locale.toLongLong(text, &ok)) : locale.toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void addPresetRow(OptionsForm& form, QFormLayout* layout, OptionField field)
{
    OptionsModel* model = form.model();
    const bool compress = field == OptionField::compressPreset;
    const auto binding = optionBinding(
        model, &OperationOptions::videoPreset,
        compress ? QualityPreset::medium : model->snapshot().videoPreset);
    ChoiceAccess choice = access(binding);
    choice.write = [model, binding, compress](const QVariant& value) {
        const auto before = model->options().videoPreset;
        binding.writeVariant(value);
        // A new compress preset brings its own default quality with it.
        if (compress && model->options().videoPreset != before)
            model->updateOptions([](OperationOptions& options) { options.quality.reset(); });
    };
    addSegmentedPicker(form, layout, toString(field), compress ? QObject::tr("Preset") : QObject::tr("Quality"),
                       qualityPresetChoices(), choice);
}

void addSplitPagesRows(OptionsForm& form, QFormLayout* layout, const QString& name)
{
    OptionsModel* model = form.model();
    addMenuPicker(form, layout, name + QStringLiteral(".splitChoice"), QObject::tr("Split"),
                  splitModeChoices(),
                  {[model] { return QVariant(model->splitChoice()); },
                   [model](const QVariant& value) { model->setSplitChoice(value.toInt()); }});

    auto* stepper = new QSpinBox(layout->parentWidget());
    stepper->setObjectName(name + QStringLiteral(".everyN"));
    stepper->setRange(1, 500);
    stepper->setSingleStep(1);
    stepper->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* stepperLabel = new QLabel(layout->parentWidget());
    QObject::connect(stepper, &QSpinBox::valueChanged, model, &OptionsModel::setEveryN);
    layout->addRow(stepperLabel, stepper);

    auto* ranges = new QLineEdit(layout->parentWidget());
    ranges->setObjectName(name + QStringLiteral(".ranges"));
    ranges->setPlaceholderText(QStringLiteral("1-3, 4-6, 7"));
    QObject::connect(ranges, &QLineEdit::textEdited, model, &OptionsModel::setRangesText);
    layout->addRow(QObject::tr("Ranges"), ranges);

    form.addRefresher([model, stepper, stepperLabel, ranges, layout] {
        {
            const QSignalBlocker blocker(stepper);
            stepper->setValue(model->everyN());
        }
        stepperLabel->setText(QStringLiteral("Every %1 pages").arg(model->everyN()));
        if (ranges->text() != model->rangesText())
            ranges->setText(model->rangesText());
        layout->setRowVisible(stepper, model->splitChoice() == 1);
        layout->setRowVisible(ranges, model->splitChoice() == 2);
    });
}

void addPasswordRows(OptionsForm& form, QFormLayout* layout)
{
    OptionsModel* model = form.model();
    const auto binding = makeStringOptionBinding(model, &OperationOptions::password, QString());
    auto* password = new QLineEdit(layout->parentWidget());
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    QObject::connect(password, &QLineEdit::textEdited, model,
                     [binding](const QString& text) { binding.write(text); });
    form.addRefresher([password, binding] {
        if (password->text() != binding.read())
            password->setText(binding.read());
    });
    layout->addRow(QObject::tr("Password"), password);
    if (!asksPasswordConfirmation(form.title()))
        return;
    auto* confirm = new QLineEdit(layout->parentWidget());
    confirm->setObjectName(QStringLiteral("confirmPassword"));
    confirm->setEchoMode(QLineEdit::Password);
    QObject::connect(confirm, &QLineEdit::textEdited, model, &OptionsModel::setConfirmPassword);
    form.addRefresher([confirm, model] {
        if (confirm->text() != model->confirmPassword())
            confirm->setText(model->confirmPassword());
    });
    layout->addRow(QObject::tr("Confirm"), confirm);
}

void addFadeStepper(OptionsForm& form, QFormLayout* layout, const QString& name,
                    const QString& title, std::optional<double> OperationOptions::*field,
                    double defaultValue)
{
    const auto binding = optionBinding(form.model(), field, defaultValue);
    auto* stepper = new QDoubleSpinBox(layout->parentWidget());
    stepper->setObjectName(name);
    stepper->setRange(0, 30);
    stepper->setSingleStep(0.5);
    stepper->setDecimals(1);
    stepper->setSuffix(QStringLiteral(" s"));
    stepper->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    auto* label = new QLabel(layout->parentWidget());
    QObject::connect(stepper, &QDoubleSpinBox::valueChanged, stepper,
                     [binding](double value) { binding.write(value); });
    form.addRefresher([stepper, label, binding, title] {
        const QSignalBlocker blocker(stepper);
        stepper->setValue(binding.read());
        label->setText(title + shortNumberText(binding.read()) + QStringLiteral(" s"));
    });
    layout->addRow(label, stepper);
}

void addSubtitleShiftRows(OptionsForm& form, QFormLayout* layout)
{
    const auto binding = optionBinding(form.model(), &OperationOptions::subtitleShiftMilliseconds, 0);
    auto* row = new QWidget(layout->parentWidget());
    auto* box = compactRow(row);
    auto* field = numberField(row, QStringLiteral("subtitleShift"), QObject::tr("Milliseconds"));
    auto* minus = new QPushButton(QStringLiteral("\u22121 s"), row);
    minus->setObjectName(QStringLiteral("subtitleShift.minus"));
    auto* plus = new QPushButton(QStringLiteral("+1 s"), row);
    plus->setObjectName(QStringLiteral("subtitleShift.plus"));
    for (QPushButton* button : {minus, plus}) {
        button->setAutoDefault(false);
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
    box->addWidget(field);
    box->addWidget(secondaryLabel(QStringLiteral("ms"), row));
    box->addWidget(minus);
    box->addWidget(plus);
    box->addStretch(1);
    QObject::connect(field, &QLineEdit::textEdited, field, [binding](const QString& text) {
        const auto value = readLocaleNumber(text, true);
        if (value && *value >= INT_MIN && *value <= INT_MAX)
            binding.write(int(*value));
    });
    QObject::connect(minus, &QPushButton::clicked, minus,
                     [binding] { binding.write(binding.read() - 1000); });
    QObject::connect(plus, &QPushButton::clicked, plus,
                     [binding] { binding.write(binding.read() + 1000); });
    form.addRefresher([field, binding] {
        // Text the user is typing that already means the value is left as typed.
        const auto typed = readLocaleNumber(field->text(), true);
        if (!typed || int(*typed) != binding.read())
            field->setText(QLocale().toString(binding.read()));
    });
    layout->addRow(QObject::tr("Shift by"), row);
    layout->addRow(secondaryLabel(QObject::tr("Negative values make the subtitles appear earlier."),
                                  layout->parentWidget(), 0.9));
}

void addSnapshotTimeRow(OptionsForm& form, QFormLayout* layout)
{
    const auto binding = optionBinding(form.model(), &OperationOptions::snapshotTime, 0.0);
    auto* row = new QWidget(layout->parentWidget());
    auto* box = compactRow(row);
    auto* field = numberField(row, QStringLiteral("snapshotTime"), QObject::tr("Seconds"));
    box->addWidget(field);
    box->addWidget(secondaryLabel(QStringLiteral("s"), row));
    box->addStretch(1);
    QObject::connect(field, &QLineEdit::textEdited, field, [binding](const QString& text) {
        if (const auto value = readLocaleNumber(text, false))
            binding.write(*value);
    });
    form.addRefresher([field, binding] {
        const auto typed = readLocaleNumber(field->text(), false);
        if (!typed || *typed != binding.read())
            field->setText(QLocale().toString(binding.read(), 'g', QLocale::FloatingPointShortest));
    });
    layout->addRow(QObject::tr("Time"), row);
}

void addMergeOrderSection(OptionsForm& form, QFormLayout* layout)
{
    OptionsModel* model = form.model();
    if (model->files().size() < 2)
        return;
    auto* header = new QLabel(QObject::tr("Order"), layout->parentWidget());
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    header->setContentsMargins(0, 8, 0, 0);
    layout->addRow(header);
    auto* list = new MergeOrderList(layout->parentWidget());
    list->setObjectName(QStringLiteral("mergeOrder"));
    list->setFixedHeight(mergeOrderListHeight(int(model->files().size())));
    QObject::connect(list, &MergeOrderList::orderChanged, model, &OptionsModel::setFiles);
    form.addRefresher([list, model] { list->setFiles(model->files()); });
    layout->addRow(list);
}

} // namespace

void optionRows(OptionsForm& form, OptionField field, QFormLayout* layout)
{
    OptionsModel* model = form.model();
    const SettingsSnapshot& snapshot = model->snapshot();
    const QString name = toString(field);
    switch (field) {
    case OptionField::imageQuality: {
        auto* row = new QualitySliderRow(layout->parentWidget());
        row->setObjectName(name);
        QObject::connect(row, &QualitySliderRow::qualityChanged, row, [model](double quality) {
            model->updateOptions([&](OperationOptions& options) { options.quality = quality; });
        });
        form.addRefresher([row, model] {
            row->setQuality(model->options().quality.value_or(model->defaultQuality()));
        });
        layout->addRow(QObject::tr("Quality"), row);
        break;
    }
    case OptionField::maxDimension:
        addMenuPicker(form, layout, name, QObject::tr("Size"), maxDimensionChoices(),
                      access(optionBinding(model, &OperationOptions::maxDimension,
                                           snapshot.imageMaxDimension)));
        break;
    case OptionField::resizeScale:
        addMenuPicker(form, layout, name, QObject::tr("Resize to"), resizeChoices(),
                      {[model] { return QVariant(resizeSelection(model->options())); },
                       [model](const QVariant& value) {
                           model->updateOptions([&](OperationOptions& options) {
                               setResizeSelection(options, value.toInt());
                           });
                       }});
        break;
    case OptionField::alphaBackground:
        addColorWell(form, layout, name, &OperationOptions::alphaBackground);
        break;
    case OptionField::lossless:
        addBoolToggle(form, layout, name, QObject::tr("Lossless"), &OperationOptions::lossless);
        break;
    case OptionField::videoPreset:
    case OptionField::compressPreset: addPresetRow(form, layout, field); break;
    case OptionField::videoCodec:
        addMenuPicker(form, layout, name, QObject::tr("Codec"), videoCodecChoices(),
                      access(optionBinding(model, &OperationOptions::videoCodec, snapshot.videoCodec)));
        break;
    case OptionField::maxResolution:
        addMenuPicker(form, layout, name, QObject::tr("Resolution"), resolutionChoices(),
                      access(optionBinding(model, &OperationOptions::maxResolution,
                                           snapshot.videoMaxResolution)));
        break;
    case OptionField::audioBitrate:
        addMenuPicker(form, layout, name, QObject::tr("Audio bitrate"), audioBitrateChoices(),
                      access(optionBinding(model, &OperationOptions::audioBitrate, snapshot.aacBitrate)));
        break;
    case OptionField::sampleRate:
        addMenuPicker(form, layout, name, QObject::tr("Sample rate"), sampleRateChoices(),
                      access(optionBinding(model, &OperationOptions::sampleRate, snapshot.sampleRate)));
        break;
    case OptionField::pdfCompression:
        addMenuPicker(form, layout, name, QObject::tr("Compression"), pdfCompressionChoices(),
                      access(optionBinding(model, &OperationOptions::pdfCompression,
                                           snapshot.pdfCompression)));
        break;
    case OptionField::dpi:
        addMenuPicker(form, layout, name, QObject::tr("Resolution"), dpiChoices(),
                      access(optionBinding(model, &OperationOptions::dpi, snapshot.pdfDPI)));
        break;
    case OptionField::pageSize:
        addSegmentedPicker(form, layout, name, QObject::tr("Page size"), pageSizeChoices(),
                           access(optionBinding(model, &OperationOptions::pageSize, snapshot.pageSize)));
        break;
    case OptionField::pageRanges:
    case OptionField::splitPages: addSplitPagesRows(form, layout, name); break;
    case OptionField::splitMedia:
        addMenuPicker(form, layout, name, QObject::tr("Split into"), splitPartsChoices(),
                      {[model] { return QVariant(splitPartsSelection(model->options())); },
                       [model](const QVariant& value) {
                           model->updateOptions([&](OperationOptions& options) {
                               options.split = SplitMode::parts(value.toInt());
                           });
                       }});
        break;
    case OptionField::password: addPasswordRows(form, layout); break;
    case OptionField::rotation:
    case OptionField::flip:
        addSegmentedPicker(form, layout, name + QStringLiteral(".rotation"), QObject::tr("Rotate"),
                           rotationChoices(), access(optionBinding(model, &OperationOptions::rotation, 90)));
        addBoolToggle(form, layout, name + QStringLiteral(".flipHorizontal"),
                      QObject::tr("Flip horizontally"), &OperationOptions::flipHorizontal);
        addBoolToggle(form, layout, name + QStringLiteral(".flipVertical"),
                      QObject::tr("Flip vertically"), &OperationOptions::flipVertical);
        break;
    case OptionField::speed:
        addMenuPicker(form, layout, name, QObject::tr("Speed"), speedChoices(),
                      access(optionBinding(model, &OperationOptions::speed, 2.0)));
        break;
    case OptionField::fade:
        addFadeStepper(form, layout, QStringLiteral("fadeIn"), QStringLiteral("Fade in: "),
                       &OperationOptions::fadeIn, 2.0);
        addFadeStepper(form, layout, QStringLiteral("fadeOut"), QStringLiteral("Fade out: "),
                       &OperationOptions::fadeOut, 3.0);
        break;
    case OptionField::subtitleShift: addSubtitleShiftRows(form, layout); break;
    case OptionField::snapshotTime: addSnapshotTimeRow(form, layout); break;
    case OptionField::backgroundColor:
        addToggle(form, layout, name + QStringLiteral(".blur"), QObject::tr("Blurred photo"),
                  [model] { return blurSelection(model->options().backgroundColor); },
                  [model](bool on) {
                      model->updateOptions([&](OperationOptions& options) {
                          options.backgroundColor = blurSelectionValue(on);
                      });
                  });
        addColorWell(form, layout, name + QStringLiteral(".color"), &OperationOptions::backgroundColor);
        break;
    case OptionField::mergeLayout:
        addSegmentedPicker(form, layout, name, QObject::tr("Layout"), mergeLayoutChoices(),
                           access(optionBinding(model, &OperationOptions::mergeLayout,
                                                MergeLayout::horizontal)));
        break;
    case OptionField::mergeOrder: addMergeOrderSection(form, layout); break;
    case OptionField::allSheets:
        addBoolToggle(form, layout, name, QObject::tr("One file per sheet"), &OperationOptions::allSheets);
        break;
    case OptionField::trimFast:
        addBoolToggle(form, layout, name, QObject::tr("Fast (no re-encoding, cuts at keyframes)"),
                      &OperationOptions::fastTrim);
        break;
    case OptionField::ringtoneLength:
        addNote(layout, optionFieldNote(field).value_or(QString()));
        break;
    case OptionField::approximateLayoutNote:
        addNote(layout, optionFieldNote(field).value_or(QString()),
                QStringLiteral("dialog-information"));
        break;
    }
}

} // namespace qv
