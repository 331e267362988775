#include "app/tray/SystemStatusTray.h"

#include <QCursor>
#include <QMenu>

namespace qv {

SystemStatusTray::SystemStatusTray(QMenu* menu, QObject* parent)
    : QObject(parent)
    , m_menu(menu)
{
    m_icon.setContextMenu(menu);
    m_icon.setToolTip(QStringLiteral("Quorvenda"));
    connect(&m_icon, &QSystemTrayIcon::activated, this, &SystemStatusTray::activated);
}

void SystemStatusTray::setIcon(const QIcon& icon)
{
    m_icon.setIcon(icon);
    // Shown with its first icon: an empty tray entry would flash up before.
    if (!m_icon.isVisible())
        m_icon.show();
}

void SystemStatusTray::setToolTip(const QString& text)
{
    m_icon.setToolTip(text);
}

void SystemStatusTray::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::Trigger || m_menu->isVisible())
        return;
    // The menu fills itself in aboutToShow; popup() emits it.
    m_menu->popup(QCursor::pos());
}

} // namespace qv
