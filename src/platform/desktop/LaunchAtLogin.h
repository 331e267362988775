#pragma once

#include <QString>

namespace qv {

// Whether the session starts Quorvenda at login (an XDG autostart entry).
enum class LaunchAtLoginStatus { notRegistered = 0, enabled = 1 };

QString autostartFilePath();
LaunchAtLoginStatus launchAtLoginStatus();

// Writes or removes the autostart entry; throws SystemError when that fails.
void setLaunchAtLogin(bool enabled);

} // namespace qv
