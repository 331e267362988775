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
#include "wheel/WheelGeometry.h"
#include "wheel/ui/WheelController.h"

#include <QGuiApplication>
#include <QSystemTrayIcon>

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
    if (m_tray)
        return;
    if (m_trayFactory) {
        m_tray = m_trayFactory(&m_menu);
    } else if (StatusNotifierItem::hostRuns() || QGuiApplication::platformName() == QLatin1String("wayland")) {
        // Where no host runs yet on Wayland, one may come: a panel started after us. X11
        // programs have the older tray as well.
        auto tray = std::make_unique<StatusNotifierTray>(&m_menu);
        connect(tray.get(), &StatusNotifierTray::menuRoomChanged, this,
                [this](double room) { setMenuRoom(m_hostMenuRoom, room); });
        m_tray = std::move(tray);
    } else {
        if (!QSystemTrayIcon::isSystemTrayAvailable())
            qCInfo(appLog, "No system tray is available; Quorvenda runs without its icon");
        // Files dropped on the docked icon open the Convert wheel beside it, paused or not.
        auto dropped = [](const QList<QUrl>& files, QPointF anchor) {
            const long long count = files.size();
            WheelController::shared().showWheel(files, WheelKind::convert, anchor, [count] {
                qCInfo(appLog, "Opened the convert wheel in click mode for %lld file(s) from the tray", count);
            });
        };
        auto radius = [] { return WheelGeometry::diameterFor(currentWheelSize()) / 2; };
        m_tray = std::make_unique<SystemStatusTray>(&m_menu, dropped, radius);
    }
    if (!m_foreground.isValid())
        m_foreground = trayForegroundColor();
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
