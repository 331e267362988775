#pragma once

#include "settings/SettingsCommands.h"

#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QSpinBox;

namespace qv {

class SettingsBinder;
class SettingsPanels;
class SettingsStore;

// Parallel jobs, the terminal, the temporary folder, and export, import and reset of every
// setting, with the outcome of the last of these commands in a line of its own.
class AdvancedSettingsTab : public QWidget {
    Q_OBJECT
public:
    struct Services {
        SettingsStore* store = nullptr;
        SettingsPanels* panels = nullptr;
        std::function<void()> registerHotkey;
        std::function<int()> activeJobCount;
        // Run on a worker thread.
        std::function<int(double maxAgeSeconds)> purgeTemporaryItems;
        std::function<qint64()> temporaryRootSize;
        // The job centre, the temporary folder and the hot key of the application.
        static Services system(SettingsStore& store, SettingsPanels& panels);
    };

    explicit AdvancedSettingsTab(Services services, QWidget* parent = nullptr);

    void chooseTerminalApp();
    void cleanUpTemporaryFiles();
    void exportSettings();
    void importSettings();
    void performReset();

    std::optional<QString> message() const { return m_message; }
    qint64 tempSize() const { return m_tempSize; }
    // What the temporary files row says of their size: "none" when there are none.
    static QString temporaryFilesText(qint64 bytes);
    // A clean-up or a size count is running on a worker.
    bool isBusy() const { return m_busy > 0; }

    QSpinBox* cpuJobs() const { return m_cpu; }
    QLabel* terminalName() const { return m_terminalName; }
    QPushButton* terminalReset() const { return m_terminalReset; }
    QLabel* tempSizeLabel() const { return m_tempSizeLabel; }
    QLabel* messageLabel() const { return m_messageLabel; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setMessage(const std::optional<QString>& message);
    void refreshTempSize();
    void setTempSize(qint64 bytes);

    Services m_services;
    SettingsCommands m_commands;
    SettingsBinder* m_binder;
    std::optional<QString> m_message;
    qint64 m_tempSize = 0;
    int m_busy = 0;
    QSpinBox* m_cpu = nullptr;
    QLabel* m_terminalName = nullptr;
    QPushButton* m_terminalReset = nullptr;
    QLabel* m_tempSizeLabel = nullptr;
    QPushButton* m_cleanUp = nullptr;
    QLabel* m_messageLabel = nullptr;
};

} // namespace qv
