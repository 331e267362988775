#include "app/Application.h"

#include "app/AppIcon.h"
#include "model/Log.h"
#include "platform/desktop/TestHarness.h"
#include "platform/feedback/DesktopNotifications.h"
#include "platform/wayland/LayerShell.h"

#include <QTimer>

namespace qv {

bool Application::prepareEnvironment()
{
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    const bool waylandSession = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qgetenv("XDG_SESSION_TYPE") == "wayland";
    // Drags from native programs reach only native windows, and on KWin and the wlroots
    // compositors ours can be layer surfaces: the whole application runs natively there.
    // Elsewhere (GNOME's Mutter has no layer surfaces) it runs on X11, through XWayland.
    if ((chosen.isEmpty() || chosen.startsWith("wayland")) && waylandSession
        && LayerShell::compositorOffersLayers()) {
        if (chosen.isEmpty())
            qputenv("QT_QPA_PLATFORM", qEnvironmentVariableIsEmpty("DISPLAY") ? "wayland" : "wayland;xcb");
        // Windows that stay out of the window manager's way get no role from Qt: ours give
        // them the overlay layer's.
        qputenv("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
        // Qt would take every window's position to be its screen's corner; ours are where
        // their layers put them.
        qputenv("QT_WAYLAND_DISABLE_FIXED_POSITIONS", "1");
        return true;
    }
    if (!chosen.isEmpty())
        return true;
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        // Global drags and the hot key need X11; under Wayland that is XWayland.
        qputenv("QT_QPA_PLATFORM", "xcb");
        return true;
    }
    if (isRunningTests()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return true;
    }
    return false;
}

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("quorvenda"));
    setOrganizationName(QStringLiteral("quorvenda"));
    setDesktopFileName(QStringLiteral("quorvenda"));
    setQuitOnLastWindowClosed(false);
    // Drawn, and looked for in the icon theme, once the event loop runs: the tray's icon, which
    // comes first, needs neither, and a window shown before then takes it up when it is set.
    QTimer::singleShot(0, this, [] { setWindowIcon(appIcon()); });
    DesktopNotifications::system().setAppIcon(&notificationIcon);
}

} // namespace qv
