#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <optional>

namespace qv {

// Turns the process into a tray utility: registers the settings, puts up the tray icon,
// starts watching drags and the hot key, and cleans up behind earlier runs.
class AppLifecycle : public QObject {
    Q_OBJECT
public:
    static AppLifecycle& shared();

    // The start-up sequence, given the files named on the command line, and whether it asks to
    // convert the copied files ("--convert-copied"). Returns the exit code when the process
    // should end at once (under the test harness, or after handing the request to the instance
    // already running), nothing when it should run.
    std::optional<int> start(const QList<QUrl>& files = {}, bool convertCopied = false);

    // Files handed to the application: the convert wheel in click mode at the pointer.
    void openFileURLs(const QList<QUrl>& urls);

    // The end of a quit, from the menu or a termination signal, once the event loop has ended:
    // cancels every job, waits a bounded time for the job engine, kills what is left of its
    // child programs and removes its work folders. False when a worker outlived all that: the
    // process must then end without running static destructors.
    bool finishQuit();

    // How long a quit waits for cancelled jobs before it kills their programs.
    static constexpr int quitGraceMs = 3000;

    // Capabilities, the archive probe and the purge of day-old temporary work, off the main
    // thread.
    static void runLaunchMaintenance();

private:
    AppLifecycle() = default;
    class SingleInstance* m_instance = nullptr;
};

} // namespace qv
