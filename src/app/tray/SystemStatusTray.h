#pragma once

#include "app/tray/StatusTray.h"

#include <QObject>
#include <QSystemTrayIcon>

namespace qv {

// The desktop's tray (StatusNotifierItem or XEmbed). A left click opens the menu too, as the
// menu is the tray's only control.
class SystemStatusTray : public QObject, public StatusTray {
    Q_OBJECT
public:
    explicit SystemStatusTray(QMenu* menu, QObject* parent = nullptr);

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;

private:
    void activated(QSystemTrayIcon::ActivationReason reason);

    QSystemTrayIcon m_icon;
    QMenu* m_menu;
};

} // namespace qv
