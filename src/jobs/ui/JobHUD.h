#pragma once

#include "jobs/HudGeometry.h"
#include "jobs/JobCenterServices.h"
#include "jobs/ui/OverflowPill.h"

#include <QList>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <functional>

namespace qv {

class Clipboard;
class PillController;
class ScreenProvider;
class Workspace;

// Every job as a pill at the top right of the screen of the newest drop, newest on top; four
// at most, the rest counted below them.
class JobHUD : public QObject, public JobPresenter {
    Q_OBJECT
public:
    struct Services {
        const ScreenProvider* screens = nullptr;
        Clipboard* clipboard = nullptr;
        Workspace* workspace = nullptr;
        std::function<void(const JobPtr&)> cancel;
    };

    explicit JobHUD(Services services, QObject* parent = nullptr);
    ~JobHUD() override;

    static JobHUD& shared();

    void show(const JobPtr& job) override;
    void remove(const JobPtr& job) override;
    void jobFinished(const JobPtr& job) override;
    void notificationPosted(const JobPtr& job) override;
    // Room kept at the top for a notification of ours, in points; 0 when none is expected.
    double notificationRoom() const { return m_notificationShowing ? hud::notificationRoom : 0; }

    // Room kept at the top for the open tray menu, in points; 0 when it is closed. Pills
    // that would then fall off the screen wait for the menu to close.
    void setTrayMenuRoom(double room);
    double topRoom() const { return std::max(notificationRoom(), m_trayMenuRoom); }

    void layout(bool animated, PillController* newPill = nullptr);
    void dismissPill(PillController* pill);
    // The notification's time is up: the pills move back up.
    void notificationGone();

    const QList<PillController*>& pills() const { return m_pills; }
    PillController* pillFor(const QUuid& id) const;
    OverflowPill& overflow() { return m_overflow; }
    const Services& services() const { return m_services; }

private:
    Services m_services;
    QList<PillController*> m_pills;
    bool m_notificationShowing = false;
    double m_trayMenuRoom = 0;
    QTimer m_notificationTimer;
    OverflowPill m_overflow;
};

} // namespace qv
