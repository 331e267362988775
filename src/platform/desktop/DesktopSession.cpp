#include "platform/desktop/DesktopSession.h"

#include <QStringList>

namespace qv::DesktopSession {

bool isWayland()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

bool isGnomeShell()
{
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString& desktop : desktops) {
        if (desktop.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isSway()
{
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return desktops.contains(QLatin1String("sway"), Qt::CaseInsensitive) || !qEnvironmentVariableIsEmpty("SWAYSOCK");
}

} // namespace qv::DesktopSession
