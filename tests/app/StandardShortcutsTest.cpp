#include "app/StandardShortcuts.h"
#include "app/tray/MenuActions.h"
#include "jobs/JobCenter.h"
#include "model/settings/SettingsDefaults.h"
#include "platform/desktop/Workspace.h"
#include "platform/settings/SettingsStore.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QKeySequenceEdit>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

using namespace qv;

namespace {

struct NoWorkspace : Workspace {
    bool open(const QUrl&) override { return true; }
    void reveal(const QList<QUrl>&) override {}
};

void press(QWidget* target, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier,
           const QString& text = QString())
{
    QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &event);
}

} // namespace

TEST(StandardShortcutsTest, KeysNoWidgetTookReachTheCommands)
{
    EXPECT_EQ(StandardShortcuts::commandFor(QKeyEvent(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier)),
              StandardCommand::closeWindow);
    EXPECT_EQ(StandardShortcuts::commandFor(QKeyEvent(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier)),
              StandardCommand::quit);
    EXPECT_EQ(StandardShortcuts::commandFor(QKeyEvent(QEvent::KeyPress, Qt::Key_Comma, Qt::ControlModifier)),
              StandardCommand::openSettings);
    EXPECT_EQ(StandardShortcuts::commandFor(QKeyEvent(QEvent::KeyPress, Qt::Key_Q, Qt::NoModifier)),
              StandardCommand::none);

    SettingsStore store{QString()};
    registerDefaultSettings(store);
    test::FakeClock clock;
    JobCenter center(store, clock);
    NoWorkspace workspace;
    MenuActions actions(center, store, workspace);
    QStringList called;
    MenuActions::Hooks hooks;
    hooks.openSettings = [&] { called.append(QStringLiteral("settings")); };
    hooks.exitApplication = [&] { called.append(QStringLiteral("exit")); };
    actions.setHooks(hooks);

    StandardShortcuts shortcuts(actions);
    qApp->installEventFilter(&shortcuts);

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* field = new QLineEdit;
    auto* recorder = new QKeySequenceEdit;
    layout->addWidget(field);
    layout->addWidget(recorder);
    window.show();

    // A text field ignores these keys, so they reach the window.
    press(field, Qt::Key_Comma);
    press(field, Qt::Key_Q);
    EXPECT_EQ(called, (QStringList{"settings", "exit"}));
    // A shortcut recorder keeps every key it is given.
    press(recorder, Qt::Key_Q);
    EXPECT_EQ(called.size(), 2);
    // Plain typing is left alone.
    press(field, Qt::Key_Q, Qt::NoModifier, QStringLiteral("q"));
    EXPECT_EQ(field->text(), QStringLiteral("q"));

    EXPECT_TRUE(window.isVisible());
    press(field, Qt::Key_W);
    EXPECT_FALSE(window.isVisible());

    qApp->removeEventFilter(&shortcuts);
}
