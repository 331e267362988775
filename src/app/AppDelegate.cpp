#include "app/AppDelegate.h"

#include "app/MenuActions.h"
#include "app/StandardShortcuts.h"
#include "app/StatusItemController.h"
#include "jobs/JobCenter.h"
#include "jobs/ui/DispatcherUi.h"
#include "jobs/ui/FeedbackServices.h"
#include "model/Capabilities.h"
#include "model/SettingsDefaults.h"
#include "model/SettingsKeys.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"
#include "platform/TemporaryRoot.h"
#include "platform/TestHarness.h"

#include <QThreadPool>

namespace qv {

AppDelegate& AppDelegate::shared()
{
    static AppDelegate* delegate = new AppDelegate;
    return *delegate;
}

bool AppDelegate::applicationDidFinishLaunching()
{
    registerDefaultSettings();
    if (isRunningTests())
        return false;

    StandardShortcuts::install(MenuActions::shared());
    StatusItemController::shared().setUp();

    JobCenter::Services services;
    services.status = &StatusItemController::shared();
    installFeedbackServices(services);
    installDispatcherUi();

    QThreadPool::globalInstance()->start([] { runLaunchMaintenance(); }, QThread::LowPriority);

    if (!SettingsStore::shared().boolValue(SettingsKey::onboardingDone))
        qCInfo(appLog, "Onboarding is not part of this build; starting without it");

    qCInfo(appLog, "Quorvenda started");
    return true;
}

void AppDelegate::openFileURLs(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files.append(url);
    }
    if (files.isEmpty() || isRunningTests())
        return;
    qCInfo(appLog, "Opened with %lld file(s)", static_cast<long long>(files.size()));
}

void AppDelegate::cancelRunningJobs()
{
    JobCenter::shared().cancelAll();
}

void AppDelegate::runLaunchMaintenance()
{
    Capabilities::shared().probeArchiveFormats();
    purgeTemporaryItems(86400);
}

} // namespace qv
