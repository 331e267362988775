#pragma once

#include <QApplication>

namespace qv {

// The application object: a tray utility that keeps running with no window open.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    // Chooses the platform before the application object exists: Wayland where the compositor
    // offers layer surfaces, else X11 (through XWayland under other Wayland compositors),
    // offscreen under the test harness without a display. False when there is no graphical
    // session to run in.
    static bool prepareEnvironment();
};

} // namespace qv
