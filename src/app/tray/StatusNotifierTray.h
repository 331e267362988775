#pragma once

#include "app/tray/StatusTray.h"
#include "platform/desktop/StatusNotifierItem.h"

#include <QObject>
#include <QTimer>

#include <memory>

class QAction;
class QMenu;

namespace qv {

// The tray icon as a StatusNotifierItem with the tray menu in the host. The menu is read into
// the item whenever a host is about to show it or part of it, and a moment after the state
// it shows changed (the icon or the tool tip with it), so a host that shows it keeps it live.
// Entries whose objectName is set keep their place in the host by that name (a job's line, a
// recent result); the others by their place among their siblings.
class StatusNotifierTray : public QObject, public StatusTray {
    Q_OBJECT
public:
    explicit StatusNotifierTray(QMenu* menu, std::unique_ptr<StatusNotifierItem> item = {},
                                QObject* parent = nullptr);
    ~StatusNotifierTray() override;

    void setIcon(const QIcon& icon) override;
    void setToolTip(const QString& text) override;
    void menuChanged() override;

    StatusNotifierItem& item() { return *m_item; }

    // Fills the menu afresh and hands it to the item.
    void fill();

    // How far the menus the host shows now reach down from its bar, as our own menus would
    // draw them; 0 while none is open.
    double menuRoom() const { return m_menuRoom; }

Q_SIGNALS:
    void menuRoomChanged(double room);

private:
    QAction* actionAt(const QStringList& keyPath) const;
    void showOwnMenu();
    void openMenusChanged();
    void setMenuRoom(double room);

    QMenu* m_menu;
    std::unique_ptr<StatusNotifierItem> m_item;
    // At most this often while the state changes.
    QTimer m_menuRefresh;
    double m_menuRoom = 0;
    // A host that ends without closing its menu does not keep the room for ever.
    QTimer m_menuRoomLimit;
};

} // namespace qv
