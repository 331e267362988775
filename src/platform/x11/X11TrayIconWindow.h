#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>
#include <QUrl>
#include <QtGui/qwindowdefs.h>

#include <cstdint>
#include <functional>

namespace qv {

// Makes the icon window docked in an XEmbed tray a drop target that drag sources find and
// reach, beside Qt's own handling of drops on it.
// - GTK's sources drop on the deepest window carrying WM_STATE: ours gets one, as a docked
//   window has no window manager to give it one.
// - Under a window manager the tray's own window carries WM_STATE, and GTK's sources stop
//   there. Where that window takes no drops itself, it is made to hand them on to ours
//   (XdndProxy), and the drags that come that way are answered here: the files dropped on
//   the icon go to filesDropped, and the answers name both windows sources may expect.
// - Trays that take drags and forward them to the icon under the pointer name their own
//   window in the message; Qt is told ours instead.
class X11TrayIconWindow : public QAbstractNativeEventFilter {
public:
    struct Handlers {
        std::function<void(bool)> hovered;                       // each move answered: files over the icon, or not
        std::function<void(const QList<QUrl>&)> filesDropped;    // local files only
    };

    // Does nothing without an X11 display.
    X11TrayIconWindow(WId window, Handlers handlers);
    ~X11TrayIconWindow() override;
    X11TrayIconWindow(const X11TrayIconWindow&) = delete;
    X11TrayIconWindow& operator=(const X11TrayIconWindow&) = delete;

    // An XEmbed tray holds the tray selection of Qt's default screen now.
    static bool trayRuns();

    // The tray's window that now hands drops on to ours; 0 when none does.
    std::uint32_t proxiedHost() const { return m_host; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    enum Atom { enter, position, leave, drop, status, finished, aware, proxy, selection, uriList, actionCopy,
                typeList, wmState, property, atomCount };

    // Our window's ancestors up to the root's child, nearest first.
    QList<std::uint32_t> ancestors() const;
    void proxyThroughHost();
    void withdrawProxy();
    bool handleProxied(const void* message);
    void answer(std::uint32_t type, std::uint32_t source, std::uint32_t flags, std::uint32_t action);
    bool overIcon(int rootX, int rootY) const;
    void readDroppedFiles();

    void* m_connection = nullptr;
    std::uint32_t m_window = 0;
    std::uint32_t m_atoms[atomCount] = {};
    Handlers m_handlers;
    std::uint32_t m_host = 0;
    // The proxied drag under way.
    std::uint32_t m_source = 0;
    bool m_offersFiles = false;
    bool m_accepted = false;
    bool m_awaitingData = false;
};

} // namespace qv
