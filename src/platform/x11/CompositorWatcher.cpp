#include "platform/x11/CompositorWatcher.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <X11/Xlib.h>

namespace qv {

struct CompositorWatcher::Connection {
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

CompositorWatcher::CompositorWatcher(QObject* parent)
    : QObject(parent)
{
}

CompositorWatcher::~CompositorWatcher() = default;

bool CompositorWatcher::watch(const QByteArray& displayName, int screen)
{
    d.reset();
    auto c = std::make_unique<Connection>();
    int defaultScreen = 0;
    c->connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &defaultScreen);
    if (xcb_connection_has_error(c->connection)) {
        setComposited(false);
        return false;
    }
    if (screen < 0)
        screen = defaultScreen;
    xcb_screen_iterator_t roots = xcb_setup_roots_iterator(xcb_get_setup(c->connection));
    for (int i = 0; i < screen && roots.rem > 0; ++i)
        xcb_screen_next(&roots);
    if (roots.rem <= 0) {
        setComposited(false);
        return false;
    }
    const xcb_window_t root = roots.data->root;

    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        c->connection, xcb_intern_atom(c->connection, 0, uint16_t(name.size()), name.constData()), nullptr);
    if (!atom) {
        setComposited(false);
        return false;
    }
    c->selection = atom->atom;
    free(atom);

    // Without XFixes the answer below is the last word.
    const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(c->connection, &xcb_xfixes_id);
    if (fixes && fixes->present) {
        xcb_xfixes_query_version_reply_t* version = xcb_xfixes_query_version_reply(
            c->connection, xcb_xfixes_query_version(c->connection, XCB_XFIXES_MAJOR_VERSION,
                                                    XCB_XFIXES_MINOR_VERSION), nullptr);
        if (version) {
            c->fixesEventBase = fixes->first_event;
            // Selected before asking for the owner, so no change in between goes unseen.
            xcb_xfixes_select_selection_input(c->connection, root, c->selection,
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER
                                                  | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY
                                                  | XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
            free(version);
        }
    }
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        c->connection, xcb_get_selection_owner(c->connection, c->selection), nullptr);
    const bool composited = owner && owner->owner != XCB_NONE;
    free(owner);

    if (c->fixesEventBase != 0) {
        c->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(c->connection),
                                                        QSocketNotifier::Read);
        connect(c->notifier.get(), &QSocketNotifier::activated, this, &CompositorWatcher::readEvents);
    }
    d = std::move(c);
    setComposited(composited);
    // The round trips above may have queued events the notifier will not announce.
    readEvents();
    return true;
}

void CompositorWatcher::readEvents()
{
    if (!d || !d->notifier)
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(d->connection)) {
        if ((event->response_type & 0x7f) == d->fixesEventBase + XCB_XFIXES_SELECTION_NOTIFY) {
            const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
            // The owner is none once it let go, closed its window or went away.
            if (notify->selection == d->selection)
                setComposited(notify->owner != XCB_NONE);
        }
        free(event);
    }
    if (xcb_connection_has_error(d->connection)) {
        // The server went away: what was last seen stays.
        d->notifier.reset();
    }
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
        // Qt's own display and default screen, which may come from -display rather than $DISPLAY.
        QByteArray name;
        int screen = -1;
        if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) {
            if (Display* display = x11->display()) {
                name = DisplayString(display);
                screen = DefaultScreen(display);
            }
        }
        w->watch(name, screen);
        return w;
    }();
    return *watcher;
}

} // namespace qv
