#include "platform/x11/DragSelectionWatcher.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>
#include <cstring>

namespace qv {

struct DragSelectionWatcher::Connection {
    xcb_connection_t* connection = nullptr;
    xcb_atom_t selection = XCB_NONE;
    uint8_t fixesEventBase = 0;
    std::unique_ptr<QSocketNotifier> notifier;

    ~Connection()
    {
        notifier.reset();
        if (connection)
            xcb_disconnect(connection);
    }
};

DragSelectionWatcher::DragSelectionWatcher(QObject* parent)
    : QObject(parent)
{
}

DragSelectionWatcher::~DragSelectionWatcher() = default;

bool DragSelectionWatcher::watch(const QByteArray& displayName)
{
    d.reset();
    auto c = std::make_unique<Connection>();
    int screen = 0;
    c->connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screen);
    if (xcb_connection_has_error(c->connection))
        return false;
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(c->connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i)
        xcb_screen_next(&roots);
    if (roots.rem <= 0)
        return false;

    static constexpr char name[] = "XdndSelection";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c->connection, xcb_intern_atom(c->connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    if (!atom)
        return false;
    c->selection = atom->atom;
    std::free(atom);

    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(c->connection, &xcb_xfixes_id);
    if (!fixes || !fixes->present)
        return false;
    xcb_xfixes_query_version_reply_t* version = xcb_xfixes_query_version_reply(
        c->connection, xcb_xfixes_query_version(c->connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr);
    if (!version)
        return false;
    std::free(version);
    c->fixesEventBase = fixes->first_event;
    xcb_xfixes_select_selection_input(c->connection, roots.data->root, c->selection,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    // Once the server has the request: a failure shows as an error on the connection.
    xcb_get_input_focus_reply_t* sync
        = xcb_get_input_focus_reply(c->connection, xcb_get_input_focus(c->connection), nullptr);
    std::free(sync);
    if (xcb_connection_has_error(c->connection))
        return false;
    c->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c->connection), QSocketNotifier::Read);
    connect(c->notifier.get(), &QSocketNotifier::activated, this, &DragSelectionWatcher::readEvents);
    d = std::move(c);
    readEvents();
    return true;
}

void DragSelectionWatcher::readEvents()
{
    if (!d || !d->notifier)
        return;
    bool began = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        if ((event->response_type & 0x7f) == d->fixesEventBase + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
            began = began || (notify->selection == d->selection && notify->owner != XCB_NONE);
        }
        std::free(event);
    }
    if (began)
        Q_EMIT dragBegan();
    if (xcb_connection_has_error(d->connection)) {
        d->notifier->setEnabled(false);
        d->notifier.release()->deleteLater();
        Q_EMIT lost();
    }
}

} // namespace qv
