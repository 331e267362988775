#pragma once

#include "jobs/Job.h"
#include "jobs/JobCenterServices.h"
#include "model/EnumText.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <functional>

class QVariantAnimation;

namespace qv {

class HoverState;

// One job's pill: status badge, two lines of text, the buttons of its state and, while the
// job is active, a progress bar. Clicks are reported as actions; the HUD performs them.
class PillView : public QWidget {
    Q_OBJECT
public:
    enum class Action { cancel, reveal, open, copy, details, close };

    struct Look {
        QString symbol;
        QColor color;
    };

    struct Control {
        Action action;
        QString symbol; // empty for the text button
        QString help;
    };

    PillView(JobPtr job, HoverState& hover, std::function<void(Action)> perform,
             QWidget* parent = nullptr);
    ~PillView() override;

    static Look statusIcon(const Job& job);
    static QString titleText(const Job& job);
    static QString detailText(const Job& job);
    // "42 %": the fraction in whole percent, halves away from zero.
    static QString percentText(double fraction);
    static QList<Control> controls(const Job& job);
    // Width of the determinate bar in a track of this width.
    static double barWidth(double trackWidth, double fraction);

    // Where a control stands, in this view's coordinates; empty when the state has none.
    QRectF controlRect(Action action) const;
    bool showsProgressTrack() const;
    bool showsPercent() const;
    bool isIndeterminate() const;

    QSize sizeHint() const override { return {344, 56}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Placed {
        Control control;
        QRectF rect;
    };
    QList<Placed> placedControls() const;
    QRectF percentRect() const;
    void jobChanged();
    void setHovering(bool hovering);
    void updateIndeterminate();

    JobPtr m_job;
    HoverState& m_hover;
    std::function<void(Action)> m_perform;
    std::optional<Action> m_hoveredControl;
    std::optional<Action> m_pressedControl;
    double m_phase = -0.35;
    QPointer<QVariantAnimation> m_sweep;
};

template <>
struct EnumText<PillView::Action> {
    static constexpr std::array names{"cancel", "reveal", "open", "copy", "details", "close"};
};

} // namespace qv
