#include "app/actions/FileDialogFolderChooser.h"
#include "app/tray/PopupMenuPresenter.h"
#include "support/RequireX11.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

TEST(PopupMenuPresenter, ShowsTheEntriesAtThePointAndReportsTheChoice)
{
    QV_REQUIRE_X11();
    PopupMenuPresenter presenter;
    std::optional<int> chosen;
    presenter.popUp({{QStringLiteral("Move “a” to"), {}, {}, false, false},
                     {QStringLiteral("Photos"), QStringLiteral("/home/u/Photos"), QStringLiteral("folder"), true, false},
                     MenuEntry::separator(),
                     {QStringLiteral("Choose Folder…"), {}, {}, true, false}},
                    QPointF(300, 200), [&](int index) { chosen = index; });
    ASSERT_TRUE(waitFor([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); }));
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("Photos"));
    EXPECT_EQ(actions[1]->toolTip(), QStringLiteral("/home/u/Photos"));
    EXPECT_TRUE(actions[2]->isSeparator());
    EXPECT_EQ(menu->pos(), QPoint(300, 200));
    actions[3]->trigger();
    EXPECT_EQ(chosen, 3);
    menu->close();
    ASSERT_TRUE(waitFor([] { return !QApplication::activePopupWidget(); }));

    // Dismissed: no answer.
    chosen.reset();
    presenter.popUp({{QStringLiteral("x"), {}, {}, true, false}}, QPointF(10, 10), [&](int index) { chosen = index; });
    ASSERT_TRUE(waitFor([] { return QApplication::activePopupWidget(); }));
    QApplication::activePopupWidget()->close();
    ASSERT_TRUE(waitFor([] { return !QApplication::activePopupWidget(); }));
    EXPECT_FALSE(chosen);
}

TEST(FileDialogFolderChooser, AsksForAFolderWithTheMessageAndMoveHere)
{
    QV_REQUIRE_X11();
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    FileDialogFolderChooser chooser;
    std::optional<QString> chosen;
    const auto dialog = [] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<QFileDialog*>(widget); found && found->isVisible())
                return found;
        }
        return static_cast<QFileDialog*>(nullptr);
    };
    chooser.chooseFolder(QStringLiteral("Move “a.txt” to:"), QStringLiteral("Move Here"), dir.path(),
                         [&](const QString& folder) { chosen = folder; });
    ASSERT_TRUE(waitFor([&] { return dialog(); }));
    QFileDialog* shown = dialog();
    EXPECT_EQ(shown->fileMode(), QFileDialog::Directory);
    EXPECT_TRUE(shown->testOption(QFileDialog::ShowDirsOnly));
    EXPECT_EQ(shown->labelText(QFileDialog::Accept), QStringLiteral("Move Here"));
    EXPECT_EQ(shown->labelText(QFileDialog::LookIn), QStringLiteral("Move “a.txt” to:"));
    EXPECT_EQ(shown->directory().absolutePath(), dir.path());
    shown->selectFile(dir.filePath(QStringLiteral("sub")));
    static_cast<QDialog*>(shown)->accept();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(*chosen, dir.filePath(QStringLiteral("sub")));
    ASSERT_TRUE(waitFor([&] { return !dialog(); }));

    // Cancelled: no answer.
    chosen.reset();
    chooser.chooseFolder(QStringLiteral("m"), QStringLiteral("Move Here"), dir.path(),
                         [&](const QString& folder) { chosen = folder; });
    ASSERT_TRUE(waitFor([&] { return dialog(); }));
    dialog()->reject();
    ASSERT_TRUE(waitFor([&] { return !dialog(); }));
    EXPECT_FALSE(chosen);
}
