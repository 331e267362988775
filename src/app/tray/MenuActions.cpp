#include "app/tray/MenuActions.h"

#include "app/actions/CopiedFilesHandling.h"
#include "app/tray/StatusMenuModel.h"
#include "jobs/JobCenter.h"
#include "jobs/Toasts.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace qv {

MenuActions::MenuActions(JobCenter& jobs, SettingsStore& store, Workspace& workspace,
                         QObject* parent)
    : QObject(parent)
    , m_jobs(jobs)
    , m_store(store)
    , m_workspace(workspace)
{
}

MenuActions& MenuActions::shared()
{
    static MenuActions* actions =
        new MenuActions(JobCenter::shared(), SettingsStore::shared(), Workspace::system());
    return *actions;
}

std::optional<QKeySequence> MenuActions::convertShortcut() const
{
    if (m_hooks.convertShortcut)
        return m_hooks.convertShortcut();
    const std::optional<Shortcut> shortcut = storedShortcut(m_store);
    if (!shortcut)
        return std::nullopt;
    return StatusMenuModel::keyEquivalent(shortcut->keyCode, shortcut->modifierMask,
                                          keyName(shortcut->keyCode));
}

void MenuActions::openSettings()
{
    if (m_hooks.openSettings)
        m_hooks.openSettings();
}

void MenuActions::convertCopiedFiles()
{
    // Works while the wheel is paused: the user asked for it directly.
    if (m_hooks.convertCopiedFiles)
        m_hooks.convertCopiedFiles();
    else
        qv::convertCopiedFiles(); // the free function, not this one
}

void MenuActions::togglePaused()
{
    m_store.setValue(SettingsKey::paused, !m_store.boolValue(SettingsKey::paused));
    if (m_status)
        m_status->updateIcon();
}

void MenuActions::showOnboarding()
{
    if (m_hooks.showOnboarding)
        m_hooks.showOnboarding();
}

void MenuActions::revealRecent(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return;
    if (!QFileInfo::exists(url.toLocalFile())) {
        toastVanished(url);
        return;
    }
    m_workspace.reveal({url});
}

void MenuActions::openRecent(const QUrl& url)
{
    if (!url.isValid() || !url.isLocalFile())
        return;
    // A result deleted since the menu opened would make the opener fail with its own dialog.
    if (!QFileInfo::exists(url.toLocalFile()) || !m_workspace.open(url))
        toastVanished(url);
}

void MenuActions::clearRecent()
{
    m_jobs.clearRecent();
}

void MenuActions::cancelJob(const QUuid& id)
{
    if (id.isNull())
        return;
    const JobPtr job = m_jobs.jobWithId(id);
    if (job && job->isActive() && job->hasTask())
        m_jobs.cancel(job);
}

void MenuActions::quit()
{
    m_jobs.cancelAll();
    if (m_hooks.exitApplication)
        m_hooks.exitApplication();
    else
        QCoreApplication::quit();
}

void MenuActions::toastVanished(const QUrl& url)
{
    showToast(url.fileName() + StatusMenuText::noLongerThere, QStringLiteral("questionmark.folder"),
              3.0);
}

} // namespace qv
