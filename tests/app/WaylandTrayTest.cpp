// The tray icon on a real tray host: waybar in a headless sway or KWin, with its own tray. The
// host reads our menu at once, and a click on the icon opens it as waybar's own menu, never as
// a window that sway would tile across the screen.

#include "support/HeadlessCompositor.h"
#include "support/SwayTree.h"
#include "support/WaitFor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <list>

using namespace qv::test;

namespace {

constexpr int timeoutMs = 20000;
constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;
constexpr int barHeight = 30;
const QString buildDir = QStringLiteral(QV_BUILD_DIR "/tests/");

// The windows sway lays out (views have a process), counted over the whole tree.
qsizetype views(const QJsonObject& tree)
{
    const QList<QJsonObject> nodes = swayNodes(tree);
    return std::count_if(nodes.cbegin(), nodes.cend(), [](const QJsonObject& node) { return node.contains(QStringLiteral("pid")); });
}

class WaylandTray : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (platforms.entryList({QStringLiteral("libqwayland-generic*")}).isEmpty())
            GTEST_SKIP() << "Qt's Wayland platform is not installed";
        if (QStandardPaths::findExecutable(QStringLiteral("waybar")).isEmpty())
            GTEST_SKIP() << "waybar is not installed";
        ASSERT_TRUE(files.isValid());
    }

    void TearDown() override
    {
        for (QProcess& process : processes) {
            if (process.state() != QProcess::NotRunning) {
                process.kill();
                process.waitForFinished(5000);
            }
        }
        if (HasFailure())
            std::fprintf(stderr, "tray:\n%s\nwaybar:\n%s\n", trayLog.right(3000).constData(),
                         bar ? bar->readAll().right(3000).constData() : "");
    }

    QProcess& start(const QString& program, const QStringList& arguments, const QProcessEnvironment& env)
    {
        QProcess& process = processes.emplace_back();
        process.setProcessEnvironment(env);
        process.start(program, arguments);
        return process;
    }

    // Waits for the tray program to log this call of the host's after the log's first bytes.
    bool waitForCall(QProcess& tray, const QString& call, qsizetype after, int ms = timeoutMs)
    {
        const QByteArray line = ("Tray menu: " + call).toUtf8();
        return waitFor([&] {
            trayLog += tray.readAllStandardError();
            return trayLog.indexOf(line, after) >= 0 || tray.state() == QProcess::NotRunning;
        }, ms) && trayLog.indexOf(line, after) >= 0;
    }

    // waybar's tray on the compositor started, our icon on it, and a click on the icon.
    void clickOpensTheMenu(bool sway);

    HeadlessCompositor compositor;
    QTemporaryDir files;
    std::list<QProcess> processes;
    QProcess* bar = nullptr;
    QByteArray trayLog;
};

} // namespace

void WaylandTray::clickOpensTheMenu(bool sway)
{
    const QProcessEnvironment env = compositor.clientEnvironment();
    QFile config(files.filePath(QStringLiteral("waybar.json")));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    ASSERT_GT(config.write(QStringLiteral(R"({"layer": "top", "position": "top", "height": %1,
                                              "modules-right": ["tray"], "tray": {"icon-size": 16}})")
                               .arg(barHeight).toUtf8()), 0);
    config.close();
    QProcessEnvironment barEnv = env;
    barEnv.insert(QStringLiteral("HOME"), files.path());
    barEnv.insert(QStringLiteral("XDG_CONFIG_HOME"), files.filePath(QStringLiteral("config")));
    bar = &start(QStringLiteral("waybar"), {QStringLiteral("-c"), config.fileName()}, barEnv);
    bar->setProcessChannelMode(QProcess::MergedChannels);
    // Its tray is up once its watcher is on the bus.
    QDBusConnection bus = QDBusConnection::connectToBus(compositor.busAddress(), QStringLiteral("waylandtray"));
    ASSERT_TRUE(waitFor([&] {
        return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value()
            || bar->state() == QProcess::NotRunning;
    }, timeoutMs) && bar->state() == QProcess::Running);

    QProcess& tray = start(buildDir + QStringLiteral("quorvenda_test_wayland_tray"), {}, env);
    ASSERT_TRUE(waitFor([&] { return tray.canReadLine() || tray.state() == QProcess::NotRunning; }, timeoutMs));
    EXPECT_EQ(tray.readLine().trimmed(), QByteArray("ready"));
    // waybar reads the item and its menu as soon as the icon is registered.
    EXPECT_TRUE(waitForCall(tray, QStringLiteral("GetLayout"), 0));

    QProcess& input = start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                            {QString::number(screenWidth), QString::number(screenHeight)}, env);
    ASSERT_TRUE(waitFor([&] { return input.canReadLine() || input.state() == QProcess::NotRunning; }, timeoutMs));
    ASSERT_TRUE(input.readLine().startsWith("ready"));
    waitFor([] { return false; }, 300);
    trayLog += tray.readAllStandardError();
    const qsizetype beforeClick = trayLog.size();
    // The only icon sits at the bar's right end. Clicked again while the menu has not opened:
    // a busy machine may draw the icon a moment after the host read the menu.
    bool opened = false;
    for (int attempt = 0; attempt < 5 && !opened; ++attempt) {
        for (const QString& command : {QStringLiteral("move %1 %2").arg(screenWidth - 30).arg(barHeight / 2),
                                       QStringLiteral("move %1 %2").arg(screenWidth - 18).arg(barHeight / 2),
                                       QStringLiteral("down"), QStringLiteral("up")}) {
            input.write((command + QLatin1Char('\n')).toUtf8());
            ASSERT_TRUE(waitFor([&] { return input.canReadLine() || input.state() == QProcess::NotRunning; }, timeoutMs));
            ASSERT_EQ(input.readLine().trimmed(), QByteArray("ok"));
        }
        // libdbusmenu asks the menu to fill itself as it opens it.
        opened = waitForCall(tray, QStringLiteral("AboutToShow"), beforeClick, 4000);
    }
    EXPECT_TRUE(opened);
    waitFor([] { return false; }, 300);
    if (sway) {
        const QJsonObject tree = swayTree(compositor);
        EXPECT_FALSE(tree.isEmpty());
        EXPECT_EQ(views(tree), 0) << "a window was laid out: " << QJsonDocument(tree).toJson().constData();
    }
    EXPECT_EQ(tray.state(), QProcess::Running);
    // libdbusmenu found nothing wrong in what it read (it warns of an item it cannot read).
    const QByteArray barLog = bar->readAll();
    EXPECT_FALSE(barLog.contains("LIBDBUSMENU")) << barLog.right(2000).constData();
    bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QStringLiteral("waylandtray"));
}

TEST_F(WaylandTray, OnSwayWaybarOpensTheMenuOnAClickAndNoWindowIsLaidOut)
{
    compositor.startSway(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    clickOpensTheMenu(true);
}

TEST_F(WaylandTray, OnKWinWaybarOpensTheMenuOnAClick)
{
    compositor.startKWin(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    clickOpensTheMenu(false);
}
