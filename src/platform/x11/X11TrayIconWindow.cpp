#include "platform/x11/X11TrayIconWindow.h"

#include "platform/x11/X11QtConnection.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>

namespace qv {

namespace {

bool hasProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property)
{
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr);
    const bool present = reply && reply->type != XCB_ATOM_NONE;
    std::free(reply);
    return present;
}

// A tray is a few windows deep at most; a loop in a hostile tree ends here.
constexpr int deepestTray = 16;
constexpr uint32_t xdndVersion = 5;
// What a proxied drag may hand over: a list of file addresses, not a file.
constexpr uint32_t longestUriList = 4 * 1024 * 1024;

} // namespace

bool X11TrayIconWindow::trayRuns()
{
    xcb_connection_t* connection = X11QtConnection::get();
    if (!connection)
        return false;
    const QByteArray name = "_NET_SYSTEM_TRAY_S" + QByteArray::number(X11QtConnection::defaultScreen());
    const xcb_atom_t selection = X11QtConnection::atom(connection, name.constData());
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool owned = reply && reply->owner != XCB_WINDOW_NONE;
    std::free(reply);
    return owned;
}

X11TrayIconWindow::X11TrayIconWindow(WId window, Handlers handlers)
    : m_handlers(std::move(handlers))
{
    xcb_connection_t* connection = X11QtConnection::get();
    if (!connection || !window)
        return;
    m_connection = connection;
    m_window = uint32_t(window);
    const char* names[atomCount] = {"XdndEnter", "XdndPosition", "XdndLeave", "XdndDrop", "XdndStatus",
                                    "XdndFinished", "XdndAware", "XdndProxy", "XdndSelection", "text/uri-list",
                                    "XdndActionCopy", "XdndTypeList", "WM_STATE", "QV_TRAY_DROP"};
    for (int i = 0; i < atomCount; ++i)
        m_atoms[i] = X11QtConnection::atom(connection, names[i]);
    // NormalState and no icon window, as a window manager writes it for the windows it shows.
    const uint32_t state[] = {1, XCB_WINDOW_NONE};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, m_window, m_atoms[wmState], m_atoms[wmState], 32, 2, state);
    proxyThroughHost();
    xcb_flush(connection);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11TrayIconWindow::~X11TrayIconWindow()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    withdrawProxy();
}

QList<uint32_t> X11TrayIconWindow::ancestors() const
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    QList<uint32_t> found;
    xcb_window_t current = m_window;
    for (int depth = 0; depth < deepestTray; ++depth) {
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, current), nullptr);
        if (!tree)
            break;
        const xcb_window_t parent = tree->parent;
        const xcb_window_t root = tree->root;
        std::free(tree);
        if (parent == XCB_WINDOW_NONE || parent == root)
            break;
        found.append(parent);
        current = parent;
    }
    return found;
}

void X11TrayIconWindow::proxyThroughHost()
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    // The tray's window a window manager manages; none when no manager runs (sources then
    // reach ours through its WM_STATE).
    xcb_window_t host = XCB_WINDOW_NONE;
    for (const uint32_t ancestor : ancestors()) {
        if (hasProperty(connection, ancestor, m_atoms[wmState])) {
            host = ancestor;
            break;
        }
    }
    // A tray that takes drops itself keeps them.
    if (host == XCB_WINDOW_NONE || hasProperty(connection, host, m_atoms[aware]))
        return;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, m_window, m_atoms[proxy], XCB_ATOM_WINDOW, 32, 1, &m_window);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, host, m_atoms[proxy], XCB_ATOM_WINDOW, 32, 1, &m_window);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, host, m_atoms[aware], XCB_ATOM_ATOM, 32, 1, &xdndVersion);
    m_host = host;
}

void X11TrayIconWindow::withdrawProxy()
{
    if (!m_host)
        return;
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    xcb_delete_property(connection, m_host, m_atoms[aware]);
    xcb_delete_property(connection, m_host, m_atoms[proxy]);
    xcb_delete_property(connection, m_window, m_atoms[proxy]);
    xcb_flush(connection);
    m_host = 0;
}

bool X11TrayIconWindow::overIcon(int rootX, int rootY) const
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    xcb_get_geometry_reply_t* geometry =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, m_window), nullptr);
    if (!geometry)
        return false;
    const xcb_window_t root = geometry->root;
    const int width = geometry->width;
    const int height = geometry->height;
    std::free(geometry);
    xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, root, m_window, int16_t(rootX), int16_t(rootY)), nullptr);
    if (!at)
        return false;
    const bool inside = at->dst_x >= 0 && at->dst_y >= 0 && at->dst_x < width && at->dst_y < height;
    std::free(at);
    return inside;
}

void X11TrayIconWindow::answer(uint32_t type, uint32_t source, uint32_t flags, uint32_t action)
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    // Sources expect the window they found (the tray's), as the protocol says; old Qt ones the
    // proxy (ours). Each takes the answer meant for it and lets the other pass, but a Qt source
    // reads only the last of the answers waiting for it: the tray's goes last.
    for (const uint32_t target : {m_window, m_host}) {
        xcb_client_message_event_t reply{};
        reply.response_type = XCB_CLIENT_MESSAGE;
        reply.format = 32;
        reply.window = source;
        reply.type = type;
        reply.data.data32[0] = target;
        reply.data.data32[1] = flags;
        if (type == m_atoms[status])
            reply.data.data32[4] = action;
        else
            reply.data.data32[2] = action;
        xcb_send_event(connection, 0, source, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&reply));
    }
    xcb_flush(connection);
}

bool X11TrayIconWindow::handleProxied(const void* message)
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    const auto* event = static_cast<const xcb_client_message_event_t*>(message);
    const uint32_t* data = event->data.data32;
    if (event->type == m_atoms[enter]) {
        m_source = data[0];
        m_accepted = false;
        m_awaitingData = false;
        m_offersFiles = false;
        if (data[1] & 1) {
            xcb_get_property_reply_t* list = xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, m_source, m_atoms[typeList], XCB_ATOM_ATOM, 0, 64), nullptr);
            if (list && list->format == 32) {
                const auto* types = static_cast<const uint32_t*>(xcb_get_property_value(list));
                const int count = xcb_get_property_value_length(list) / 4;
                for (int i = 0; i < count; ++i)
                    m_offersFiles = m_offersFiles || types[i] == m_atoms[uriList];
            }
            std::free(list);
        } else {
            for (int i = 2; i < 5; ++i)
                m_offersFiles = m_offersFiles || data[i] == m_atoms[uriList];
        }
        return true;
    }
    if (data[0] != m_source)
        return true;
    if (event->type == m_atoms[position]) {
        const bool accept = m_offersFiles && overIcon(int(data[2] >> 16), int(data[2] & 0xffff));
        m_accepted = accept;
        // Bit 1: every move is reported, as the icon is a small part of the tray's window.
        answer(m_atoms[status], m_source, (accept ? 1u : 0u) | 2u, accept ? m_atoms[actionCopy] : uint32_t(XCB_ATOM_NONE));
        if (m_handlers.hovered)
            m_handlers.hovered(accept);
    } else if (event->type == m_atoms[leave]) {
        if (m_accepted && m_handlers.hovered)
            m_handlers.hovered(false);
        m_accepted = false;
        m_source = 0;
    } else if (event->type == m_atoms[drop]) {
        if (m_accepted && m_handlers.hovered)
            m_handlers.hovered(false);
        if (!m_accepted) {
            answer(m_atoms[finished], m_source, 0, XCB_ATOM_NONE);
            m_source = 0;
            return true;
        }
        // The list is asked for at the drop's own time: a Qt source refuses CurrentTime.
        m_awaitingData = true;
        xcb_convert_selection(connection, m_window, m_atoms[selection], m_atoms[uriList], m_atoms[property],
                              data[2] ? data[2] : XCB_CURRENT_TIME);
        xcb_flush(connection);
    }
    return true;
}

void X11TrayIconWindow::readDroppedFiles()
{
    auto* connection = static_cast<xcb_connection_t*>(m_connection);
    m_awaitingData = false;
    QList<QUrl> files;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 1, m_window, m_atoms[property], XCB_GET_PROPERTY_TYPE_ANY, 0, longestUriList / 4),
        nullptr);
    // A list sent in parts (INCR) is longer than any drop of files on an icon.
    if (reply && reply->format == 8 && reply->type != XCB_ATOM_NONE) {
        const QByteArray text(static_cast<const char*>(xcb_get_property_value(reply)),
                              xcb_get_property_value_length(reply));
        for (const QByteArray& line : text.split('\n')) {
            const QByteArray trimmed = line.trimmed();
            if (trimmed.isEmpty() || trimmed.startsWith('#'))
                continue;
            const QUrl url = QUrl::fromEncoded(trimmed);
            if (url.isLocalFile())
                files.append(url);
        }
    }
    std::free(reply);
    const uint32_t source = m_source;
    m_source = 0;
    answer(m_atoms[finished], source, files.isEmpty() ? 0 : 1, files.isEmpty() ? uint32_t(XCB_ATOM_NONE) : m_atoms[actionCopy]);
    if (!files.isEmpty() && m_handlers.filesDropped)
        m_handlers.filesDropped(files);
}

bool X11TrayIconWindow::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*)
{
    if (!m_connection || eventType != "xcb_generic_event_t")
        return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    const uint8_t kind = event->response_type & 0x7f;
    if (kind == XCB_REPARENT_NOTIFY) {
        // Docked (again): the tray's window is found anew.
        auto* reparent = reinterpret_cast<xcb_reparent_notify_event_t*>(event);
        if (reparent->window == m_window) {
            withdrawProxy();
            proxyThroughHost();
            xcb_flush(static_cast<xcb_connection_t*>(m_connection));
        }
        return false;
    }
    if (kind == XCB_SELECTION_NOTIFY) {
        auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event);
        if (!m_awaitingData || notify->requestor != m_window || notify->selection != m_atoms[selection])
            return false;
        if (notify->property == XCB_ATOM_NONE) {
            m_awaitingData = false;
            answer(m_atoms[finished], m_source, 0, XCB_ATOM_NONE);
            m_source = 0;
            return true;
        }
        readDroppedFiles();
        return true;
    }
    if (kind != XCB_CLIENT_MESSAGE)
        return false;
    auto* client = reinterpret_cast<xcb_client_message_event_t*>(event);
    if (client->format != 32)
        return false;
    const uint32_t type = client->type;
    if (type != m_atoms[enter] && type != m_atoms[position] && type != m_atoms[leave] && type != m_atoms[drop])
        return false;
    // Sent on by way of the tray's window: answered here.
    if (m_host && client->window == m_host)
        return handleProxied(client);
    if (client->window == m_window)
        return false;
    // Drags over our own windows (the wheel) are Qt's, and cost no round trip here.
    for (const QWindow* window : QGuiApplication::allWindows()) {
        if (window->handle() && uint32_t(window->winId()) == client->window)
            return false;
    }
    // A tray that forwards a drag to the icon under the pointer names its own window in it.
    if (ancestors().contains(client->window))
        client->window = m_window;
    return false;
}

} // namespace qv
