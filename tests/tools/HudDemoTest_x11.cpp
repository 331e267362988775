#include "support/RequireX11.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

namespace {

const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");

} // namespace

TEST(HudDemo, PillsStandAtTheTopRightAndTheToastAboveTheBottomCentre)
{
    QV_REQUIRE_X11();
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X server";
    QTemporaryDir dir;
    const QString shot = dir.filePath(QStringLiteral("hud.png"));
    QProcess demo;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The demo must show its toast, and must not touch the user's settings.
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("QUORVENDA_SETTINGS_FILE"), dir.filePath(QStringLiteral("settings.json")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    demo.setProcessEnvironment(env);
    demo.start(driver, {QStringLiteral("hud-demo"), QStringLiteral("--jobs"), QStringLiteral("5"), QStringLiteral("--toast"),
                        QStringLiteral("Hello"), QStringLiteral("--screenshot"), shot});
    ASSERT_TRUE(demo.waitForFinished(30000));
    ASSERT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().constData();

    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    const int w = image.width();
    const int h = image.height();
    const QColor background = image.pixelColor(w / 4, h / 2);
    auto isPanel = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c != background && c.lightness() > 200;
    };
    auto isBackground = [&](int x, int y) { return image.pixelColor(x, y) == background; };

    // Four pills 14 from the right and top edges, 64 apart, then "+1 more" 8 below them.
    const int pillMiddle = w - 14 - 344 / 2;
    for (int i = 0; i < 4; ++i) {
        const int top = 14 + 64 * i;
        EXPECT_TRUE(isBackground(pillMiddle, top - 3)) << i;
        EXPECT_TRUE(isPanel(pillMiddle, top + 4)) << i;
        EXPECT_TRUE(isPanel(w - 14 - 340, top + 28)) << i;
        EXPECT_TRUE(isPanel(pillMiddle + 60, top + 52)) << i;
        EXPECT_TRUE(isBackground(w - 14 + 3, top + 28)) << i;
    }
    const int overflowTop = 14 + 64 * 3 + 56 + 8;
    EXPECT_TRUE(isBackground(pillMiddle, overflowTop - 3));
    EXPECT_TRUE(isPanel(pillMiddle - 120, overflowTop + 14));
    EXPECT_TRUE(isPanel(pillMiddle + 120, overflowTop + 14));
    EXPECT_TRUE(isBackground(pillMiddle, overflowTop + 28 + 3));
    // The overflow pill's text: darker pixels at its middle.
    bool text = false;
    for (int x = pillMiddle - 30; x < pillMiddle + 30 && !text; ++x)
        text = image.pixelColor(x, overflowTop + 14).lightness() < 180;
    EXPECT_TRUE(text);
    // Nothing else on that side of the screen.
    EXPECT_TRUE(isBackground(pillMiddle, overflowTop + 80));

    // The toast: its bottom edge 72 above the screen's bottom, centred on the pointer's screen.
    const int toastBottom = h - 72;
    EXPECT_TRUE(isBackground(w / 2, toastBottom + 2));
    EXPECT_TRUE(isPanel(w / 2, toastBottom - 3) || image.pixelColor(w / 2, toastBottom - 3) != background);
    int top = toastBottom - 1;
    while (top > toastBottom - 120 && !isBackground(w / 2, top))
        --top;
    const int middleRow = (top + toastBottom) / 2;
    EXPECT_GT(toastBottom - top, 25);
    int left = w / 2;
    while (left > 0 && !isBackground(left - 1, middleRow))
        --left;
    int right = w / 2;
    while (right < w - 1 && !isBackground(right + 1, middleRow))
        ++right;
    EXPECT_NEAR((left + right) / 2.0, w / 2.0, 2.0);
    EXPECT_GT(right - left, 50);
    EXPECT_LE(right - left, 520);
}
