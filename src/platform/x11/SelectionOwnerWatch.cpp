#include "platform/x11/SelectionOwnerWatch.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

namespace qv {

struct SelectionOwnerWatch::Connection {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = XCB_NONE;
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

SelectionOwnerWatch::SelectionOwnerWatch(QObject* parent)
    : QObject(parent)
{
}

SelectionOwnerWatch::~SelectionOwnerWatch() = default;

bool SelectionOwnerWatch::open(const QByteArray& displayName, int screen)
{
    d.reset();
    m_screen = -1;
    auto c = std::make_unique<Connection>();
    int defaultScreen = 0;
    c->connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &defaultScreen);
    if (xcb_connection_has_error(c->connection))
        return false;
    if (screen < 0)
        screen = defaultScreen;
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(c->connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i)
        xcb_screen_next(&roots);
    if (roots.rem <= 0)
        return false;
    c->root = roots.data->root;
    d = std::move(c);
    m_screen = screen;
    return true;
}

bool SelectionOwnerWatch::setSelection(const QByteArray& name)
{
    if (!d)
        return false;
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        d->connection, xcb_intern_atom(d->connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    d->selection = atom->atom;
    std::free(atom);
    return true;
}

bool SelectionOwnerWatch::listen(uint32_t eventMask)
{
    if (!d || d->selection == XCB_NONE)
        return false;
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(d->connection, &xcb_xfixes_id);
    if (!fixes || !fixes->present)
        return false;
    xcb_xfixes_query_version_reply_t* version = xcb_xfixes_query_version_reply(
        d->connection, xcb_xfixes_query_version(d->connection, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
        nullptr);
    if (!version)
        return false;
    std::free(version);
    xcb_xfixes_select_selection_input(d->connection, d->root, d->selection, eventMask);
    // Once the server has the request: a failure shows as an error on the connection.
    xcb_get_input_focus_reply_t* sync
        = xcb_get_input_focus_reply(d->connection, xcb_get_input_focus(d->connection), nullptr);
    std::free(sync);
    if (xcb_connection_has_error(d->connection))
        return false;
    d->fixesEventBase = fixes->first_event;
    d->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(d->connection), QSocketNotifier::Read);
    connect(d->notifier.get(), &QSocketNotifier::activated, this, &SelectionOwnerWatch::readEvents);
    return true;
}

bool SelectionOwnerWatch::isOwned()
{
    if (!d || d->selection == XCB_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        d->connection, xcb_get_selection_owner(d->connection, d->selection), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return owned;
}

void SelectionOwnerWatch::readEvents()
{
    if (!d || !d->notifier)
        return;
    QList<bool> owned;
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        if ((event->response_type & 0x7f) == d->fixesEventBase + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
            // The owner is none once it let go, closed its window or went away.
            if (notify->selection == d->selection)
                owned.append(notify->owner != XCB_NONE);
        }
        std::free(event);
    }
    if (!owned.isEmpty())
        Q_EMIT ownerChanges(owned);
    if (d && d->notifier && xcb_connection_has_error(d->connection)) {
        // Called from the notifier's own signal: it may not be deleted here and now.
        d->notifier->setEnabled(false);
        d->notifier.release()->deleteLater();
        Q_EMIT lost();
    }
}

} // namespace qv
