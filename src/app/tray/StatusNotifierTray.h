#pragma once

#include "app/tray/DBusMenuExporter.h"
#include "app/tray/StatusTray.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QTimer>

class QMenu;

namespace qv {

// The tray icon as a StatusNotifierItem, which waybar, Plasma's panel and GNOME's AppIndicator
// extension show, with its menu as com.canonical.dbusmenu. The item says it is a menu, so a
// click of either button opens the menu in the host, as a menu of the panel's. It registers
// with the desktop's StatusNotifierWatcher, again whenever one starts.
class StatusNotifierTray : public QDBusVirtualObject, public StatusTray {
    Q_OBJECT
public:
    static const QString itemPath;
    static const QString menuPath;

    explicit StatusNotifierTray(QMenu* menu, QDBusConnection bus = QDBusConnection::sessionBus(),
                                QObject* parent = nullptr);
    ~StatusNotifierTray() override;

    // A StatusNotifierWatcher runs on the bus now.
    static bool hostRuns(const QDBusConnection& bus = QDBusConnection::sessionBus());

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;

    // The bus name the item goes by.
    QString serviceName() const { return m_service; }
    DBusMenuExporter& menuExporter() { return m_menuExporter; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    void registerWithWatcher();
    QVariant property(const QString& name) const;
    void emitSignal(const QString& name, const QList<QVariant>& arguments = {});
    void showOwnMenu();

    QDBusConnection m_bus;
    QMenu* m_menu;
    DBusMenuExporter m_menuExporter;
    QDBusServiceWatcher m_watcher;
    QString m_service;
    QIcon m_icon;
    QString m_toolTip;
    bool m_registered = false;
    // The menu is filled afresh a moment after the state it shows changed (the icon or the
    // tool tip with it), at most this often.
    QTimer m_menuRefresh;
};

} // namespace qv
