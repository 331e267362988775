#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace qv {

// Turns the process into a tray utility: registers the settings, puts up the tray icon,
// starts watching drags and the hot key, and cleans up behind earlier runs.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static AppDelegate& shared();

    // The start-up sequence; returns false when the process runs under the test harness and
    // should end at once.
    bool applicationDidFinishLaunching();

    // Files handed to the application: the convert wheel in click mode at the pointer.
    void openFileURLs(const QList<QUrl>& urls);

    // Cancels every running job, which signals their child programs before returning.
    void cancelRunningJobs();

    // Capabilities, the archive probe and the purge of day-old temporary work, off the main
    // thread.
    static void runLaunchMaintenance();

private:
    AppDelegate() = default;
};

} // namespace qv
