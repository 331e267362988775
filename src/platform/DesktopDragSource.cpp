#include "platform/DesktopDragSource.h"

#include "platform/X11DragSource.h"

#include <QGuiApplication>

namespace qv {

std::unique_ptr<DragEventSource> makeDesktopDragSource()
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("xcb"))
        return std::make_unique<X11DragSource>();
    return nullptr;
}

} // namespace qv
