// The settings' choices of a folder, a terminal and a settings file go to the desktop's own
// dialog through the FileChooser portal, with the settings window kept from starting another.

#include "settings/SettingsPanels.h"
#include "support/FakeFileChooserPortal.h"

#include <QWidget>

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

TEST_F(FileChooserPortalTest, TheSettingsChoicesOpenThePortalsDialog)
{
    startPortal();
    FileDialogSettingsPanels panels(PortalFileChooser(connection(QStringLiteral("app"))));
    QWidget window;
    portal->answerWith(0, {QStringLiteral("file:///srv/photos")});
    EXPECT_EQ(panels.chooseFolder(&window, QStringLiteral("/srv")), std::optional<QString>(QStringLiteral("/srv/photos")));
    // Enabled again once the answer came.
    EXPECT_TRUE(window.isEnabled());

    portal->answerWith(0, {QStringLiteral("file:///usr/share/applications/foot.desktop")});
    EXPECT_EQ(panels.chooseApplication(&window), std::optional<QString>(QStringLiteral("/usr/share/applications/foot.desktop")));

    // A name without a suffix gets ".json", as Qt's dialog gives it.
    portal->answerWith(0, {QStringLiteral("file:///srv/mine")});
    EXPECT_EQ(panels.chooseExportFile(&window), std::optional<QString>(QStringLiteral("/srv/mine.json")));
    portal->answerWith(1, {});
    EXPECT_EQ(panels.chooseImportFile(&window), std::nullopt);

    const QList<FakeFileChooser::Call> calls = portal->calls();
    ASSERT_EQ(calls.size(), 4);
    EXPECT_EQ(calls[0].method, QStringLiteral("OpenFile"));
    EXPECT_TRUE(calls[0].options.value(QStringLiteral("directory")).toBool());
    EXPECT_EQ(calls[0].options.value(QStringLiteral("accept_label")).toString(), QStringLiteral("Choose"));
    EXPECT_EQ(calls[1].filters, QStringLiteral("Applications:*.desktop;Programs:*"));
    EXPECT_EQ(calls[2].method, QStringLiteral("SaveFile"));
    EXPECT_EQ(calls[2].options.value(QStringLiteral("current_name")).toString(), QStringLiteral("Quorvenda Settings.json"));
    EXPECT_EQ(calls[3].filters, QStringLiteral("JSON:*.json"));
}
