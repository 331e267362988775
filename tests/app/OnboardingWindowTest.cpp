#include "app/tray/MenuActions.h"
#include "app/welcome/OnboardingWindowController.h"
#include "app/welcome/PracticeArea.h"
#include "jobs/JobCenter.h"
#include "model/settings/SettingsKeys.h"
#include "platform/desktop/Workspace.h"
#include "platform/drags/DragEventSource.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"
#include "support/WaitFor.h"
#include "wheel/DragWatcher.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>

#include <memory>

using namespace qv;
using namespace qv::test;

namespace {

struct NullWorkspace : Workspace {
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>&) override {}
};

class OnboardingWindowTest : public ::testing::Test {
protected:
    OnboardingView::Services services()
    {
        OnboardingView::Services s;
        s.store = &store;
        s.setLaunchAtLogin = [this](bool enabled) {
            ++launchCalls;
            if (refuseLaunchAtLogin)
                throw std::runtime_error("refused");
            launchEnabled = enabled;
        };
        s.launchAtLoginEnabled = [this] { return launchEnabled; };
        s.openSettings = [this] { ++settingsOpened; };
        s.practice = {&store, &watcher, &workspace, dir.filePath(QStringLiteral("Practice")), opensByRest};
        return s;
    }

    OnboardingWindowController& controller()
    {
        if (!m_controller)
            m_controller = std::make_unique<OnboardingWindowController>(services());
        return *m_controller;
    }

    ~OnboardingWindowTest() override
    {
        // The photo is made on a pool thread: let it finish before the folder goes.
        if (m_controller)
            waitFor([&] { return m_controller->window()->practiceArea()->isReady(); });
    }

    QTemporaryDir dir;
    SettingsStore store{QString()};
    FakeClock clock;
    DragWatcher watcher{nullptr, store, clock};
    NullWorkspace workspace;
    bool launchEnabled = false;
    bool opensByRest = false; // drags hear no keys, as on sway
    bool refuseLaunchAtLogin = false;
    int launchCalls = 0;
    int settingsOpened = 0;

private:
    std::unique_ptr<OnboardingWindowController> m_controller;
};

TEST_F(OnboardingWindowTest, EveryCloseRecordsThatOnboardingIsDone)
{
    OnboardingView* window = controller().window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Welcome to Quorvenda"));
    controller().show();
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(window->width(), OnboardingView::contentWidth);
    EXPECT_FALSE(store.boolValue(SettingsKey::onboardingDone));

    // The title bar's close button.
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(store.boolValue(SettingsKey::onboardingDone));

    // Done, on the same window shown again.
    store.remove(SettingsKey::onboardingDone);
    controller().show();
    EXPECT_TRUE(window->isVisible());
    window->doneButton()->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(store.boolValue(SettingsKey::onboardingDone));
    EXPECT_TRUE(window->doneButton()->isDefault());
}

TEST_F(OnboardingWindowTest, ShownCentredOnceAndASecondShowNeitherMovesNorResizes)
{
    controller().show();
    OnboardingView* window = controller().window();
    const QPoint centre = window->screen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 2);
    window->move(window->pos() + QPoint(37, 23));
    window->resize(window->width(), window->height() + 40);
    const QRect before = window->geometry();
    controller().show();
    EXPECT_EQ(window->geometry(), before);
    EXPECT_TRUE(window->isVisible());

    // Closed and shown again: centred anew.
    window->close();
    controller().show();
    EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 2);
}

// Where drags hear no keys, the cards say how many rests bring each wheel, and the window
// asks for no tap.
TEST_F(OnboardingWindowTest, WhereDragsHearNoKeysTheCardsCountTheRests)
{
    opensByRest = true;
    OnboardingView* window = controller().window();
    EXPECT_EQ(window->cardKeys(), (QStringList{"Rest", "Rest ×2", "Rest ×3"}));
    store.setValue(SettingsKey::triggerTools, QStringLiteral("off"));
    EXPECT_EQ(window->cardKeys(), (QStringList{"Rest", "–", "Rest ×2"}));
    for (const QLabel* label : window->findChildren<QLabel*>())
        EXPECT_FALSE(label->text().contains(QStringLiteral("tap "))) << qPrintable(label->text());
}

TEST_F(OnboardingWindowTest, CardsShowTheKeysAndFollowTheSettings)
{
    OnboardingView* window = controller().window();
    // Before any setting was written: the keys the wheels start with.
    EXPECT_EQ(window->cardKeys(), (QStringList{"Shift", "Super", "Ctrl"}));

    store.setValue(SettingsKey::triggerConvert, QStringLiteral("off"));
    store.setValue(SettingsKey::triggerTools, QStringLiteral("hyper"));
    store.setValue(SettingsKey::triggerActions, QStringLiteral("option"));
    EXPECT_EQ(window->cardKeys(), (QStringList{"–", "–", "Alt"}));
    EXPECT_TRUE(window->practiceArea()->sentence().startsWith(
        QStringLiteral("Drag the photo, tap  while dragging")));

    store.setValue(SettingsKey::triggerConvert, QStringLiteral("control"));
    EXPECT_EQ(window->cardKeys().first(), QStringLiteral("Ctrl"));

    // What the window says names this desktop's things.
    QStringList texts;
    for (const QLabel* label : window->findChildren<QLabel*>())
        texts.append(label->text());
    EXPECT_TRUE(texts.contains(QStringLiteral(
        "Convert, edit and share files in the middle of a drag, without leaving your file manager.")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Send to Device, copy, move…")));
    for (const QString& text : texts) {
        for (const char* foreign : {"Finder", "this Mac", "AirDrop"})
            EXPECT_FALSE(text.contains(QLatin1String(foreign))) << qPrintable(text);
    }
}

TEST_F(OnboardingWindowTest, TheLaunchSwitchSettlesOnTheRealState)
{
    OnboardingView* window = controller().window();
    QCheckBox* launch = window->launchAtLoginSwitch();
    EXPECT_FALSE(launch->isChecked());
    launch->click();
    EXPECT_TRUE(launch->isChecked());
    EXPECT_TRUE(launchEnabled);

    launch->click();
    EXPECT_FALSE(launch->isChecked());

    refuseLaunchAtLogin = true;
    launch->click();
    EXPECT_EQ(launchCalls, 3);
    EXPECT_FALSE(launch->isChecked());
}

TEST_F(OnboardingWindowTest, SettingsOpensTheSettingsAndLeavesTheWindowOpen)
{
    controller().show();
    OnboardingView* window = controller().window();
    window->settingsButton()->click();
    EXPECT_EQ(settingsOpened, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(store.boolValue(SettingsKey::onboardingDone));
}

TEST_F(OnboardingWindowTest, GettingStartedShowsTheWindow)
{
    JobCenter center(store, clock);
    NullWorkspace desktop;
    MenuActions actions(center, store, desktop);
    OnboardingWindowController::installMenuHook(actions, [this]() -> OnboardingWindowController& {
        return controller();
    });
    actions.showOnboarding();
    EXPECT_TRUE(controller().window()->isVisible());
}

} // namespace
