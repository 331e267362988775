#include "app/Application.h"

#include "platform/Log.h"

namespace qv {

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("quorvenda"));
    setApplicationDisplayName(QStringLiteral("Quorvenda"));
    setOrganizationName(QStringLiteral("quorvenda"));
    setDesktopFileName(QStringLiteral("quorvenda"));
    setQuitOnLastWindowClosed(false);
}

} // namespace qv
