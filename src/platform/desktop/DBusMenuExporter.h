#pragma once

#include "platform/desktop/DBusObject.h"
#include "platform/desktop/TrayMenuEntry.h"

#include <QHash>
#include <QSet>

namespace qv {

// A menu as tray hosts read it: com.canonical.dbusmenu at a path of a bus connection (waybar
// through libdbusmenu, GNOME's AppIndicator extension, Plasma's own reader). An entry keeps its
// id while its key path and its kind stay, so a host that shows the menu while it changes sees
// only what changed: LayoutUpdated for each menu whose entries came or went, ItemsPropertiesUpdated
// when a kept entry's text, toggle or state changed (GNOME's host reads the properties of kept
// entries from nothing else).
class DBusMenuExporter : public DBusObject {
    Q_OBJECT
public:
    DBusMenuExporter(QDBusConnection bus, QString path, QObject* parent = nullptr);

    // The menu's entries now; tells hosts what changed since the last.
    void setEntries(const QList<TrayMenuEntry>& entries);

    uint revision() const { return m_revision; }

    // The key paths of the menu and submenus a host shows now, by its "opened" and "closed"
    // events, the menu also from its AboutToShow; a click closes them all.
    QList<QStringList> openMenus() const;

Q_SIGNALS:
    // A host is about to show the menu (an empty key path) or a submenu: a receiver connected
    // directly calls setEntries before the host gets its answer.
    void aboutToShow(const QStringList& keyPath);
    // Sent after the host has its answer: the command may quit or open a modal window.
    void activated(const QStringList& keyPath);
    void closed(const QStringList& keyPath);
    void openMenusChanged();

protected:
    QVariantMap properties() const override;
    std::optional<QDBusMessage> call(const QDBusMessage& message) override;

private:
    struct Item {
        QStringList keyPath;
        QVariantMap properties;
        QList<int> children;
    };
    void collect(const QList<TrayMenuEntry>& entries, const QStringList& parentPath, int parentId);
    QVariant layout(int id, int depth, const QStringList& names) const;
    void event(int id, const QString& type);
    int idFor(const QString& key);

    uint m_revision = 1;
    // Every entry, by id; 0 is the menu itself.
    QHash<int, Item> m_items;
    QHash<QString, int> m_ids;
    int m_nextId = 1;
    // Changes answered since the last AboutToShow's answer.
    bool m_changed = false;
    QSet<int> m_open;
};

} // namespace qv
