#include "app/tray/StatusItemController.h"

#include "app/tray/MenuActions.h"
#include "app/tray/StatusIcon.h"
#include "app/tray/StatusMenu.h"
#include "app/tray/StatusMenuModel.h"
#include "app/tray/StatusNotifierTray.h"
#include "app/tray/SystemStatusTray.h"
#include "jobs/JobCenter.h"
#include "model/Log.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/SettingsReaders.h"
#include "platform/settings/SettingsStore.h"
#include "platform/x11/X11TrayIconWindow.h"
#include "platform/x11/X11TrayWatcher.h"
#include "wheel/WheelGeometry.h"
#include "wheel/ui/WheelController.h"

#include <QGuiApplication>

namespace qv {

StatusItemController::StatusItemController(JobCenter& jobs, SettingsStore& store,
                                           MenuActions& actions, TrayFactory trayFactory,
                                           QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
    , m_store(store)
    , m_actions(actions)
    , m_trayFactory(std::move(trayFactory))
{
    connect(&m_menu, &QMenu::aboutToShow, this, &StatusItemController::rebuildStatusMenu);
    // aboutToShow also comes when the menu is only read for a host: its showing is told by
    // its window.
    m_menu.installEventFilter(this);
    // What the menu shows may change while the icon stays the same (Clear Menu, a job queued
    // behind another, a pause while jobs run).
    for (auto signal : {&JobCenter::recentChanged, &JobCenter::jobsChanged}) {
        connect(&m_jobs, signal, this, [this] {
            if (m_tray)
                m_tray->menuChanged();
        });
    }
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (m_tray && key == SettingsKey::paused)
            m_tray->menuChanged();
    });
}

StatusItemController::~StatusItemController() = default;

StatusItemController& StatusItemController::shared()
{
    static StatusItemController* controller = [] {
        MenuActions& actions = MenuActions::shared();
        auto* made = new StatusItemController(JobCenter::shared(), SettingsStore::shared(), actions);
        actions.setStatusIndicator(made);
        return made;
    }();
    return *controller;
}

void StatusItemController::setUp()
{
    if (m_tray || m_asking)
        return;
    if (!m_foreground.isValid())
        m_foreground = trayForegroundColor();
    if (m_trayFactory) {
        useTray(m_trayFactory(&m_menu));
        return;
    }
    auto item = m_itemFactory ? m_itemFactory() : std::make_unique<StatusNotifierItem>();
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
        // The only tray there; where no host runs yet, one may come (a panel started after us).
        useStatusNotifierTray(std::move(item));
        return;
    }
    // A watcher's name on the bus is no host on screen: a session daemon may leave one behind.
    // Most watchers answer at once, and the icon is then up before the rest of the start-up
    // takes the event loop; a slow one is waited for without holding the start.
    if (const std::optional<StatusNotifierItem::HostAnswer> answer = item->hostAnswerNow(quickHostWaitMs)) {
        using Answer = StatusNotifierItem::HostAnswer;
        m_asking = std::move(item);
        chooseTray(*answer != Answer::noWatcher, *answer == Answer::hostShows);
        return;
    }
    m_asking = std::move(item);
    m_asking->askForHost(
        [this](StatusNotifierItem::HostAnswer answer) {
            using Answer = StatusNotifierItem::HostAnswer;
            if (answer == Answer::noAnswer)
                qCInfo(appLog, "The tray's StatusNotifierWatcher did not answer within %d ms", hostWaitMs);
            // Chosen once the asking item's answer is done with: the choice may drop the item.
            QMetaObject::invokeMethod(this, [this, answer] {
                chooseTray(answer != Answer::noWatcher, answer == Answer::hostShows);
            }, Qt::QueuedConnection);
        },
        hostWaitMs);
}

void StatusItemController::chooseTray(bool watcherRuns, bool hostShows)
{
    std::unique_ptr<StatusNotifierItem> item = std::move(m_asking);
    if (m_tray || !item)
        return;
    if (hostShows) {
        useStatusNotifierTray(std::move(item));
    } else if (watcherRuns && !X11TrayIconWindow::trayRuns()) {
        // No tray shows the icon now: a host may register with the watcher, or an XEmbed tray
        // start (a panel started after us), whichever comes first.
        qCInfo(appLog, "No tray host shows items yet; the icon waits for one");
        useStatusNotifierTray(std::move(item));
        waitForXEmbedTray();
    } else {
        if (watcherRuns)
            qCInfo(appLog, "No StatusNotifier host shows items: the icon goes in the X11 tray");
        useSystemTray(std::move(item));
    }
}

void StatusItemController::waitForXEmbedTray()
{
    m_trayWatcher = std::make_unique<X11TrayWatcher>();
    connect(m_trayWatcher.get(), &X11TrayWatcher::trayStarted, this, [this] {
        auto* tray = dynamic_cast<StatusNotifierTray*>(m_tray.get());
        if (!tray)
            return;
        tray->item().askForHost(
            [this](StatusNotifierItem::HostAnswer answer) {
                if (answer != StatusNotifierItem::HostAnswer::hostShows)
                    QMetaObject::invokeMethod(this, &StatusItemController::leaveHostlessItem, Qt::QueuedConnection);
            },
            hostWaitMs);
    });
}

void StatusItemController::useStatusNotifierTray(std::unique_ptr<StatusNotifierItem> item)
{
    auto tray = std::make_unique<StatusNotifierTray>(&m_menu, std::move(item));
    connect(tray.get(), &StatusNotifierTray::menuRoomChanged, this,
            [this](double room) { setMenuRoom(m_hostMenuRoom, room); });
    // Queued: the item that tells it goes with the tray.
    connect(&tray->item(), &StatusNotifierItem::refused, this, &StatusItemController::leaveHostlessItem,
            Qt::QueuedConnection);
    connect(&tray->item(), &StatusNotifierItem::hostGone, this, &StatusItemController::hostGone,
            Qt::QueuedConnection);
    useTray(std::move(tray));
}

void StatusItemController::hostGone()
{
    if (!dynamic_cast<StatusNotifierTray*>(m_tray.get()))
        return;
    setMenuRoom(m_hostMenuRoom, 0);
    if (X11TrayIconWindow::trayRuns()) {
        qCInfo(appLog, "The tray host quit");
        leaveHostlessItem();
        return;
    }
    // The item registers again with a watcher that comes back.
    if (!m_trayWatcher && QGuiApplication::platformName() != QLatin1String("wayland")) {
        qCInfo(appLog, "The tray host quit; the icon waits for a tray");
        waitForXEmbedTray();
    }
}

void StatusItemController::leaveHostlessItem()
{
    if (!dynamic_cast<StatusNotifierTray*>(m_tray.get()) || !X11TrayIconWindow::trayRuns())
        return;
    qCInfo(appLog, "The icon goes in the X11 tray instead");
    m_trayWatcher.reset();
    // The item goes first: its bus name is the one the next item takes.
    m_tray.reset();
    setMenuRoom(m_hostMenuRoom, 0);
    // A fresh item, never shown, learns of a watcher that starts once the XEmbed tray is gone.
    useSystemTray(m_itemFactory ? m_itemFactory() : std::make_unique<StatusNotifierItem>());
}

void StatusItemController::useSystemTray(std::unique_ptr<StatusNotifierItem> waiting)
{
    m_waiting.reset();
    if (!X11TrayIconWindow::trayRuns())
        qCInfo(appLog, "No system tray is available; Quorvenda runs without its icon");
    // Files dropped on the docked icon open the Convert wheel beside it, paused or not.
    auto dropped = [](const QList<QUrl>& files, QPointF anchor) {
        const long long count = files.size();
        WheelController::shared().showWheel(files, WheelKind::convert, anchor, [count] {
            qCInfo(appLog, "Opened the convert wheel in click mode for %lld file(s) from the tray", count);
        });
    };
    auto radius = [] { return WheelGeometry::diameterFor(currentWheelSize()) / 2; };
    useTray(std::make_unique<SystemStatusTray>(&m_menu, dropped, radius));
    // Qt docks its icon in an XEmbed tray that starts later by itself.
    m_trayWatcher = std::make_unique<X11TrayWatcher>();
    connect(m_trayWatcher.get(), &X11TrayWatcher::trayStarted, this,
            [] { qCInfo(appLog, "A tray started: the icon goes there"); });
    m_waiting = std::move(waiting);
    if (m_waiting) {
        connect(m_waiting.get(), &StatusNotifierItem::watcherStarted, this, &StatusItemController::askStartedWatcher);
        // A watcher that took its name since the first question (GNOME's extension comes up
        // beside the shell) told no one: asked once more now.
        askStartedWatcher();
    }
}

void StatusItemController::askStartedWatcher()
{
    if (X11TrayIconWindow::trayRuns())
        return;
    m_waiting->askForHost(
        [this](StatusNotifierItem::HostAnswer answer) {
            using Answer = StatusNotifierItem::HostAnswer;
            if (answer == Answer::noWatcher)
                return;
            // Moved once the asking item's answer is done with: the move takes the item.
            QMetaObject::invokeMethod(this, [this, answer] { moveToWatcher(answer == Answer::hostShows); },
                                      Qt::QueuedConnection);
        },
        hostWaitMs);
}

void StatusItemController::moveToWatcher(bool hostShows)
{
    // An XEmbed tray that started meanwhile shows the icon already.
    if (!m_waiting || !dynamic_cast<SystemStatusTray*>(m_tray.get()) || X11TrayIconWindow::trayRuns())
        return;
    if (hostShows)
        qCInfo(appLog, "A tray started: the icon goes there");
    m_trayWatcher.reset();
    m_tray.reset();
    m_asking = std::move(m_waiting);
    chooseTray(true, hostShows);
}

void StatusItemController::useTray(std::unique_ptr<StatusTray> tray)
{
    m_tray = std::move(tray);
    m_iconModel.forget();
    updateIcon();
}

bool StatusItemController::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &m_menu && (event->type() == QEvent::Show || event->type() == QEvent::Hide))
        setMenuRoom(m_ownMenuRoom, event->type() == QEvent::Show ? m_menu.height() : 0);
    return QObject::eventFilter(watched, event);
}

void StatusItemController::setMenuRoom(double& road, double room)
{
    const double before = menuRoom();
    road = room;
    if (menuRoom() != before)
        Q_EMIT menuRoomChanged(menuRoom());
}

void StatusItemController::updateIcon()
{
    if (!m_tray)
        return;
    QList<double> fractions;
    for (const JobPtr& job : m_jobs.activeJobs())
        fractions.append(job->fraction());
    const auto frame = m_iconModel.update(fractions, m_store.boolValue(SettingsKey::paused));
    if (!frame)
        return;
    m_tray->setIcon(statusIcon(frame->fraction, frame->paused, frame->spinnerPhase, m_foreground));
    m_tray->setToolTip(statusToolTip(frame->accessibilityValue));
}

void StatusItemController::rebuildStatusMenu()
{
    qv::rebuildStatusMenu(m_menu,
                          StatusMenuModel::make(m_jobs, m_store, m_actions.convertShortcut()),
                          m_actions);
}

} // namespace qv
