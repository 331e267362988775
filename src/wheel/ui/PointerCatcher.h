#pragma once

#include "platform/drags/ClearWindow.h"

namespace qv {

// A see-through window over a whole screen, under a click-mode wheel on a Wayland compositor with
// layer surfaces. A Wayland client learns where the pointer is only over a surface of its own:
// this one tells where it is as soon as it appears under it, so the wheel opens there (for a
// drag the application runs itself too); and a press on it, beside the wheel, is the click
// outside that closes the wheel.
class PointerCatcher : public ClearWindow {
    Q_OBJECT

public:
    explicit PointerCatcher(QScreen* screen);

    // Covers the screen, above the user's windows and below the wheel.
    void cover();

    // Leaves the wheel's frame (Qt's global coordinates) to the wheel: whichever of the two the
    // compositor stacks higher, the pointer there reaches the wheel.
    void leaveHole(const QRect& frame);

    // Where the wheel must learn the pointer this way.
    static bool isNeeded();

Q_SIGNALS:
    // In Qt's global coordinates.
    void pointerSeen(QPoint global);
    void pressed();

protected:
    bool event(QEvent* event) override;
};

} // namespace qv
