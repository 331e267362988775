#include "jobs/ui/PillController.h"

#include "jobs/HudGeometry.h"
#include "jobs/Toasts.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobDetailsView.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/ui/PillBackground.h"
#include "platform/clipboard/Clipboard.h"
#include "platform/desktop/WindowOpacity.h"
#include "platform/desktop/Workspace.h"

#include <QEasingCurve>

namespace qv {

PillController::PillController(JobPtr job, JobHUD& hud)
    : QObject(&hud)
    , m_job(std::move(job))
    , m_hud(hud)
{
    m_panel = new HUDPanel(size);
    m_panel->setShape(pillShape(QRectF(0, 0, size.width(), size.height())));
    QPointer<PillController> self(this);
    m_panel->setContent(new PillView(m_job, m_hover, [self](PillView::Action action) {
        if (self)
            self->handle(action);
    }));

    m_dismissWork.setSingleShot(true);
    connect(&m_dismissWork, &QTimer::timeout, this, [this] { m_hud.dismissPill(this); });

    m_hover.onChange = [self](bool hovering) {
        if (!self)
            return;
        if (hovering)
            self->m_dismissWork.stop();
        else if (!self->m_job->isActive())
            self->scheduleDismiss(hud::hoverRemovalDelay);
    };
}

PillController::~PillController()
{
    HUDPanel::dispose(m_panel);
}

PillView* PillController::view() const
{
    return m_panel ? qobject_cast<PillView*>(m_panel->content()) : nullptr;
}

void PillController::scheduleDismiss(double seconds)
{
    m_dismissWork.stop();
    if (m_hover.isHovering)
        return;
    m_dismissSeconds = seconds;
    m_dismissWork.start(int(std::lround(seconds * 1000)));
}

std::optional<double> PillController::pendingDismiss() const
{
    if (!m_dismissWork.isActive())
        return std::nullopt;
    return m_dismissSeconds;
}

void PillController::slideIn(const QRect& target)
{
    // The window stands at its place from its first frame and only fades in: one that slid
    // in from beside the corner showed there, over the panel and its tray icons, wherever the
    // window could not start see-through (X11 without a compositor shows no opacity).
    m_panel->setFrame(target);
    if (windowOpacityWorks())
        m_panel->setWindowOpacity(0.0);
    m_panel->orderFrontRegardless();
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.2, 0.9), QPointF(0.3, 1.0), QPointF(1, 1));
    m_panel->animate(target, 1.0, 250, curve);
}

void PillController::fadeOut()
{
    m_dismissWork.stop();
    if (!m_panel) {
        deleteLater();
        return;
    }
    QPointer<PillController> self(this);
    m_panel->animate(m_panel->geometry(), 0.0, 180, QEasingCurve::Linear, [self] {
        if (!self)
            return;
        self->m_panel->orderOut();
        self->m_panel->dropContent();
        self->deleteLater();
    });
}

void PillController::handle(PillView::Action action)
{
    const JobHUD::Services& services = m_hud.services();
    const QList<QUrl>& outputs = m_job->outputs();
    switch (action) {
    case PillView::Action::cancel:
        if (m_job->isActive())
            services.cancel(m_job);
        break;
    case PillView::Action::reveal:
        if (!outputs.isEmpty())
            services.workspace->reveal(outputs);
        break;
    case PillView::Action::open:
        for (const QUrl& url : outputs.mid(0, 10))
            services.workspace->open(url);
        break;
    case PillView::Action::copy:
        services.clipboard->setFiles(outputs);
        showToast(outputs.size() == 1 ? QStringLiteral("Copied — paste it in your file manager")
                                      : QStringLiteral("Copied %1 files").arg(outputs.size()),
                  QStringLiteral("doc.on.doc"), 3.0);
        break;
    case PillView::Action::details:
        showJobDetails(m_job);
        break;
    case PillView::Action::close:
        m_hud.dismissPill(this);
        break;
    }
}

} // namespace qv
