#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QPointer>
#include <QString>

class QAction;
class QMenu;

namespace qv {

// A QMenu as a tray host reads it: com.canonical.dbusmenu at a path of a bus connection
// (waybar's and GNOME's AppIndicator through libdbusmenu, Plasma through its own reader).
// The menu fills itself when it is about to show: AboutToShow emits the menu's aboutToShow.
// libdbusmenu asks that for submenus only and shows the top level as it last read it, so the
// menu is filled at once and again whenever fill() is called. Items keep their ids from one
// filling to the next wherever they stand, so a host that shows the menu while it is filled
// afresh sees only what changed.
class DBusMenuExporter : public QDBusVirtualObject {
    Q_OBJECT
public:
    DBusMenuExporter(QMenu* menu, QDBusConnection bus, QString path, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // Registered at the path; false when the bus refused it.
    bool isRegistered() const { return m_registered; }
    QString path() const { return m_path; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // Fills the menu afresh, reads it and tells hosts when it changed.
    void fill() { fill(0); }
    // Reads the menu again and tells hosts when it changed.
    void refresh();

private:
    struct Item;
    void collect(QMenu* menu, const QString& key, int parentId);
    QVariantMap properties(QAction* action, bool submenu) const;
    QVariant layout(int id, int depth, const QStringList& names) const;
    QVariantMap filtered(const QVariantMap& all, const QStringList& names) const;
    int idFor(const QString& key);
    void fill(int id);
    void event(int id, const QString& type);

    QPointer<QMenu> m_menu;
    QDBusConnection m_bus;
    QString m_path;
    bool m_registered = false;
    uint m_revision = 1;
    // Every item read last, by id; 0 is the menu itself.
    QHash<int, Item> m_items;
    // An item's place ("2/0": the first entry of the third entry's submenu) keeps its id.
    QHash<QString, int> m_ids;
    int m_nextId = 1;
};

} // namespace qv
