#pragma once

#include <QKeySequence>
#include <QObject>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <optional>

namespace qv {

class JobCenter;
class SettingsStore;
class StatusIndicator;
class Workspace;

// The commands of the tray menu and of the application-wide shortcuts.
class MenuActions : public QObject {
    Q_OBJECT
public:
    // What belongs to other parts of the application; each may be left empty. Without
    // convertCopiedFiles the copied files are read and handled; without convertShortcut the
    // stored hot key is shown.
    struct Hooks {
        std::function<void()> openSettings;
        std::function<void()> showOnboarding;
        std::function<void()> convertCopiedFiles;
        std::function<std::optional<QKeySequence>()> convertShortcut;
        // Leaves the event loop; by default the application quits.
        std::function<void()> exitApplication;
    };

    MenuActions(JobCenter& jobs, SettingsStore& store, Workspace& workspace,
                QObject* parent = nullptr);

    // Over the shared job centre, settings and desktop.
    static MenuActions& shared();

    void setHooks(Hooks hooks) { m_hooks = std::move(hooks); }
    const Hooks& hooks() const { return m_hooks; }
    // Redrawn when the pause setting flips.
    void setStatusIndicator(StatusIndicator* status) { m_status = status; }

    JobCenter& jobs() const { return m_jobs; }
    SettingsStore& store() const { return m_store; }

    // The stored hot key as the menu's key equivalent; nothing when the user removed it.
    std::optional<QKeySequence> convertShortcut() const;

    void openSettings();
    void convertCopiedFiles();
    void togglePaused();
    void showOnboarding();
    void revealRecent(const QUrl& url);
    void openRecent(const QUrl& url);
    void clearRecent();
    void cancelJob(const QUuid& id);
    // Cancels every running job (their child programs are signalled at once), then exits
    // without waiting for them.
    void quit();

private:
    void toastVanished(const QUrl& url);

    JobCenter& m_jobs;
    SettingsStore& m_store;
    Workspace& m_workspace;
    StatusIndicator* m_status = nullptr;
    Hooks m_hooks;
};

} // namespace qv
