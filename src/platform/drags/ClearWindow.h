#pragma once

#include <QRasterWindow>

namespace qv {

// A see-through window of ours above the others that takes no focus, for catching the pointer
// (a drag strip, a cover over a screen): on Wayland with QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT a
// layer surface once LayerShell places it.
class ClearWindow : public QRasterWindow {
    Q_OBJECT

public:
    explicit ClearWindow(QScreen* screen);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace qv
