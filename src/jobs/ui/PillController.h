#pragma once

#include "jobs/Job.h"
#include "jobs/ui/HoverState.h"
#include "jobs/ui/PillView.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

namespace qv {

class HUDPanel;
class JobHUD;

// One job's pill on screen: its panel, its timed removal and its buttons.
class PillController : public QObject {
    Q_OBJECT
public:
    static constexpr QSize size{344, 56};

    PillController(JobPtr job, JobHUD& hud);
    ~PillController() override;

    const JobPtr& job() const { return m_job; }
    HUDPanel* panel() const { return m_panel; }
    PillView* view() const;
    HoverState& hover() { return m_hover; }

    // Replaces the pending removal by one after this delay; none while the pointer rests on it.
    void scheduleDismiss(double seconds);
    // The delay of the pending removal, when one is pending.
    std::optional<double> pendingDismiss() const;

    // First appearance: at the target from the first frame, fading in.
    void slideIn(const QRect& target);
    void fadeOut();
    void handle(PillView::Action action);

private:
    JobPtr m_job;
    JobHUD& m_hud;
    QPointer<HUDPanel> m_panel;
    HoverState m_hover;
    QTimer m_dismissWork;
    double m_dismissSeconds = 0;
};

} // namespace qv
