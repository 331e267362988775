#pragma once

#include <QMap>
#include <QWidget>

class QLabel;
class QLineEdit;
class QRadioButton;
class QToolButton;

namespace qv {

class SettingsBinder;
class SettingsPanels;
class SettingsStore;

// Where results go, what happens after a conversion, and the suffix word of each tool.
class OutputSettingsTab : public QWidget {
    Q_OBJECT
public:
    OutputSettingsTab(SettingsStore& store, SettingsPanels& panels, QWidget* parent = nullptr);

    // Shows the folder panel and stores the chosen path under the key.
    void chooseFolder(const QString& key);

    QLineEdit* suffixField(const QString& operation) const { return m_suffixFields.value(operation); }
    QList<QString> suffixOperations() const { return m_suffixFields.keys(); }
    QLabel* exampleLine() const { return m_example; }
    QLabel* folderText() const { return m_folderText; }
    QLabel* fallbackText() const { return m_fallbackText; }
    QWidget* folderRow() const { return m_folderRow; }
    QRadioButton* besideOriginalChoice() const { return m_beside; }
    QRadioButton* folderChoice() const { return m_inFolder; }

private:
    void showSuffixes();

    SettingsStore& m_store;
    SettingsPanels& m_panels;
    SettingsBinder* m_binder;
    QRadioButton* m_beside = nullptr;
    QRadioButton* m_inFolder = nullptr;
    QWidget* m_folderRow = nullptr;
    QLabel* m_folderText = nullptr;
    QLabel* m_fallbackText = nullptr;
    QMap<QString, QLineEdit*> m_suffixFields;
    QLabel* m_example = nullptr;
};

} // namespace qv
