#include "jobs/ui/JobHUD.h"

#include "jobs/HudGeometry.h"
#include "jobs/Job.h"
#include "jobs/JobCenter.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/PillController.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/ReduceMotion.h"
#include "platform/desktop/ScreenCoordinates.h"
#include "platform/desktop/ScreenProvider.h"
#include "platform/desktop/WindowOpacity.h"
#include "platform/desktop/Workspace.h"

#include <QEasingCurve>

namespace qv {

JobHUD::JobHUD(Services services, QObject* parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    if (!m_services.screens)
        m_services.screens = &ScreenProvider::system();
    if (!m_services.clipboard)
        m_services.clipboard = &Clipboard::system();
    if (!m_services.workspace)
        m_services.workspace = &Workspace::system();
    if (!m_services.cancel)
        m_services.cancel = [](const JobPtr& job) { JobCenter::shared().cancel(job); };
    m_notificationTimer.setSingleShot(true);
    connect(&m_notificationTimer, &QTimer::timeout, this, &JobHUD::notificationGone);
}

void JobHUD::notificationPosted(const JobPtr& job)
{
    // The notification tells of the job: its pill would only lie under it.
    if (job) {
        if (PillController* pill = pillFor(job->id()); pill && !job->isActive()
                                                        && job->state() != Job::State::failed)
            dismissPill(pill);
    }
    m_notificationShowing = true;
    m_notificationTimer.start(int(hud::notificationSeconds * 1000));
    layout(true);
}

void JobHUD::notificationGone()
{
    m_notificationShowing = false;
    layout(true);
}

void JobHUD::setTrayMenuRoom(double room)
{
    if (room == m_trayMenuRoom)
        return;
    m_trayMenuRoom = room;
    layout(true);
}

JobHUD::~JobHUD()
{
    qDeleteAll(m_pills);
}

JobHUD& JobHUD::shared()
{
    static JobHUD* hud = new JobHUD(Services{});
    return *hud;
}

PillController* JobHUD::pillFor(const QUuid& id) const
{
    for (PillController* pill : m_pills) {
        if (pill->job()->id() == id)
            return pill;
    }
    return nullptr;
}

void JobHUD::show(const JobPtr& job)
{
    if (!job || pillFor(job->id()))
        return;
    auto* pill = new PillController(job, *this);
    m_pills.prepend(pill);
    layout(true, pill);
}

void JobHUD::remove(const JobPtr& job)
{
    if (!job)
        return;
    if (PillController* pill = pillFor(job->id()))
        dismissPill(pill);
}

void JobHUD::jobFinished(const JobPtr& job)
{
    if (!job)
        return;
    if (!pillFor(job->id()))
        show(job);
    if (PillController* pill = pillFor(job->id())) {
        if (const auto delay = hud::removalDelay(job->state(), job->failedCount()))
            pill->scheduleDismiss(*delay);
    }
}

void JobHUD::layout(bool animated, PillController* newPill)
{
    const ScreenProvider& screens = *m_services.screens;
    std::optional<QPointF> point;
    if (!m_pills.isEmpty())
        point = m_pills.first()->job()->origin();
    const std::optional<ScreenInfo> screen = screenForPoint(point, screens);
    if (!screen)
        return; // no screen to show pills on: they wait for the next layout
    const double height = screens.primaryHeight();
    const bool moving = animated && !reduceMotion();
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.25, 0.8), QPointF(0.3, 1.0), QPointF(1, 1));

    for (int i = 0; i < m_pills.size(); ++i) {
        PillController* pill = m_pills[i];
        HUDPanel* panel = pill->panel();
        if (i >= hud::visiblePills) {
            panel->orderOut();
            continue;
        }
        const QRectF place = hud::pillFrame(screen->visibleFrame, i, topRoom());
        if (place.top() < screen->visibleFrame.top()) {
            panel->orderOut();
            continue;
        }
        const QRect frame = flipY(place, height).toRect();
        if (pill == newPill) {
            pill->slideIn(frame);
            continue;
        }
        if (panel->geometry() != frame || panel->isAnimating()) {
            if (moving && panel->isVisible())
                panel->animate(frame, 1.0, 280, curve);
            else {
                panel->stopAnimation();
                if (windowOpacityWorks())
                    panel->setWindowOpacity(1.0);
                panel->setFrame(frame);
            }
        }
        if (!panel->isShown())
            panel->orderFrontRegardless();
    }

    const int hidden = hud::hiddenPillCount(int(m_pills.size()));
    const QRectF overflowPlace = hud::overflowFrame(screen->visibleFrame, topRoom());
    if (hidden < 1 || overflowPlace.top() < screen->visibleFrame.top())
        m_overflow.orderOut();
    else
        m_overflow.update(hidden, flipY(overflowPlace, height).toRect());
}

void JobHUD::dismissPill(PillController* pill)
{
    if (!m_pills.removeAll(pill))
        return;
    pill->fadeOut();
    layout(true);
}

} // namespace qv
