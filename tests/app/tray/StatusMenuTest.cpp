#include "app/actions/CopiedFilesHandling.h"
#include "app/tray/MenuActions.h"
#include "app/tray/StatusItemController.h"
#include "app/tray/StatusMenuModel.h"
#include "app/tray/StatusTray.h"
#include "jobs/JobCenter.h"
#include "jobs/Toasts.h"
#include "model/errors/CancellationError.h"
#include "model/settings/SettingsDefaults.h"
#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/OperationUntilCancelled.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>
#include <QFile>
#include <QMenu>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

using namespace qv;
using qv::test::waitFor;

namespace {

struct RecordingWorkspace : Workspace {
    QList<QUrl> opened;
    QList<QUrl> revealed;
    bool openSucceeds = true;
    bool open(const QUrl& url) override
    {
        opened.append(url);
        return openSucceeds;
    }
    void reveal(const QList<QUrl>& urls) override { revealed += urls; }
};

struct RecordingTray : StatusTray {
    int icons = 0;
    QString toolTip;
    void setIcon(const QIcon&) override { ++icons; }
    void setToolTip(const QString& text) override { toolTip = text; }
};

struct RecordingToasts : ToastPresenter {
    QList<Toast> shown;
    void show(const Toast& toast) override { shown.append(toast); }
};

QStringList texts(const QMenu& menu)
{
    QStringList list;
    for (const QAction* action : menu.actions())
        list.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return list;
}

QAction* actionNamed(const QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

class StatusMenuTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        registerDefaultSettings(store);
        setToastPresenter(&toasts);
    }
    void TearDown() override { setToastPresenter(nullptr); }

    // The job centre reads the recent list once, when it is made.
    void makeCenter()
    {
        center = std::make_unique<JobCenter>(store, clock);
        actions = std::make_unique<MenuActions>(*center, store, workspace);
        controller = std::make_unique<StatusItemController>(
            *center, store, *actions, [this](QMenu*) {
                auto made = std::make_unique<RecordingTray>();
                tray = made.get();
                return made;
            });
        actions->setStatusIndicator(controller.get());
    }

    QMenu* submenu(const QString& title)
    {
        QAction* action = actionNamed(controller->menu(), title);
        return action ? action->menu() : nullptr;
    }

    QTemporaryDir dir;
    SettingsStore store{QString()};
    test::FakeClock clock;
    RecordingWorkspace workspace;
    RecordingToasts toasts;
    std::unique_ptr<JobCenter> center;
    std::unique_ptr<MenuActions> actions;
    std::unique_ptr<StatusItemController> controller;
    RecordingTray* tray = nullptr;
};

} // namespace

TEST(StatusMenuModelTest, TitlesJobLinesAndShortcuts)
{
    EXPECT_EQ(StatusMenuModel::activeJobsTitle(0), QStringLiteral("Active Jobs"));
    EXPECT_EQ(StatusMenuModel::activeJobsTitle(2), QStringLiteral("Active Jobs (2)"));

    EXPECT_EQ(StatusMenuModel::jobLineText(QStringLiteral("Compress"), 3, QStringLiteral("a.mov"), 0.426),
              QStringLiteral("Compress: 3 files — 42 %"));
    EXPECT_EQ(StatusMenuModel::jobLineText(QStringLiteral("Compress"), 1, QStringLiteral("a.mov"), 0),
              QStringLiteral("Compress: a.mov"));
    EXPECT_EQ(StatusMenuModel::jobLineText(QStringLiteral("Compress"), 1, QStringLiteral("a.mov"), 0.999),
              QStringLiteral("Compress: a.mov — 99 %"));

    // The default hot key: Space with option and shift.
    EXPECT_EQ(StatusMenuModel::keyEquivalent(49, 2560, QStringLiteral("Space")),
              QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Space));
    EXPECT_EQ(StatusMenuModel::keyEquivalent(96, 256, QStringLiteral("F5")),
              QKeySequence(Qt::META | Qt::Key_F5));
    EXPECT_EQ(StatusMenuModel::keyEquivalent(123, 4096, QStringLiteral("←")),
              QKeySequence(Qt::CTRL | Qt::Key_Left));
    EXPECT_EQ(StatusMenuModel::keyEquivalent(0, 0, QStringLiteral("A")), QKeySequence(Qt::Key_A));
    EXPECT_EQ(StatusMenuModel::keyEquivalent(36, 0, QString()), QKeySequence(Qt::Key_Return));
    EXPECT_EQ(StatusMenuModel::keyEquivalent(200, 256, QStringLiteral("Key 200")), std::nullopt);
}

TEST_F(StatusMenuTest, ListsOnlyRecentResultsThatStillExistAndClearsThem)
{
    const QString kept = test::writeFile(dir.filePath(QStringLiteral("out/kept.png")));
    const QString gone = test::writeFile(dir.filePath(QStringLiteral("gone.png")));
    store.setValue(SettingsKey::recentResults, QStringList{gone, kept});
    ASSERT_TRUE(QFile::remove(gone));
    makeCenter();

    StatusMenuModel model = StatusMenuModel::make(*center, store, std::nullopt);
    ASSERT_EQ(model.recent.size(), 1);
    EXPECT_EQ(model.recent[0].title, QStringLiteral("kept.png"));
    EXPECT_EQ(model.recent[0].folderPath, dir.filePath(QStringLiteral("out")));
    EXPECT_EQ(model.activeJobsTitle(), QStringLiteral("Active Jobs"));

    controller->rebuildStatusMenu();
    EXPECT_EQ(texts(controller->menu()),
              (QStringList{"Convert Copied Files…", "Recent Conversions", "Active Jobs", "---",
                           "Pause Wheel", "---", "Settings…", "Getting Started…", "Quit Quorvenda"}));
    QMenu* recent = submenu(QStringLiteral("Recent Conversions"));
    ASSERT_TRUE(recent);
    EXPECT_EQ(texts(*recent), (QStringList{"kept.png", "---", "Clear Menu"}));
    QMenu* item = recent->actions()[0]->menu();
    ASSERT_TRUE(item);
    EXPECT_EQ(texts(*item), (QStringList{"Show in Folder", "Open"}));
    item->actions()[0]->trigger();
    EXPECT_EQ(workspace.revealed, QList<QUrl>{QUrl::fromLocalFile(kept)});
    item->actions()[1]->trigger();
    EXPECT_EQ(workspace.opened, QList<QUrl>{QUrl::fromLocalFile(kept)});

    // Deleted after the menu opened: a toast, and the entry stays in the list.
    ASSERT_TRUE(QFile::remove(kept));
    item->actions()[0]->trigger();
    item->actions()[1]->trigger();
    EXPECT_EQ(workspace.revealed.size(), 1);
    EXPECT_EQ(workspace.opened.size(), 1);
    ASSERT_EQ(toasts.shown.size(), 2);
    EXPECT_EQ(toasts.shown[0].text, QStringLiteral("kept.png is no longer there"));
    EXPECT_EQ(toasts.shown[0].symbol, QStringLiteral("questionmark.folder"));
    EXPECT_EQ(center->recent().size(), 2);

    // Next opening: nothing left that exists.
    controller->rebuildStatusMenu();
    EXPECT_EQ(texts(*submenu(QStringLiteral("Recent Conversions"))), QStringList{"Nothing yet"});
    EXPECT_FALSE(submenu(QStringLiteral("Recent Conversions"))->actions()[0]->isEnabled());

    // Clear Menu empties the list in memory and the stored one.
    test::writeFile(kept);
    controller->rebuildStatusMenu();
    actionNamed(*submenu(QStringLiteral("Recent Conversions")), QStringLiteral("Clear Menu"))->trigger();
    EXPECT_TRUE(center->recent().isEmpty());
    EXPECT_FALSE(store.hasStoredValue(SettingsKey::recentResults));
    EXPECT_EQ(JobCenter(store, clock).recent().size(), 0);
}

TEST_F(StatusMenuTest, CancelsAnActiveJobFromTheMenu)
{
    makeCenter();
    std::atomic<bool> started{false};
    WheelEntry entry;
    entry.operations = {test::operationUntilCancelled(started)};
    const QString input = test::writeFile(dir.filePath(QStringLiteral("notes.txt")));
    const JobPtr job = center->submit(entry, {fileInfoForURL(QUrl::fromLocalFile(input))}, {}, std::nullopt);
    ASSERT_TRUE(job);
    ASSERT_TRUE(waitFor([&] { return started.load(); }));

    controller->rebuildStatusMenu();
    QMenu* jobs = submenu(QStringLiteral("Active Jobs (1)"));
    ASSERT_TRUE(jobs);
    ASSERT_EQ(jobs->actions().size(), 2);
    EXPECT_EQ(jobs->actions()[0]->text(), QStringLiteral("Waiting: notes.txt"));
    EXPECT_FALSE(jobs->actions()[0]->isEnabled());
    EXPECT_TRUE(jobs->actions()[1]->text().endsWith(QStringLiteral("Cancel")));

    // An id that names no job does nothing.
    actions->cancelJob(QUuid::createUuid());
    EXPECT_TRUE(job->isActive());

    jobs->actions()[1]->trigger();
    ASSERT_TRUE(waitFor([&] { return !job->isActive(); }));
    EXPECT_EQ(job->state(), Job::State::cancelled);

    controller->rebuildStatusMenu();
    EXPECT_EQ(texts(*submenu(QStringLiteral("Active Jobs"))), QStringList{"No jobs running"});
}

TEST_F(StatusMenuTest, PauseTogglesTheSettingAndRedrawsTheIcon)
{
    makeCenter();
    controller->updateIcon(); // before setUp there is nothing to draw on
    EXPECT_EQ(tray, nullptr);

    controller->setUp();
    controller->setUp();
    ASSERT_TRUE(tray);
    EXPECT_EQ(tray->icons, 1);
    EXPECT_EQ(tray->toolTip, QStringLiteral("Quorvenda — Idle"));
    controller->updateIcon();
    EXPECT_EQ(tray->icons, 1); // unchanged: not drawn again

    controller->rebuildStatusMenu();
    QAction* pause = actionNamed(controller->menu(), QStringLiteral("Pause Wheel"));
    ASSERT_TRUE(pause);
    EXPECT_FALSE(pause->isChecked());
    EXPECT_EQ(pause->toolTip(), QStringLiteral("Stops watching drags until you turn it back on"));
    pause->trigger();
    EXPECT_TRUE(store.boolValue(SettingsKey::paused));
    EXPECT_EQ(tray->icons, 2);
    EXPECT_EQ(tray->toolTip, QStringLiteral("Quorvenda — Paused"));

    controller->rebuildStatusMenu();
    EXPECT_TRUE(actionNamed(controller->menu(), QStringLiteral("Pause Wheel"))->isChecked());
    actions->togglePaused();
    EXPECT_FALSE(store.boolValue(SettingsKey::paused));
    EXPECT_EQ(tray->toolTip, QStringLiteral("Quorvenda — Idle"));
}

TEST_F(StatusMenuTest, CommandsOfOtherPartsGoThroughHooks)
{
    makeCenter();
    QStringList called;
    MenuActions::Hooks hooks;
    hooks.openSettings = [&] { called.append(QStringLiteral("settings")); };
    hooks.showOnboarding = [&] { called.append(QStringLiteral("onboarding")); };
    hooks.convertCopiedFiles = [&] { called.append(QStringLiteral("convert")); };
    hooks.convertShortcut = [] { return QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Space); };
    hooks.exitApplication = [&] { called.append(QStringLiteral("exit")); };
    actions->setHooks(hooks);
    store.setValue(SettingsKey::paused, true); // the menu's convert ignores the pause

    controller->rebuildStatusMenu();
    QAction* convert = actionNamed(controller->menu(), QStringLiteral("Convert Copied Files…"));
    ASSERT_TRUE(convert);
    EXPECT_EQ(convert->shortcut(), QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Space));
    convert->trigger();
    actionNamed(controller->menu(), QStringLiteral("Settings…"))->trigger();
    actionNamed(controller->menu(), QStringLiteral("Getting Started…"))->trigger();
    actionNamed(controller->menu(), QStringLiteral("Quit Quorvenda"))->trigger();
    EXPECT_EQ(called, (QStringList{"convert", "settings", "onboarding", "exit"}));
}

TEST_F(StatusMenuTest, WithoutHooksTheMenuShowsTheStoredHotKeyAndConvertsTheCopiedFiles)
{
    makeCenter();
    controller->rebuildStatusMenu();
    QAction* convert = actionNamed(controller->menu(), QStringLiteral("Convert Copied Files…"));
    ASSERT_TRUE(convert);
    EXPECT_EQ(convert->shortcut(), QKeySequence(Qt::ALT | Qt::SHIFT | Qt::Key_Space));

    store.setData(SettingsKey::convertHotkey, encodeShortcut(Shortcut{96, Shortcut::controlKey}));
    controller->rebuildStatusMenu();
    convert = actionNamed(controller->menu(), QStringLiteral("Convert Copied Files…"));
    EXPECT_EQ(convert->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F5));

    store.setData(SettingsKey::convertHotkey, encodeShortcut(std::nullopt));
    controller->rebuildStatusMenu();
    convert = actionNamed(controller->menu(), QStringLiteral("Convert Copied Files…"));
    EXPECT_TRUE(convert->shortcut().isEmpty());

    // The item reads the copied files itself, also while paused.
    const QString file = dir.filePath(QStringLiteral("a.txt"));
    test::writeFile(file, "a");
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(file)});
    QGuiApplication::clipboard()->setMimeData(data);
    QList<QUrl> opened;
    setCopiedFilesHandler([&](const QList<QUrl>& urls) { opened = urls; });
    store.setValue(SettingsKey::paused, true);
    convert->trigger();
    setCopiedFilesHandler({});
    QGuiApplication::clipboard()->clear();
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(file)});
}

TEST_F(StatusMenuTest, OurOwnMenuKeepsRoomWhileItIsOnScreenOnly)
{
    makeCenter();
    controller->setUp();
    QList<double> rooms;
    QObject::connect(controller.get(), &StatusItemController::menuRoomChanged, [&](double room) { rooms.append(room); });
    // Read for a tray host, the menu is filled but never shown.
    Q_EMIT controller->menu().aboutToShow();
    EXPECT_TRUE(rooms.isEmpty());
    controller->menu().popup(QPoint(1700, 30));
    ASSERT_TRUE(waitFor([&] { return !rooms.isEmpty(); }));
    EXPECT_EQ(rooms.last(), controller->menu().height());
    EXPECT_GT(rooms.last(), 0);
    controller->menu().hide();
    ASSERT_TRUE(waitFor([&] { return rooms.size() == 2; }));
    EXPECT_EQ(rooms.last(), 0);
    EXPECT_EQ(controller->menuRoom(), 0);
}
