#pragma once

#include "model/files/FileCategory.h"
#include "model/settings/SettingsEnums.h"
#include "model/SharedEnums.h"

#include <QColor>
#include <QMap>
#include <QString>
#include <QUrl>

#include <optional>

namespace qv {

class Settings;

// A folder path from a setting as a directory URL (trailing "/"); "~" stands for the home
// folder. Nothing for an empty or relative path, which would name a folder nobody chose.
std::optional<QUrl> folderUrlFromSetting(const QString& path);

// The folder for results that cannot go where they should: the one set by the user, else the
// Downloads folder.
QUrl defaultFallbackFolder(const Settings& store);
QUrl defaultFallbackFolder();

// The built-in suffix words with the user's own words put in. A user word of only spaces and
// tabs, or one holding "/" or a NUL (which would break the result's file name), is ignored.
QMap<QString, QString> effectiveSuffixes(const Settings& store);
QMap<QString, QString> effectiveSuffixes();

QColor currentAccentColor(const Settings& store);
QColor currentAccentColor();

WheelSize currentWheelSize(const Settings& store);
WheelSize currentWheelSize();

// The modifier that opens a wheel while dragging; off for a stored text that names none.
ModifierChoice triggerModifier(WheelKind wheel, const Settings& store);
ModifierChoice triggerModifier(WheelKind wheel);

// "quorvenda.wheel.<wheel>.<category>", where a wheel's order of items is stored.
QString wheelOrderKey(WheelKind wheel, FileCategory category);

} // namespace qv
