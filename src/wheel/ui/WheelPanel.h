#pragma once

#include <QPainterPath>
#include <QPointer>
#include <QWidget>

#include <functional>

class QTimer;
class QVariantAnimation;

namespace qv {

class WheelView;

// The window of the wheel: frameless, above everything, on every desktop, holding one
// WheelView. While dragging it never takes the focus and stays outside the window manager;
// in click mode it is a popup that has the keyboard and closes on a click elsewhere.
class WheelPanel : public QWidget {
    Q_OBJECT
public:
    WheelPanel();

    WheelView* view() const { return m_view; }

    // Set before showing: switching changes the window's kind.
    void setClickMode(bool on);
    bool isClickMode() const { return m_clickMode; }

    // Qt coordinates; the view fills the panel.
    void setFrame(const QRect& frame);
    void orderFront();
    // Gone at once where it can be; on Wayland once its last frame is answered.
    void orderOut();
    // Shown, and not on its way out.
    bool isShown() const;
    // Fades to 0 over the time with an ease-in; done runs at the end unless the fade is stopped.
    void fadeOut(int ms, std::function<void()> done = {});
    void stopFade();
    void setAlpha(double alpha);

    static bool translucencyAvailable();
    // A window made before a compositor started is not see-through until it is shown again.
    bool isSeeThrough() const;

    // Click mode: the keyboard and the pointer are the wheel's while it shows, whichever window
    // has the focus (keys typed go to the wheel, a click elsewhere closes it).
    bool hasInputGrab() const { return m_keyboardGrabbed && m_pointerGrabbed; }

    // How long the wheel keeps asking for the keyboard and pointer: the hot key that opened it
    // holds the keyboard until it is let go of.
    static constexpr int grabRetryMs = 25;
    static constexpr int grabGiveUpMs = 10000;

Q_SIGNALS:
    // Click mode: the popup was closed by a click outside it.
    void dismissed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void followCompositor();
    void matchVisual();
    void applyMask();
    void takeInput();
    void releaseInput();
    void releaseKeyboardHold();
    bool hasKeyboard() const;

    WheelView* m_view;
    bool m_clickMode = false;
    bool m_closingOurselves = false;
    // The wheel had the keyboard since it was last shown.
    bool m_activeSinceShown = false;
    // A close it refused since then, said once.
    bool m_keptOpen = false;
    // As the application last said it was.
    Qt::ApplicationState m_applicationState = Qt::ApplicationInactive;
    QPointer<QVariantAnimation> m_fade;
    QTimer* m_grabTimer;
    int m_grabAttempts = 0;
    bool m_keyboardGrabbed = false;
    bool m_pointerGrabbed = false;
    QPainterPath m_maskShape; // what the mask was cut from, at m_maskOffset
    QPoint m_maskOffset;
};

} // namespace qv
