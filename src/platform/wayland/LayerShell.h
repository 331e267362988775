#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <Qt>

class QScreen;
class QWindow;

namespace qv {

// Whether a layer surface has the keyboard: never, when the compositor offers it (KWin hands
// it to the surface under a drag; wlroots compositors to one as it maps, keeping it there), or
// all the while it is shown.
enum class LayerKeys { none, onDemand, exclusive };

// Where a window of ours sits in the compositor's overlay layer.
struct LayerPlacement {
    // The edges it holds on to; none centres it.
    Qt::Edges anchors;
    // From the anchored edges.
    QMargins margins;
    // 0 along a side anchored at both ends: its full length.
    QSize size;
    LayerKeys keys = LayerKeys::none;
    // The top layer instead of the overlay: under every overlay surface of ours, whichever
    // the compositor stacks first.
    bool belowOverlay = false;
    // Kept off the panels' exclusive zones (a bar's strip of the screen): the margins then count
    // from the area the panels leave. Otherwise they count from the screen's own edges.
    bool clearOfPanels = false;
    // Null: the compositor chooses.
    QScreen* screen = nullptr;

    bool operator==(const LayerPlacement&) const = default;
};

// Windows above all others on the Wayland compositors that offer layer surfaces
// (wlr-layer-shell: KWin, sway, labwc, Hyprland). With QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT
// set, Qt gives a window with Qt::BypassWindowManagerHint a surface without a role; once
// installed, this gives each such window the overlay layer's role every time it is shown,
// before Qt draws into it, and follows its moves and resizes. A window is placed at its own
// geometry, or as setPlacement said. Main thread only.
class LayerShell {
public:
    // Qt runs on Wayland and the compositor offers layer surfaces; binds them on first call.
    static bool isAvailable();
    // From now on every bypass window gets its layer. Does nothing where unavailable.
    static void install();
    // An explicit placement for the window (a strip along an edge), applied at once when it
    // is shown.
    static void setPlacement(QWindow* window, const LayerPlacement& placement);
    // The keyboard for a window placed at its own geometry; set before it is shown.
    static void setKeys(QWindow* window, LayerKeys keys);
    // A window placed at its own geometry that stays off the panels (a pill at a corner): held
    // to its screen's nearest corner, which the compositor moves clear of them.
    static void setClearOfPanels(QWindow* window, bool clear);
    // Gives the window its layer now if it has a surface and none yet: right after show(), for
    // a window that draws before its first expose.
    static void ensureRole(QWindow* window);
    // The window holds a configured layer surface.
    static bool hasRole(QWindow* window);
    // The compositor hands the keyboard to a surface under a drag that asks for it on demand
    // (KWin); wlroots compositors drop every key during a drag.
    static bool keysReachDragTarget();

    // The placement of a window at this geometry (Qt's global coordinates) on that screen.
    static LayerPlacement placementAt(const QRect& geometry, QScreen* screen, bool clearOfPanels = false);
    // The same on a screen with that geometry: from its top-left corner, or clear of panels from
    // the corner nearest the window.
    static LayerPlacement placementAt(const QRect& geometry, const QRect& screen, bool clearOfPanels);

    // Before Qt starts: whether the compositor at WAYLAND_DISPLAY offers layer surfaces.
    static bool compositorOffersLayers();
};

} // namespace qv
