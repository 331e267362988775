#pragma once

#include "platform/desktop/DBusMenuExporter.h"
#include "platform/desktop/DBusObject.h"

#include <QDBusServiceWatcher>
#include <QIcon>

namespace qv {

// A tray icon as a StatusNotifierItem, which waybar, Plasma's panel and GNOME's AppIndicator
// extension show, with its menu as com.canonical.dbusmenu. The item says it is a menu, so a
// click of either button opens the menu in the host, as a menu of the panel's. It registers
// with the desktop's StatusNotifierWatcher once it has an icon, and again whenever a watcher
// starts.
class StatusNotifierItem : public DBusObject {
    Q_OBJECT
public:
    static const QString itemPath;
    static const QString menuPath;

    explicit StatusNotifierItem(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // A StatusNotifierWatcher runs on the bus now.
    static bool hostRuns(const QDBusConnection& bus = QDBusConnection::sessionBus());

    void setIcon(const QIcon& icon);
    void setToolTip(const QString& text);

    // The bus name the item goes by.
    QString serviceName() const { return m_service; }
    DBusMenuExporter& menu() { return m_menu; }

Q_SIGNALS:
    // A host that reads no menu asks for one (swaybar before sway 1.10).
    void menuRequested();

protected:
    QVariantMap properties() const override;
    std::optional<QDBusMessage> call(const QDBusMessage& message) override;

private:
    void registerWithWatcher();

    DBusMenuExporter m_menu;
    QDBusServiceWatcher m_watcher;
    QString m_service;
    QVariant m_pixmaps; // the icon as the item's a(iiay)
    QString m_toolTip;
    bool m_shown = false;
};

} // namespace qv
