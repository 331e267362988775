#include "platform/x11/X11EmbedTrayScope.h"

#include <QGuiApplication>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformtheme.h>

namespace qv {

X11EmbedTrayScope::X11EmbedTrayScope()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // The theme is asked for a tray icon of its own only as the icon is made; a plain theme
    // offers none, and Qt then docks its icon window in the tray that holds the selection.
    m_theme = QGuiApplicationPrivate::platform_theme;
    m_plain = std::make_unique<QPlatformTheme>();
    QGuiApplicationPrivate::platform_theme = m_plain.get();
}

X11EmbedTrayScope::~X11EmbedTrayScope()
{
    if (m_plain)
        QGuiApplicationPrivate::platform_theme = m_theme;
}

} // namespace qv
