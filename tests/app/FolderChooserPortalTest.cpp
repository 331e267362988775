// Move's folder is chosen in the desktop's own dialog through the FileChooser portal; when the
// portal cannot show one, Qt's dialog asks instead.

#include "app/actions/FileDialogFolderChooser.h"
#include "support/FakeFileChooserPortal.h"
#include "support/WaitFor.h"

#include <QApplication>
#include <QFileDialog>

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

TEST_F(FileChooserPortalTest, MovesFolderComesFromThePortalAndQtsDialogStandsInWhenItFails)
{
    startPortal();
    FileDialogFolderChooser chooser(PortalFileChooser(connection(QStringLiteral("app"))));
    portal->answerWith(0, {QStringLiteral("file:///srv/Photos")});
    std::optional<QString> chosen;
    chooser.chooseFolder(QStringLiteral("Move “a.txt” to:"), QStringLiteral("Move Here"), QStringLiteral("/srv"),
                         [&](const QString& folder) { chosen = folder; });
    ASSERT_TRUE(waitFor([&] { return chosen.has_value(); }));
    EXPECT_EQ(*chosen, QStringLiteral("/srv/Photos"));
    const QList<FakeFileChooser::Call> calls = portal->calls();
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].title, QStringLiteral("Move “a.txt” to:"));
    EXPECT_EQ(calls[0].options.value(QStringLiteral("accept_label")).toString(), QStringLiteral("Move Here"));
    EXPECT_TRUE(calls[0].options.value(QStringLiteral("directory")).toBool());

    // The portal could not show its dialog: Qt's, with the same words.
    portal->answerWith(2, {});
    chooser.chooseFolder(QStringLiteral("Move “b.txt” to:"), QStringLiteral("Move Here"), QStringLiteral("/srv"),
                         [](const QString&) {});
    QFileDialog* dialog = nullptr;
    ASSERT_TRUE(waitFor([&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* found = qobject_cast<QFileDialog*>(widget); found && found->isVisible())
                dialog = found;
        }
        return dialog != nullptr;
    }));
    EXPECT_EQ(dialog->labelText(QFileDialog::LookIn), QStringLiteral("Move “b.txt” to:"));
    dialog->reject();
}
