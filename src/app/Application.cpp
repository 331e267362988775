#include "app/Application.h"

#include "app/AppIcon.h"
#include "model/Log.h"
#include "platform/TestHarness.h"

namespace qv {

bool Application::prepareEnvironment()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
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
    setApplicationDisplayName(QStringLiteral("Quorvenda"));
    setOrganizationName(QStringLiteral("quorvenda"));
    setDesktopFileName(QStringLiteral("quorvenda"));
    setQuitOnLastWindowClosed(false);
    setWindowIcon(appIcon());
}

} // namespace qv
