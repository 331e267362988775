#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <optional>

namespace qv {

// Turns the process into a tray utility: registers the settings, puts up the tray icon,
// starts watching drags and the hot key, and cleans up behind earlier runs.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    static AppDelegate& shared();

    // The start-up sequence, given the files named on the command line. Returns the exit code
    // when the process should end at once (under the test harness, or after handing the files
    // to the instance already running), nothing when it should run.
    std::optional<int> applicationDidFinishLaunching(const QList<QUrl>& files = {});

    // Files handed to the application: the convert wheel in click mode at the pointer.
    void openFileURLs(const QList<QUrl>& urls);

    // Cancels every running job, which signals their child programs before returning.
    void cancelRunningJobs();

    // Capabilities, the archive probe and the purge of day-old temporary work, off the main
    // thread.
    static void runLaunchMaintenance();

private:
    AppDelegate() = default;
    class SingleInstance* m_instance = nullptr;
};

} // namespace qv
