#pragma once

#include "jobs/Job.h"
#include "jobs/JobCenterServices.h"
#include "model/EnumText.h"

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

class QPainter;
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
    // The opacities of the old and the new texts part way (0 to 1) through a change of state:
    // never both showing at once.
    static std::pair<double, double> textOpacities(double blend);
    // "about 25 min left" at the pace so far; empty before 5 s or half a percent.
    static QString timeLeftText(double fraction, qint64 elapsedMs);
    // "42 %": the fraction in whole percent, halves away from zero.
    static QString percentText(double fraction);
    static QList<Control> controls(const Job& job);
    // Width of the determinate bar in a track of this width.
    static double barWidth(double trackWidth, double fraction);

    // The two lines as drawn, cut to the room they have.
    QString shownTitle() const;
    QString shownDetail() const;
    struct Line {
        QString text;
        QFont font;
    };
    // The text in the font, a little smaller when that makes it fit the width, else with the
    // file name in it (the last place it stands) cut in the middle, else cut at its end.
    static Line fitted(const QString& text, const QFont& font, double width, const QString& name = {});
    // The file or folder name a line shows, if any: the part cut first when the line is long.
    static QString titleName(const Job& job);
    static QString detailName(const Job& job);

    // The title and the detail whole, as the tooltip off the buttons shows them.
    QString wholeText() const;
    // An ended job's pill opens the details when its texts are clicked.
    bool opensDetailsOnClick() const;

    // Where a control stands, in this view's coordinates; empty when the state has none.
    QRectF controlRect(Action action) const;
    bool showsProgressTrack() const;
    bool showsPercent() const;
    bool isIndeterminate() const;
    // The determinate bar's drawn width; it follows the fraction linearly over 0.1 s.
    double shownBarWidth() const { return m_shownBar; }
    // How far the look has come since the job's state last changed: 0 at the change, 1 once
    // the spring has settled (it passes 1 slightly on the way).
    double stateProgress() const { return m_stateProgress; }

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
    // Everything the pill draws for one moment of its job, kept so that a change of state
    // can cross-fade from the old look to the new one.
    struct Face {
        Job::State state = Job::State::waiting;
        Look look;
        QString title;
        QString titleName;
        QString detail;
        QString detailName;
        QList<Placed> controls;
        QString percent; // empty when not shown
        QRectF percentRect;
        bool track = false;
        bool determinate = false;
        double barWidth = 0;
        std::optional<QColor> tint;
    };

    QList<Placed> placedControls() const;
    QList<Placed> placedControls(const QList<Control>& list, bool active) const;
    QRectF percentRect() const;
    QRectF percentRect(const QList<Placed>& placed) const;
    QRectF trackRect() const;
    double lineWidth(const Face& face) const;
    Face currentFace() const;
    void jobChanged();
    void startStateTransition(const Face& from);
    void updateBar(bool wasDeterminate);
    void setHovering(bool hovering);
    void updateIndeterminate();
    void paintBadge(QPainter& p, const Face& now, const Face* from, double blend) const;
    void paintTexts(QPainter& p, const Face& face, double opacity) const;
    void paintControls(QPainter& p, const Face& face, double opacity, bool live) const;
    void paintTrack(QPainter& p, const Face& face, double opacity) const;

    JobPtr m_job;
    HoverState& m_hover;
    std::function<void(Action)> m_perform;
    std::optional<Action> m_hoveredControl;
    std::optional<Action> m_pressedControl;
    bool m_pressedText = false;
    double m_phase = -0.35;
    QPointer<QVariantAnimation> m_sweep;

    Face m_face;          // as of the last change of the job
    bool m_hasFace = false;
    Face m_from;          // the look a state change moves away from
    double m_stateProgress = 1;
    QPointer<QVariantAnimation> m_stateSpring;
    double m_shownBar = 0;
    double m_barTarget = 0;
    QPointer<QVariantAnimation> m_barSlide;
};

template <>
struct EnumText<PillView::Action> {
    static constexpr std::array names{"cancel", "reveal", "open", "copy", "details", "close"};
};

} // namespace qv
