// A window of ours that hides while it draws, on sway: Qt 6.4.2 frees its frame callback twice
// when the hide meets the compositor's answer to a frame, and libwayland aborts the program.
// That took the application down at a drop on the wheel now and then.

#include "platform/wayland/FramedHide.h"
#include "support/HeadlessCompositor.h"
#include "support/WaitFor.h"

#include <QGuiApplication>
#include <QLibraryInfo>
#include <QDir>
#include <QProcess>
#include <QWindow>

#include <gtest/gtest.h>

using namespace qv;
using namespace qv::test;

TEST(FramedHide, AWindowThatHidesWhileItDrawsOnSwayHidesEveryTimeWithoutAborting)
{
    const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    if (platforms.entryList({QStringLiteral("libqwayland-generic*")}).isEmpty())
        GTEST_SKIP() << "Qt's Wayland platform is not installed";
    HeadlessCompositor compositor;
    compositor.startSway(1280, 800);
    if (::testing::Test::IsSkipped() || ::testing::Test::HasFatalFailure())
        return;
    QProcess host;
    QProcessEnvironment env = compositor.clientEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    host.setProcessEnvironment(env);
    // Four windows, 300 hides each: plain hides aborted in three runs of four.
    host.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_wayland_hides"), {QStringLiteral("300")});
    ASSERT_TRUE(host.waitForFinished(240000)) << "the windows did not hide in time";
    const QString said = QString::fromUtf8(host.readAllStandardOutput()).trimmed();
    EXPECT_EQ(host.exitStatus(), QProcess::NormalExit) << host.readAllStandardError().constData();
    EXPECT_EQ(host.exitCode(), 0);
    const QStringList words = said.split(QLatin1Char(' '));
    ASSERT_EQ(words.size(), 3) << said.toStdString();
    EXPECT_EQ(words[1], QStringLiteral("1200"));
    // The compositor answers a window it draws: the time limit is for one it does not.
    EXPECT_LT(words[2].toInt(), 600) << said.toStdString();
}

// Off Wayland, and for a window not shown, a hide is at once; a window shown again forgets the
// hide it waited for.
TEST(FramedHide, HidesAtOnceOffWaylandAndForAWindowNotShown)
{
    QWindow window;
    bool hidden = false;
    FramedHide::run(&window, [&] { hidden = true; });
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(FramedHide::isWaiting(&window));
    hidden = false;
    FramedHide::run(nullptr, [&] { hidden = true; });
    EXPECT_TRUE(hidden);
}
