#pragma once

#include "jobs/OptionChoices.h"

#include <QObject>
#include <QString>

#include <functional>

class QAbstractButton;
class QComboBox;
class QSpinBox;

namespace qv {

class ColorWell;
class QualitySliderRow;
class SegmentedPicker;
class SettingsStore;

// Ties each control of a tab to its key: the control shows the stored value now and whenever
// the key changes (a reset, an import, another tab), and writes the key only when the user
// changes it. Showing a value never writes it back, so a value of the wrong kind stays as it
// was until the user picks another.
class SettingsBinder : public QObject {
    Q_OBJECT
public:
    explicit SettingsBinder(SettingsStore& store, QObject* parent = nullptr);

    SettingsStore& store() const { return m_store; }

    // Runs show now and after every change of the key.
    void follow(const QString& key, std::function<void()> show);
    // Runs every show again.
    void refreshAll();

    void bindCheckBox(QAbstractButton* box, const QString& key);
    // Values outside the choices select nothing.
    void bindComboBox(QComboBox* combo, const QString& key, const QList<OptionChoice>& choices);
    void bindSegmented(SegmentedPicker* picker, const QString& key);
    void bindSpinBox(QSpinBox* spin, const QString& key);
    // A fraction 0...1 stored as it is, or as a whole percentage.
    void bindQuality(QualitySliderRow* row, const QString& key, bool storedAsPercent);
    // A colour stored as "#RRGGBB"; an unreadable one shows as the fallback.
    void bindColor(ColorWell* well, const QString& key, const QColor& fallback);

private:
    SettingsStore& m_store;
    QMultiHash<QString, std::function<void()>> m_shows;
};

// The index of the choice whose value equals the stored one (numbers compared as numbers),
// -1 for none.
int choiceIndex(const QList<OptionChoice>& choices, const QVariant& stored);

} // namespace qv
