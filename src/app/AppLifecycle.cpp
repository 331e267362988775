#include "app/AppLifecycle.h"

#include "app/actions/ActionRunner.h"
#include "app/actions/CopiedFilesHandling.h"
#include "app/actions/DispatcherUi.h"
#include "app/MemoryReturn.h"
#include "app/StandardShortcuts.h"
#include "app/tray/MenuActions.h"
#include "app/tray/StatusItemController.h"
#include "app/welcome/OnboardingWindowController.h"
#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/ItemMemoryNeed.h"
#include "jobs/JobCenter.h"
#include "jobs/Toasts.h"
#include "jobs/ui/FeedbackServices.h"
#include "jobs/ui/HUDPanel.h"
#include "jobs/ui/JobHUD.h"
#include "jobs/WorkerPool.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/HotkeyCenter.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/TestHarness.h"
#include "platform/files/JobJournal.h"
#include "platform/files/MountWatcher.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/processes/QuitOnSignal.h"
#include "platform/processes/ThreadCall.h"
#include "platform/settings/SettingsStore.h"
#include "settings/SettingsWindowController.h"
#include "wheel/DragWatcher.h"
#include "wheel/ui/WheelController.h"

#include <QTimer>


namespace qv {

AppLifecycle& AppLifecycle::shared()
{
    static AppLifecycle* lifecycle = new AppLifecycle;
    return *lifecycle;
}

std::optional<int> AppLifecycle::start(const QList<QUrl>& files, bool convertCopied)
{
    registerDefaultSettings();
    if (isRunningTests())
        return 0;

    // One Quorvenda per session: a second start hands its files over and ends.
    m_instance = new SingleInstance();
    m_instance->setParent(this);
    if (!m_instance->registerPrimary()) {
        if (convertCopied && files.isEmpty()) {
            if (SingleInstance::convertCopiedInRunning())
                return 0;
            qCWarning(appLog, "Could not reach the running Quorvenda");
            return 1;
        }
        if (files.isEmpty()) {
            // Started again: the running one shows its settings.
            qCInfo(appLog, "Quorvenda is already running");
            if (!SingleInstance::reopenRunning())
                qCWarning(appLog, "Could not reach the running Quorvenda");
            return 0;
        }
        QString error;
        if (!SingleInstance::forwardToRunning(files, &error)) {
            qCWarning(appLog, "Could not reach the running Quorvenda: %s", qUtf8Printable(error));
            return 1;
        }
        return 0;
    }
    connect(m_instance, &SingleInstance::filesReceived, this, &AppLifecycle::openFileURLs);
    connect(m_instance, &SingleInstance::reopenRequested, this, [] {
        qCInfo(appLog, "Showing the settings window");
        SettingsWindowController::shared().show();
    });
    // From here on a termination signal is a quit, even before the event loop runs: it is
    // taken up once the loop starts.
    quitOnTerminationSignals();
    // What closed windows held goes back to the system.
    MemoryReturn::install();

    OnboardingWindowController::installMenuHook(MenuActions::shared());
    MenuActions::Hooks hooks = MenuActions::shared().hooks();
    hooks.openSettings = [] { SettingsWindowController::shared().show(); };
    MenuActions::shared().setHooks(std::move(hooks));
    StandardShortcuts::install(MenuActions::shared());
    StatusItemController::shared().setUp();
    QObject::connect(&StatusItemController::shared(), &StatusItemController::menuRoomChanged, &JobHUD::shared(),
                     &JobHUD::setTrayMenuRoom);

    JobCenter::Services services;
    services.status = &StatusItemController::shared();
    services.workers = &catalogueWorkers();
    services.workers->warmUp();
    services.memoryNeed = itemMemoryNeed;
    installFeedbackServices(services);
    installDispatcherUi();
    installQuickActions();

    // Jobs the last run of the application left unfinished when it was killed are named once.
    JobJournal::setPath(JobJournal::defaultPath());
    const QString interrupted = JobJournal::interruptedMessage(JobJournal::takeInterrupted());
    if (!interrupted.isEmpty()) {
        qCInfo(appLog, "%s", qUtf8Printable(interrupted));
        showToast(interrupted, QStringLiteral("exclamationmark.triangle"), 8.0);
    }
    // Settings that could not be read were replaced by the defaults: the user is told, once.
    if (const QString damaged = SettingsStore::shared().damagedFileMessage(); !damaged.isEmpty())
        showToast(damaged, QStringLiteral("exclamationmark.triangle"), 10.0);

    // Under Wayland without X11 the watcher logs that it is unavailable; the rest runs on.
    WheelController::shared().attach(DragWatcher::shared());
    // Idle workers are all retired in time; one is started on the tap, while the user still
    // aims at a segment, so the drop finds it ready; and as any other wheel opens (the hot
    // key's, Open With's).
    connect(&DragWatcher::shared(), &DragWatcher::wheelRequested, this, [] { catalogueWorkers().startAhead(1); });
    connect(&WheelController::shared(), &WheelController::wheelOpened, this, [] { catalogueWorkers().startAhead(1); });
    DragWatcher::shared().start();

    HotkeyCenter& hotkey = HotkeyCenter::shared();
    connect(&hotkey, &HotkeyCenter::convertRequested, this, [] {
        // Pressed again while its wheel shows (the wheel did not get the keyboard): closes it.
        WheelController& wheel = WheelController::shared();
        if (wheel.mode() == WheelController::Mode::click
            && (wheel.isPanelVisible() || wheel.isClickWheelPending())) {
            wheel.closeWheel(true);
            return;
        }
        convertCopiedFiles();
    });
    setCopiedFilesHandler([this](const QList<QUrl>& urls) { openFileURLs(urls); });
    hotkey.installHotkeyHandler();
    connect(m_instance, &SingleInstance::convertCopiedRequested, &hotkey, &HotkeyCenter::hotKeyPressed);
    if (convertCopied)
        QTimer::singleShot(0, &hotkey, &HotkeyCenter::hotKeyPressed);

    runInBackground([] { runLaunchMaintenance(); }, QThread::LowPriority);
    // Work folders a crash left on a stick that was away at the start go when it comes back.
    auto* mounts = new MountWatcher(this);
    connect(mounts, &MountWatcher::mountsChanged, this,
            [] { runInBackground([] { WorkFolderJournal::sweep(); }, QThread::LowPriority); });

    if (!SettingsStore::shared().boolValue(SettingsKey::onboardingDone)) {
        qCInfo(appLog, "Showing the onboarding window");
        OnboardingWindowController::shared().show();
    }

    qCInfo(appLog, "Quorvenda started");
    return std::nullopt;
}

void AppLifecycle::openFileURLs(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files.append(url);
    }
    if (files.isEmpty() || isRunningTests())
        return;
    const long long count = files.size();
    // The wheel opens once its files are inspected, off the main thread.
    WheelController::shared().showWheel(files, WheelKind::convert, std::nullopt, [count] {
        qCInfo(appLog, "Opened the convert wheel in click mode for %lld file(s)", count);
    });
}

bool AppLifecycle::finishQuit()
{
    JobCenter& center = JobCenter::shared();
    qCInfo(appLog, "Quitting: cancelling %lld job(s)", static_cast<long long>(center.activeJobs().size()));
    const bool stopped = center.shutdown(std::chrono::milliseconds(quitGraceMs));
    if (!stopped)
        qCWarning(appLog, "Quitting with workers still running");
    return stopped;
}

void AppLifecycle::runLaunchMaintenance()
{
    Capabilities::shared().warmUp();
    purgeTemporaryItems(86400);
}

} // namespace qv
