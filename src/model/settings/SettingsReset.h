#pragma once

#include <QString>

namespace qv {

class Settings;

// Removes every stored "quorvenda." value except whether onboarding was done; settings then
// read their registered defaults. Keys of anything else in the store are left alone.
void resetAllSettings(Settings& store);
void resetAllSettings();

// Whether the settings export writes a key: "quorvenda." keys that are not state.
bool isExportableSettingsKey(const QString& key);

} // namespace qv
