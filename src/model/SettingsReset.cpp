#include "model/SettingsReset.h"

#include "model/SettingsKeys.h"
#include "platform/SettingsStore.h"

namespace qv {

void resetAllSettings(SettingsStore& store)
{
    for (const QString& key : store.allKeys()) {
        if (key.startsWith(SettingsKey::prefix) && key != SettingsKey::onboardingDone)
            store.remove(key);
    }
}

void resetAllSettings()
{
    resetAllSettings(SettingsStore::shared());
}

bool isExportableSettingsKey(const QString& key)
{
    return key.startsWith(SettingsKey::prefix) && !key.startsWith(SettingsKey::statePrefix);
}

} // namespace qv
