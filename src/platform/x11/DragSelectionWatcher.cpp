#include "platform/x11/DragSelectionWatcher.h"

#include "platform/x11/SelectionOwnerWatch.h"

#include <xcb/xfixes.h>

namespace qv {

DragSelectionWatcher::DragSelectionWatcher(QObject* parent)
    : QObject(parent)
{
}

DragSelectionWatcher::~DragSelectionWatcher() = default;

bool DragSelectionWatcher::watch(const QByteArray& displayName)
{
    d.reset();
    auto watch = std::make_unique<SelectionOwnerWatch>();
    if (!watch->open(displayName) || !watch->setSelection(QByteArrayLiteral("XdndSelection"))
        || !watch->listen(XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER))
        return false;
    connect(watch.get(), &SelectionOwnerWatch::ownerChanges, this, [this](const QList<bool>& owned) {
        if (owned.contains(true))
            Q_EMIT dragBegan();
    });
    connect(watch.get(), &SelectionOwnerWatch::lost, this, &DragSelectionWatcher::lost);
    d = std::move(watch);
    d->readEvents();
    return true;
}

void DragSelectionWatcher::catchUp()
{
    if (!d)
        return;
    d->isOwned();
    d->readEvents();
}

} // namespace qv
