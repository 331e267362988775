#pragma once

#include "app/tray/StatusIconModel.h"
#include "jobs/JobCenterServices.h"

#include <QColor>
#include <QMenu>
#include <QObject>

#include <algorithm>
#include <functional>
#include <memory>

namespace qv {

class JobCenter;
class MenuActions;
class SettingsStore;
class StatusNotifierItem;
class StatusTray;
class X11TrayWatcher;

// The tray icon and its menu: the icon shows idle, paused or the progress of the running
// jobs; the menu is filled afresh each time it opens. On Wayland the icon is a
// StatusNotifierItem of our own with its menu over D-Bus. On X11 it is one where the watcher
// says a host shows items; where the watcher does not answer, says none does or refuses the
// item, and an XEmbed tray runs, it is Qt's icon docked there, which also takes dropped files;
// where only a watcher runs, the item waits for whichever comes first. With no tray at all,
// Qt's icon waits: an XEmbed tray that starts docks it, and a watcher that starts while no
// XEmbed tray runs takes the icon as an item. A host that comes later finds the icon in the
// XEmbed tray still: it stays where it shows. A host that quits while the icon is its item
// leaves the icon to an XEmbed tray that runs; with none, the item waits for either, as at a
// start without a tray.
class StatusItemController : public QObject, public StatusIndicator {
    Q_OBJECT
public:
    // Makes the tray the controller drives; the default one is the desktop's.
    using TrayFactory = std::function<std::unique_ptr<StatusTray>(QMenu* menu)>;
    // Makes the StatusNotifierItem the desktop's tray is asked through, on the session bus
    // unless set.
    using ItemFactory = std::function<std::unique_ptr<StatusNotifierItem>()>;

    // How long the watcher has to say whether a host shows items; the icon waits no longer.
    static constexpr int hostWaitMs = 2000;
    // How long the start-up waits for that answer before going on and taking it later.
    static constexpr int quickHostWaitMs = 100;

    StatusItemController(JobCenter& jobs, SettingsStore& store, MenuActions& actions,
                         TrayFactory trayFactory = {}, QObject* parent = nullptr);
    ~StatusItemController() override;

    // Over the shared job centre, settings and menu commands.
    static StatusItemController& shared();

    // Puts the icon in the tray, at once or once the watcher answered; does nothing the second
    // time. Without a tray on the desktop the application keeps running; the icon appears if a
    // tray starts later.
    void setUp();
    bool isSetUp() const { return m_tray != nullptr; }
    void setItemFactory(ItemFactory factory) { m_itemFactory = std::move(factory); }
    // The tray the icon is in; null until one is chosen.
    StatusTray* tray() const { return m_tray.get(); }

    // Draws the icon again from the active jobs and the pause setting; cheap when nothing
    // changed.
    void updateIcon() override;

    // Empties the menu and fills it from the current state.
    void rebuildStatusMenu();

    QMenu& menu() { return m_menu; }
    const StatusIconModel& iconModel() const { return m_iconModel; }
    // The colour the icon is drawn in; taken from the desktop when not set.
    void setForeground(const QColor& colour) { m_foreground = colour; }

    // How far the open tray menu reaches down from its bar, whether the host shows it or we
    // do; 0 while it is closed.
    double menuRoom() const { return std::max(m_hostMenuRoom, m_ownMenuRoom); }

Q_SIGNALS:
    void menuRoomChanged(double room);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setMenuRoom(double& road, double room);
    // What the watcher said: whether one runs, and whether it says a host shows items.
    void chooseTray(bool watcherRuns, bool hostShows);
    void useStatusNotifierTray(std::unique_ptr<StatusNotifierItem> item);
    // waiting: an item kept to learn of a watcher that starts while the icon is in no tray.
    void useSystemTray(std::unique_ptr<StatusNotifierItem> waiting = {});
    void askStartedWatcher();
    void moveToWatcher(bool hostShows);
    void useTray(std::unique_ptr<StatusTray> tray);
    // Where the item shows in no host and an XEmbed tray runs, the icon goes there.
    void leaveHostlessItem();
    // The item shows in no host now: a host that registers, or an XEmbed tray that starts,
    // shows it.
    void waitForXEmbedTray();
    void hostGone();

    JobCenter& m_jobs;
    SettingsStore& m_store;
    MenuActions& m_actions;
    TrayFactory m_trayFactory;
    ItemFactory m_itemFactory;
    QMenu m_menu;
    std::unique_ptr<StatusTray> m_tray;
    // The item through which the watcher is asked, while it is.
    std::unique_ptr<StatusNotifierItem> m_asking;
    // While the item waits for a host, or Qt's icon for a tray: an XEmbed tray may come.
    std::unique_ptr<X11TrayWatcher> m_trayWatcher;
    // While Qt's icon is up: a watcher may come.
    std::unique_ptr<StatusNotifierItem> m_waiting;
    StatusIconModel m_iconModel;
    QColor m_foreground;
    double m_hostMenuRoom = 0;
    double m_ownMenuRoom = 0;
};

} // namespace qv
