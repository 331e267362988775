#include "app/tray/StatusMenu.h"

#include "app/tray/MenuActions.h"
#include "graphics/SymbolTable.h"

#include <QIcon>
#include <QMenu>
#include <QMimeDatabase>

namespace qv {

namespace {

QIcon fileIcon(const QString& path)
{
    static const QMimeDatabase mimeDatabase;
    const QMimeType type = mimeDatabase.mimeTypeForFile(path);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
}

QMenu* addSubmenu(QMenu& menu, const QString& title, const QIcon& icon)
{
    auto* submenu = new QMenu(title, &menu);
    submenu->setIcon(icon);
    submenu->setToolTipsVisible(true);
    menu.addMenu(submenu);
    return submenu;
}

void addDisabled(QMenu& menu, const QString& text)
{
    menu.addAction(text)->setEnabled(false);
}

void addRecentResults(QMenu& menu, const StatusMenuModel& model, MenuActions& actions)
{
    QMenu* recent = addSubmenu(menu, StatusMenuText::recentConversions,
                               symbolIcon(QStringLiteral("clock.arrow.circlepath")));
    if (model.recent.isEmpty()) {
        addDisabled(*recent, StatusMenuText::nothingYet);
        return;
    }
    for (const StatusMenuModel::RecentResult& result : model.recent) {
        QMenu* item = addSubmenu(*recent, result.title, fileIcon(result.url.toLocalFile()));
        // Named, so a tray host keeps each result's entry as results come and go.
        item->menuAction()->setObjectName(QStringLiteral("recent:") + result.url.toString());
        item->menuAction()->setToolTip(result.folderPath);
        const QUrl url = result.url;
        QObject::connect(item->addAction(StatusMenuText::showInFolder), &QAction::triggered,
                         &actions, [&actions, url] { actions.revealRecent(url); });
        QObject::connect(item->addAction(StatusMenuText::open), &QAction::triggered, &actions,
                         [&actions, url] { actions.openRecent(url); });
    }
    recent->addSeparator();
    QObject::connect(recent->addAction(StatusMenuText::clearMenu), &QAction::triggered, &actions,
                     [&actions] { actions.clearRecent(); });
}

void addActiveJobs(QMenu& menu, const StatusMenuModel& model, MenuActions& actions)
{
    QMenu* jobs = addSubmenu(menu, model.activeJobsTitle(), symbolIcon(QStringLiteral("gearshape.2")));
    if (model.jobs.isEmpty()) {
        addDisabled(*jobs, StatusMenuText::noJobsRunning);
        return;
    }
    for (const StatusMenuModel::JobLine& line : model.jobs) {
        // Named, so a tray host keeps a job's entries while it runs and never shows another
        // job's Cancel in their place.
        const QString name = line.id.toString(QUuid::WithoutBraces);
        QAction* text = jobs->addAction(line.text);
        text->setEnabled(false);
        text->setObjectName(QStringLiteral("job:") + name);
        // Menus here have no indentation levels: a wide space sets Cancel under its job.
        const QUuid id = line.id;
        QAction* cancel = jobs->addAction(QStringLiteral("\u2003") + StatusMenuText::cancel);
        cancel->setObjectName(QStringLiteral("cancel:") + name);
        QObject::connect(cancel, &QAction::triggered, &actions, [&actions, id] { actions.cancelJob(id); });
    }
}

} // namespace

void rebuildStatusMenu(QMenu& menu, const StatusMenuModel& model, MenuActions& actions)
{
    menu.clear();
    // clear() leaves the submenus of the last opening behind.
    for (QMenu* old : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        old->deleteLater();
    menu.setToolTipsVisible(true);

    QAction* convert = menu.addAction(symbolIcon(QStringLiteral("arrow.triangle.2.circlepath")), StatusMenuText::convertCopiedFiles);
    if (model.convertShortcut)
        convert->setShortcut(*model.convertShortcut);
    QObject::connect(convert, &QAction::triggered, &actions, [&actions] { actions.convertCopiedFiles(); });

    addRecentResults(menu, model, actions);
    addActiveJobs(menu, model, actions);
    menu.addSeparator();

    QAction* pause = menu.addAction(StatusMenuText::pauseWheel);
    pause->setCheckable(true);
    pause->setChecked(model.paused);
    pause->setToolTip(StatusMenuText::pauseWheelToolTip);
    QObject::connect(pause, &QAction::triggered, &actions, [&actions] { actions.togglePaused(); });
    menu.addSeparator();

    QAction* settings = menu.addAction(StatusMenuText::settings);
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    QObject::connect(settings, &QAction::triggered, &actions, [&actions] { actions.openSettings(); });
    QObject::connect(menu.addAction(StatusMenuText::gettingStarted), &QAction::triggered, &actions,
                     [&actions] { actions.showOnboarding(); });
    QAction* quit = menu.addAction(StatusMenuText::quit);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(quit, &QAction::triggered, &actions, [&actions] { actions.quit(); });
}

} // namespace qv
