#include "app/tray/SystemStatusTray.h"

#include <gtest/gtest.h>

#include <QMimeData>

using namespace qv;

TEST(SystemStatusTray, TheWheelOpensBesideTheIconOnTheScreenSideOfItsPanel)
{
    const QRectF screen(0, 0, 1920, 1080);
    // A top panel: the wheel's centre is its radius and 20 pixels below the icon.
    EXPECT_EQ(SystemStatusTray::wheelAnchor(QRectF(900, 4, 24, 24), screen, 240), QPointF(912, 28 + 260));
    // A bottom panel: as far above it.
    EXPECT_EQ(SystemStatusTray::wheelAnchor(QRectF(900, 1052, 24, 24), screen, 210), QPointF(912, 1052 - 230));
    // In the corner the wheel stays whole on the screen.
    EXPECT_EQ(SystemStatusTray::wheelAnchor(QRectF(1890, 4, 24, 24), screen, 180), QPointF(1920 - 180, 28 + 200));
    // On a second screen to the right.
    EXPECT_EQ(SystemStatusTray::wheelAnchor(QRectF(2900, 4, 24, 24), QRectF(1920, 0, 2560, 1440), 210),
              QPointF(2912, 28 + 230));
}

TEST(SystemStatusTray, OnlyLocalFilesAreTaken)
{
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/a.png")), QUrl(QStringLiteral("https://example.org/b.png"))});
    EXPECT_EQ(SystemStatusTray::droppedFiles(&files), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.png"))});
    QMimeData text;
    text.setText(QStringLiteral("hello"));
    EXPECT_TRUE(SystemStatusTray::droppedFiles(&text).isEmpty());
    QMimeData link;
    link.setUrls({QUrl(QStringLiteral("https://example.org/"))});
    EXPECT_TRUE(SystemStatusTray::droppedFiles(&link).isEmpty());
    EXPECT_TRUE(SystemStatusTray::droppedFiles(nullptr).isEmpty());
}
