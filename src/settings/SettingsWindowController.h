#pragma once

#include "model/settings/SettingsEnums.h"
#include "settings/EnginesSettingsTab.h"

#include <QObject>

#include <memory>
#include <optional>

namespace qv {

class AdvancedSettingsTab;
class Capabilities;
class EnginesSettingsTab;
class GeneralSettingsTab;
class HotkeyCenter;
class OutputSettingsTab;
class QualitySettingsTab;
class SettingsPanels;
class SettingsStore;
class SettingsWindow;
class ToolRegistry;
class WheelsSettingsTab;

// The one settings window of the process: built on first use, hidden when closed, and shown
// again on the tab the user left it on.
class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    struct Services {
        SettingsStore* store = nullptr;
        HotkeyCenter* hotkeys = nullptr;
        const ToolRegistry* registry = nullptr;
        Capabilities* capabilities = nullptr;
        SettingsPanels* panels = nullptr;
        EnginesSettingsTab::Probes engineProbes;
        // Unset: the job centre and the temporary folder of the application.
        std::function<int()> activeJobCount;
        std::function<int(double)> purgeTemporaryItems;
        std::function<qint64()> temporaryRootSize;
        static Services system();
    };

    explicit SettingsWindowController(Services services, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    static SettingsWindowController& shared();

    // Selects the tab when one is given, centres the window when it was hidden, and raises and
    // activates it.
    void show(std::optional<SettingsTab> tab = std::nullopt);

    SettingsWindow* window() const { return m_window.get(); }
    GeneralSettingsTab* general() const { return m_general; }
    OutputSettingsTab* output() const { return m_output; }
    WheelsSettingsTab* wheels() const { return m_wheels; }
    QualitySettingsTab* quality() const { return m_quality; }
    EnginesSettingsTab* engines() const { return m_engines; }
    AdvancedSettingsTab* advanced() const { return m_advanced; }

private:
    Services m_services;
    std::unique_ptr<SettingsPanels> m_ownPanels;
    std::unique_ptr<SettingsWindow> m_window;
    GeneralSettingsTab* m_general = nullptr;
    OutputSettingsTab* m_output = nullptr;
    WheelsSettingsTab* m_wheels = nullptr;
    QualitySettingsTab* m_quality = nullptr;
    EnginesSettingsTab* m_engines = nullptr;
    AdvancedSettingsTab* m_advanced = nullptr;
};

} // namespace qv
