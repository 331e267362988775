#include "platform/x11/X11TrayWatcher.h"

#include "platform/x11/SelectionOwnerWatch.h"
#include "platform/x11/X11QtConnection.h"

#include <xcb/xfixes.h>

namespace qv {

X11TrayWatcher::X11TrayWatcher(QObject* parent)
    : QObject(parent)
{
    const QByteArray display = X11QtConnection::displayName();
    if (display.isEmpty())
        return;
    const int screen = X11QtConnection::defaultScreen();
    auto watch = std::make_unique<SelectionOwnerWatch>();
    if (!watch->open(display, screen) || !watch->setSelection("_NET_SYSTEM_TRAY_S" + QByteArray::number(screen))
        || !watch->listen(XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER))
        return;
    connect(watch.get(), &SelectionOwnerWatch::ownerChanges, this, [this](const QList<bool>& owned) {
        if (owned.contains(true))
            Q_EMIT trayStarted();
    });
    m_watch = std::move(watch);
}

X11TrayWatcher::~X11TrayWatcher() = default;

} // namespace qv
