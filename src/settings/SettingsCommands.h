#pragma once

#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace qv {

class Settings;
class SettingsPanels;

// The Advanced tab's whole-settings commands: export, import and reset. Each asks its panel
// first and answers the tab's message line, or nothing when the user cancelled.
class SettingsCommands {
public:
    struct Services {
        Settings* store = nullptr;
        SettingsPanels* panels = nullptr;
        // Registers the stored hot key again after an import or a reset.
        std::function<void()> registerHotkey;
    };

    explicit SettingsCommands(Services services);

    // "Exported 34 settings" or "Couldn't export: …".
    std::optional<QString> exportSettings(QWidget* parent = nullptr);
    // "Imported 36 settings", "Couldn't import: …" or "That file isn't a Quorvenda settings
    // export".
    std::optional<QString> importSettings(QWidget* parent = nullptr);
    // "Settings were reset".
    std::optional<QString> resetSettings(QWidget* parent = nullptr);

    static bool isSuccess(const QString& message);

private:
    Services m_services;
};

// How old an item of the temporary folder must be for "Clean Up Now" to remove it: work of a
// running job is younger than an hour.
double cleanUpMinimumAge(int activeJobs);

} // namespace qv
