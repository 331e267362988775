#include "app/tray/StatusNotifierTray.h"

#include <QActionGroup>
#include <QCursor>
#include <QMenu>

#include <algorithm>

namespace qv {

namespace {

// The longest a menu the host shows keeps its room without a word from the host.
constexpr int menuRoomSeconds = 60;

// Each action's key among its siblings: its objectName, else its place; a name taken already
// goes with its place too.
QStringList entryKeys(const QMenu& menu)
{
    QStringList keys;
    const QList<QAction*> actions = menu.actions();
    for (int i = 0; i < actions.size(); ++i) {
        QString key = actions.at(i)->objectName();
        if (key.isEmpty())
            key = QString::number(i);
        else if (keys.contains(key))
            key += QLatin1Char('#') + QString::number(i);
        keys.append(key);
    }
    return keys;
}

QList<TrayMenuEntry> menuEntries(const QMenu& menu)
{
    QList<TrayMenuEntry> entries;
    const QList<QAction*> actions = menu.actions();
    const QStringList keys = entryKeys(menu);
    for (int i = 0; i < actions.size(); ++i) {
        const QAction* action = actions.at(i);
        TrayMenuEntry entry;
        entry.key = keys.at(i);
        entry.text = action->text();
        entry.icon = action->icon();
        entry.separator = action->isSeparator();
        entry.enabled = action->isEnabled();
        entry.visible = action->isVisible();
        if (action->isCheckable()) {
            entry.toggle = action->actionGroup() && action->actionGroup()->isExclusive() ? TrayMenuEntry::Toggle::radio
                                                                                         : TrayMenuEntry::Toggle::checkmark;
            entry.checked = action->isChecked();
        }
        if (const auto* submenu = action->menu<QMenu*>()) {
            entry.submenu = true;
            entry.children = menuEntries(*submenu);
        }
        entries.append(entry);
    }
    return entries;
}

// How tall a host draws the menu, at the least: with its own toolkit, whose rows are taller
// than ours (GTK's by a tenth and more), so our own height alone falls short of its reach.
double hostMenuHeight(const QMenu& menu)
{
    const int line = menu.fontMetrics().height();
    double rows = 0;
    for (const QAction* action : menu.actions()) {
        if (action->isVisible())
            rows += action->isSeparator() ? 10 : line + 10;
    }
    return std::max<double>(menu.sizeHint().height(), rows);
}

} // namespace

StatusNotifierTray::StatusNotifierTray(QMenu* menu, std::unique_ptr<StatusNotifierItem> item, QObject* parent)
    : QObject(parent)
    , m_menu(menu)
    , m_item(item ? std::move(item) : std::make_unique<StatusNotifierItem>())
{
    DBusMenuExporter& exporter = m_item->menu();
    // The whole menu is filled at once, whichever part the host opens: libdbusmenu asks only
    // for submenus and shows the top level as it last read it.
    connect(&exporter, &DBusMenuExporter::aboutToShow, this, &StatusNotifierTray::fill, Qt::DirectConnection);
    connect(&exporter, &DBusMenuExporter::closed, this, [this](const QStringList& keyPath) {
        if (QAction* action = actionAt(keyPath); action && action->menu<QMenu*>())
            Q_EMIT action->menu<QMenu*>()->aboutToHide();
    });
    connect(&exporter, &DBusMenuExporter::activated, this, [this](const QStringList& keyPath) {
        // Found by its key now: the menu may have been filled afresh since the host showed it.
        QAction* action = actionAt(keyPath);
        if (action && !action->menu<QMenu*>() && action->isEnabled())
            action->trigger();
    });
    connect(&exporter, &DBusMenuExporter::openMenusChanged, this, &StatusNotifierTray::openMenusChanged);
    m_menuRoomLimit.setSingleShot(true);
    m_menuRoomLimit.setInterval(menuRoomSeconds * 1000);
    connect(&m_menuRoomLimit, &QTimer::timeout, this, [this] { setMenuRoom(0); });
    connect(m_item.get(), &StatusNotifierItem::menuRequested, this, &StatusNotifierTray::showOwnMenu);
    m_menuRefresh.setSingleShot(true);
    m_menuRefresh.setInterval(250);
    connect(&m_menuRefresh, &QTimer::timeout, this, [this] {
        // Never under the pointer of a menu of ours on screen.
        if (m_menu && !m_menu->isVisible())
            fill();
    });
    // Filled as the event loop starts, before any host's call, which comes through it too: the
    // icon registers without waiting for the entries' icons (the icon theme's first look, the
    // image plugins' first load).
    QMetaObject::invokeMethod(this, &StatusNotifierTray::fill, Qt::QueuedConnection);
}

StatusNotifierTray::~StatusNotifierTray() = default;

void StatusNotifierTray::fill()
{
    if (!m_menu)
        return;
    Q_EMIT m_menu->aboutToShow();
    m_item->menu().setEntries(menuEntries(*m_menu));
}

QAction* StatusNotifierTray::actionAt(const QStringList& keyPath) const
{
    const QMenu* menu = m_menu;
    QAction* found = nullptr;
    for (const QString& key : keyPath) {
        if (!menu)
            return nullptr;
        const int index = entryKeys(*menu).indexOf(key);
        if (index < 0)
            return nullptr;
        found = menu->actions().at(index);
        menu = found->menu<QMenu*>();
    }
    return found;
}

void StatusNotifierTray::openMenusChanged()
{
    // The host's menu hangs from its bar and each submenu from an entry of its parent: their
    // heights together bound how far down they reach.
    double room = 0;
    for (const QStringList& keyPath : m_item->menu().openMenus()) {
        const QMenu* menu = m_menu;
        if (!keyPath.isEmpty()) {
            const QAction* action = actionAt(keyPath);
            menu = action ? action->menu<QMenu*>() : nullptr;
        }
        if (menu)
            room += hostMenuHeight(*menu);
    }
    setMenuRoom(room);
}

void StatusNotifierTray::setMenuRoom(double room)
{
    if (room > 0)
        m_menuRoomLimit.start();
    else
        m_menuRoomLimit.stop();
    if (room == m_menuRoom)
        return;
    m_menuRoom = room;
    Q_EMIT menuRoomChanged(room);
}

void StatusNotifierTray::setIcon(const QIcon& icon)
{
    menuChanged();
    m_item->setIcon(icon);
}

void StatusNotifierTray::setToolTip(const QString& text)
{
    menuChanged();
    m_item->setToolTip(text);
}

void StatusNotifierTray::menuChanged()
{
    if (!m_menuRefresh.isActive())
        m_menuRefresh.start();
}

void StatusNotifierTray::showOwnMenu()
{
    // Only hosts that read no dbusmenu ask for it. On Wayland the menu is then a window of its
    // own, which a tiling compositor lays out as one: better than no menu at all.
    if (m_menu && !m_menu->isVisible())
        m_menu->popup(QCursor::pos());
}

} // namespace qv
