#include "platform/drags/DesktopDragSource.h"

#include "platform/desktop/DesktopSession.h"
#include "platform/drags/CombinedDragSource.h"
#include "platform/settings/SettingsStore.h"
#include "platform/wayland/LayerShell.h"
#include "platform/wayland/LayerShellDragSource.h"
#include "platform/wayland/ShellDragSource.h"
#include "platform/x11/X11DragSource.h"

#include <QGuiApplication>

namespace qv {

std::unique_ptr<DragEventSource> makeDesktopDragSource()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        // GNOME Shell under Wayland: X11 sees only drags of X11 programs; our Shell extension
        // reports the rest, and without it a strip of ours catches those that cross it.
        if (DesktopSession::isWayland() && DesktopSession::isGnomeShell()) {
            std::vector<std::unique_ptr<DragEventSource>> fallbacks;
            fallbacks.push_back(std::make_unique<X11DragSource>());
            fallbacks.push_back(std::make_unique<LayerShellDragSource>(SettingsStore::shared()));
            return std::make_unique<ShellDragSource>(
                QDBusConnection::sessionBus(), std::make_unique<CombinedDragSource>(std::move(fallbacks)));
        }
        return std::make_unique<X11DragSource>();
    }
    if (platform == QLatin1String("wayland") && LayerShell::isAvailable())
        return std::make_unique<LayerShellDragSource>(SettingsStore::shared());
    return nullptr;
}

bool desktopDragsHearKeys()
{
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return LayerShell::keysReachDragTarget();
    return true;
}

bool ownDragKeysReachOnlyOurWindows()
{
    return QGuiApplication::platformName() == QLatin1String("wayland") && LayerShell::keysReachDragTarget();
}

} // namespace qv
