#pragma once

#include "platform/drags/DragEventSource.h"

#include <QHash>
#include <QPointer>
#include <QElapsedTimer>
#include <QTimer>

#include <vector>

class QKeyEvent;
class QMimeData;
class QScreen;
class QWindow;

namespace qv {

class DragSelectionWatcher;
class DragStrip;
class SettingsStore;

// The drag back end of a Wayland session on a compositor with layer surfaces (KWin, sway,
// labwc, Hyprland). No Wayland client sees a drag elsewhere, so a strip along a screen edge
// (the setting "quorvenda.dragStrip.edge") catches drags that pass over it: entering it is the
// press and the new selection, its offer is what the drag carries, and the drag is over when
// it is dropped on a window of ours or has left them all for a moment. KWin hands the keyboard
// to the window under a drag, so modifier taps arrive as key events; wlroots compositors keep
// every key from it, and there a rest on the strip ("quorvenda.dragStrip.dwell") stands in. A
// wheel a rest opened stays however long the drag rests on: the next wheel takes leaving the
// strip and resting on it again, so that nothing changes under a user reading the wheel. The
// same strips run through XWayland in a GNOME session without our Shell extension, as X11
// windows Mutter hands native drags to; no key reaches them there either. Where the desktop
// tells when a drag begins (KWin's XWayland bridge takes the X11 drag selection for each), the
// strips let clicks through to the windows beneath until a drag begins, and again once a drag
// is over or the pointer comes without one.
class LayerShellDragSource : public DragEventSource {
    Q_OBJECT

public:
    explicit LayerShellDragSource(SettingsStore& settings, QObject* parent = nullptr);
    ~LayerShellDragSource() override;

    bool start(QString* whyNot) override;
    bool isPrimaryButtonDown() override { return m_inDrag; }
    quint32 currentModifiers() override { return m_modifiers; }
    QPoint pointerPosition() override { return m_pointer; }
    void readDragOffer() override;
    // The drag finds a window that appears under it by itself.
    void nudgePointer() override {}
    // Hidden while another back end reports the drags they would catch.
    void setCatchersShown(bool shown) override;

    // How long the drag may be over none of our windows before it counts as over: long enough
    // to cross from the strip to the wheel.
    static constexpr int goneAfterMs = 1000;
    // The same through XWayland on the way from the strip to the wheel, where the display tells
    // when a drag begins: Mutter tells a window of a drag only once it shows the window, which a
    // busy machine took over a second to do, and a new drag is known by its take of the drag
    // selection however soon it follows.
    static constexpr int toTheWheelThroughXWaylandMs = 3000;
    // After a rest opened a wheel, how long each further one takes, on a new visit to the strip.
    static constexpr int nextRestMs = 1200;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeStrips();
    void dragArrived(const QMimeData* data);
    // Whether the drag selection was taken since the drag under way arrived: a drag that comes
    // to a strip now is another one.
    bool takenSinceArrival();
    void dragLeft();
    void restElapsed();
    void endDrag();
    void keyEvent(const QKeyEvent* event, bool pressed);
    // Whether the strips take the pointer: always, unless the desktop tells when drags begin.
    void setStripsTakePointer(bool take);
    bool isStrip(const QObject* object) const;

    SettingsStore& m_settings;
    std::vector<DragStrip*> m_strips;
    bool m_started = false;
    bool m_stripsWanted = true;
    bool m_dragBeginsTold = false;
    // Through XWayland: the drag selection's takes, and how many there were when the drag under
    // way arrived; whether it reached a window of ours other than a strip since.
    DragSelectionWatcher* m_takes = nullptr;
    int m_takeCount = 0;
    int m_takesAtArrival = 0;
    bool m_reachedBeyondStrip = false;
    bool m_stripsTakePointer = true;
    bool m_inDrag = false;
    int m_windowsUnderDrag = 0;
    quint32 m_modifiers = 0;
    QHash<int, quint32> m_heldModifierKeys; // Qt key → ModifierFlag bit
    QPoint m_pointer;
    DragOffer m_offer;
    QTimer m_dwell;
    // Rests that opened a wheel during this drag; whether one did on this visit to the strip.
    int m_rests = 0;
    bool m_restedThisVisit = false;
    QElapsedTimer m_restHeld;
    QTimer m_gone;
};

} // namespace qv
