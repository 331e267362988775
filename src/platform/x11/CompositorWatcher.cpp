#include "platform/x11/CompositorWatcher.h"

#include "platform/x11/SelectionOwnerWatch.h"
#include "platform/x11/X11QtConnection.h"

#include <QGuiApplication>

#include <xcb/xfixes.h>

namespace qv {

CompositorWatcher::CompositorWatcher(QObject* parent)
    : QObject(parent)
{
}

CompositorWatcher::~CompositorWatcher() = default;

bool CompositorWatcher::watch(const QByteArray& displayName, int screen)
{
    d.reset();
    auto watch = std::make_unique<SelectionOwnerWatch>();
    if (!watch->open(displayName, screen)
        || !watch->setSelection("_NET_WM_CM_S" + QByteArray::number(watch->screen()))) {
        setComposited(false);
        return false;
    }
    // Without XFixes the answer below is the last word. Listening before asking for the owner
    // leaves no change in between unseen.
    watch->listen(XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                  | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                  | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    const bool composited = watch->isOwned();
    // Once the server went away, what was last seen stays.
    connect(watch.get(), &SelectionOwnerWatch::ownerChanges, this, [this](const QList<bool>& owned) {
        for (bool on : owned)
            setComposited(on);
    });
    d = std::move(watch);
    setComposited(composited);
    d->readEvents();
    return true;
}

void CompositorWatcher::setComposited(bool composited)
{
    if (composited == m_composited)
        return;
    m_composited = composited;
    Q_EMIT changed(composited);
}

CompositorWatcher& CompositorWatcher::system()
{
    static CompositorWatcher* watcher = [] {
        auto* w = new CompositorWatcher;
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return w;
        const QByteArray name = X11QtConnection::displayName();
        w->watch(name, name.isEmpty() ? -1 : X11QtConnection::defaultScreen());
        return w;
    }();
    return *watcher;
}

} // namespace qv
