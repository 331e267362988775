#pragma once

#include <memory>

class QPlatformTheme;

namespace qv {

// While it lives, a QSystemTrayIcon made is an XEmbed icon window docked in the X11 tray, never
// a StatusNotifierItem: Qt makes the latter wherever a watcher's name is on the bus, whether or
// not a host shows items, and decides so as the icon is made. Outside X11 it changes nothing.
class X11EmbedTrayScope {
public:
    X11EmbedTrayScope();
    ~X11EmbedTrayScope();
    X11EmbedTrayScope(const X11EmbedTrayScope&) = delete;
    X11EmbedTrayScope& operator=(const X11EmbedTrayScope&) = delete;

private:
    QPlatformTheme* m_theme = nullptr;
    std::unique_ptr<QPlatformTheme> m_plain;
};

} // namespace qv
