#include "platform/DesktopDragSource.h"

#include "platform/DesktopSession.h"
#include "platform/LayerShell.h"
#include "platform/LayerShellDragSource.h"
#include "platform/SettingsStore.h"
#include "platform/ShellDragSource.h"
#include "platform/X11DragSource.h"

#include <QGuiApplication>

namespace qv {

std::unique_ptr<DragEventSource> makeDesktopDragSource()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb")) {
        // GNOME Shell under Wayland: X11 sees only drags of X11 programs; our Shell extension
        // reports the rest.
        if (DesktopSession::isWayland() && DesktopSession::isGnomeShell())
            return std::make_unique<ShellDragSource>(QDBusConnection::sessionBus(),
                                                     std::make_unique<X11DragSource>());
        return std::make_unique<X11DragSource>();
    }
    if (platform == QLatin1String("wayland") && LayerShell::isAvailable())
        return std::make_unique<LayerShellDragSource>(SettingsStore::shared());
    return nullptr;
}

} // namespace qv
