#include "model/settings/SettingsReset.h"

#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"

namespace qv {

void resetAllSettings(Settings& store)
{
    for (const QString& key : store.allKeys()) {
        if (key.startsWith(SettingsKey::prefix) && key != SettingsKey::onboardingDone)
            store.remove(key);
    }
}

void resetAllSettings()
{
    resetAllSettings(Settings::shared());
}

bool isExportableSettingsKey(const QString& key)
{
    return key.startsWith(SettingsKey::prefix) && !key.startsWith(SettingsKey::statePrefix);
}

} // namespace qv
