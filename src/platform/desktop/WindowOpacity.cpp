#include "platform/desktop/WindowOpacity.h"

#include <QGuiApplication>

namespace qv {

bool windowOpacityWorks()
{
    return QGuiApplication::platformName() != QLatin1String("wayland");
}

} // namespace qv
