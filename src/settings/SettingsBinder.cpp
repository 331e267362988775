#include "settings/SettingsBinder.h"

#include "model/operations/HexColor.h"
#include "platform/settings/SettingsStore.h"
#include "widgets/ColorWell.h"
#include "widgets/QualitySliderRow.h"
#include "widgets/SegmentedPicker.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QSignalBlocker>
#include <QSpinBox>

#include <cmath>

namespace qv {

namespace {

bool isNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

} // namespace

int choiceIndex(const QList<OptionChoice>& choices, const QVariant& stored)
{
    for (qsizetype i = 0; i < choices.size(); ++i) {
        const QVariant& value = choices[i].value;
        if (isNumber(value) && isNumber(stored)) {
            if (value.toDouble() == stored.toDouble())
                return int(i);
        } else if (value.typeId() == QMetaType::QString && stored.typeId() == QMetaType::QString) {
            if (value.toString() == stored.toString())
                return int(i);
        }
    }
    return -1;
}

SettingsBinder::SettingsBinder(SettingsStore& store, QObject* parent)
    : QObject(parent), m_store(store)
{
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        const auto shows = m_shows.values(key);
        for (const auto& show : shows)
            show();
    });
}

void SettingsBinder::follow(const QString& key, std::function<void()> show)
{
    show();
    m_shows.insert(key, std::move(show));
}

void SettingsBinder::refreshAll()
{
    for (const auto& show : std::as_const(m_shows))
        show();
}

void SettingsBinder::bindCheckBox(QAbstractButton* box, const QString& key)
{
    follow(key, [this, box, key] {
        const QSignalBlocker blocker(box);
        box->setChecked(m_store.boolValue(key));
    });
    // clicked: only the user's toggles.
    connect(box, &QAbstractButton::clicked, this,
            [this, key](bool checked) { m_store.setValue(key, checked); });
}

void SettingsBinder::bindComboBox(QComboBox* combo, const QString& key,
                                  const QList<OptionChoice>& choices)
{
    {
        const QSignalBlocker blocker(combo);
        for (const OptionChoice& choice : choices)
            combo->addItem(choice.text, choice.value);
    }
    follow(key, [this, combo, key, choices] {
        const QSignalBlocker blocker(combo);
        combo->setCurrentIndex(choiceIndex(choices, m_store.value(key)));
    });
    connect(combo, &QComboBox::activated, this, [this, key, choices](int index) {
        if (index >= 0 && index < choices.size())
            m_store.setValue(key, choices[index].value);
    });
}

void SettingsBinder::bindSegmented(SegmentedPicker* picker, const QString& key)
{
    follow(key, [this, picker, key] { picker->setCurrentValue(m_store.value(key)); });
    connect(picker, &SegmentedPicker::activated, this,
            [this, key](const QVariant& value) { m_store.setValue(key, value); });
}

void SettingsBinder::bindSpinBox(QSpinBox* spin, const QString& key)
{
    follow(key, [this, spin, key] {
        const QSignalBlocker blocker(spin);
        spin->setValue(m_store.intValue(key));
    });
    connect(spin, &QSpinBox::valueChanged, this,
            [this, key](int value) { m_store.setValue(key, value); });
}

void SettingsBinder::bindQuality(QualitySliderRow* row, const QString& key, bool storedAsPercent)
{
    follow(key, [this, row, key, storedAsPercent] {
        const double stored = m_store.doubleValue(key);
        row->setQuality(storedAsPercent ? stored / 100.0 : stored);
    });
    connect(row, &QualitySliderRow::qualityChanged, this, [this, key, storedAsPercent](double quality) {
        if (storedAsPercent)
            m_store.setValue(key, qlonglong(std::lround(quality * 100)));
        else
            m_store.setValue(key, std::round(quality * 100) / 100);
    });
}

void SettingsBinder::bindColor(ColorWell* well, const QString& key, const QColor& fallback)
{
    follow(key, [this, well, key, fallback] {
        const QSignalBlocker blocker(well);
        well->setColor(colorFromHex(m_store.stringValue(key).value_or(QString())).value_or(fallback));
    });
    connect(well, &ColorWell::colorChosen, this,
            [this, key](const QColor& color) { m_store.setValue(key, hexString(color)); });
}

} // namespace qv
