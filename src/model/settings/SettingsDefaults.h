#pragma once

#include "model/settings/SettingsEnums.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

namespace qv {

class Settings;

// "letter" where the system locale measures in US units, else "a4".
PageSizeChoice localePageSize();

// The job engine's cpu lane: one per processor, no more than one per 512 MB of memory, at
// least 1.
int defaultCpuJobs();
int defaultCpuJobs(int processors, qint64 physicalBytes);

// The 34 registered settings in the order of registration.
QList<QPair<QString, QVariant>> defaultSettings();

// Fills the store's registration layer; called at launch before anything reads a setting.
void registerDefaultSettings(Settings& store);
void registerDefaultSettings();

} // namespace qv
