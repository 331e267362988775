#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;

namespace qv {

// The borderless window of pills and toasts: never focused, never activating, above other
// windows, outside the window manager's control, on every desktop. Frames are in Qt's
// coordinates; callers convert from the y-up placement rules.
class HUDPanel : public QWidget {
    Q_OBJECT
public:
    explicit HUDPanel(const QSize& size);

    // Replaces the content; the panel owns it and sizes it to itself.
    void setContent(QWidget* content);
    QWidget* content() const { return m_content; }
    void dropContent();

    // The shape the content draws; without a compositor the window is cut to it.
    void setShape(const QPainterPath& shape);

    void setFrame(const QRect& frame);
    void orderFrontRegardless();
    // Gone at once where it can be; on Wayland once its last frame is answered.
    void orderOut();
    // Shown, and not on its way out.
    bool isShown() const;
    // Deletes a panel once it is off the screen, its content at once.
    static void dispose(HUDPanel* panel);

    // Animates frame and opacity together; a running animation is replaced.
    void animate(const QRect& frame, double opacity, int ms, const QEasingCurve& curve,
                 std::function<void()> done = {});
    void stopAnimation();
    bool isAnimating() const;

    // Whether windows can be see-through here (a compositor runs, or not on X11).
    static bool translucencyAvailable();
    // Whether this panel is see-through now: a window made before a compositor started is
    // not until it is shown again.
    bool isSeeThrough() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void followCompositor();
    void matchVisual();
    void applyMask();

    QPointer<QWidget> m_content;
    QPainterPath m_shape;
    QPointer<QVariantAnimation> m_animation;
};

} // namespace qv
