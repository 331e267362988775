#pragma once

#include "platform/drags/DragEventSource.h"

#include <QHash>
#include <QPointer>
#include <QTimer>

#include <vector>

class QKeyEvent;
class QMimeData;
class QScreen;
class QWindow;

namespace qv {

class DragStrip;
class SettingsStore;

// The drag back end of a Wayland session on a compositor with layer surfaces (KWin, sway,
// labwc, Hyprland). No Wayland client sees a drag elsewhere, so a strip along a screen edge
// (the setting "quorvenda.dragStrip.edge") catches drags that pass over it: entering it is the
// press and the new selection, its offer is what the drag carries, and the drag is over when
// it is dropped on a window of ours or has left them all for a moment. KWin hands the keyboard
// to the window under a drag, so modifier taps arrive as key events; wlroots compositors keep
// every key from it, and there a rest on the strip ("quorvenda.dragStrip.dwell") stands in, each
// further rest moving on to the next wheel. The
// same strips run through XWayland in a GNOME session without our Shell extension, as X11
// windows Mutter hands native drags to; no key reaches them there either.
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
    // After the first rest, how much longer each further one on the strip takes.
    static constexpr int nextRestMs = 1200;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeStrips();
    void dragArrived(const QMimeData* data);
    void dragLeft();
    void endDrag();
    void keyEvent(const QKeyEvent* event, bool pressed);
    bool isStrip(const QObject* object) const;

    SettingsStore& m_settings;
    std::vector<DragStrip*> m_strips;
    bool m_started = false;
    bool m_stripsWanted = true;
    bool m_inDrag = false;
    int m_windowsUnderDrag = 0;
    quint32 m_modifiers = 0;
    QHash<int, quint32> m_heldModifierKeys; // Qt key → ModifierFlag bit
    QPoint m_pointer;
    DragOffer m_offer;
    QTimer m_dwell;
    QTimer m_gone;
};

} // namespace qv
