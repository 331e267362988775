// The tray icon on a real tray host: waybar in a headless sway or KWin, with its own tray. The
// host reads our menu at once, and a click on the icon opens it as waybar's own menu, never as
// a window that sway would tile across the screen. The pills keep clear of the bar and of that
// menu, as the compositor shows them (grim on sway, KWin's own screenshots on KWin).

#include "support/HeadlessCompositor.h"
#include "support/KWinDesktop.h"
#include "support/SwayTree.h"
#include "support/WaitFor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QImage>
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

// A run of screen rows, [top, bottom), that show something light: a pill or a menu.
struct Band {
    int top = 0;
    int bottom = 0;
    int height() const { return bottom - top; }
    bool operator==(const Band&) const = default;
};

// The runs of rows with light pixels between these columns, top to bottom.
QList<Band> lightBands(const QImage& shot, int left, int right)
{
    QList<Band> bands;
    for (int y = 0; y < shot.height(); ++y) {
        bool light = false;
        for (int x = left; x < right && !light; ++x)
            light = qGray(shot.pixel(x, y)) >= 200;
        if (!light)
            continue;
        if (!bands.isEmpty() && bands.last().bottom == y)
            bands.last().bottom = y + 1;
        else
            bands.append({y, y + 1});
    }
    return bands;
}

QByteArray describe(const QList<Band>& bands)
{
    QString text = QStringLiteral("%1 band(s):").arg(bands.size());
    for (const Band& band : bands)
        text += QStringLiteral(" %1-%2").arg(band.top).arg(band.bottom);
    return text.toUtf8();
}

// The screen as the compositor shows it; null when grim could not take it.
QImage screenshot(const HeadlessCompositor& compositor, const QString& path)
{
    QProcess grim;
    grim.setProcessEnvironment(compositor.clientEnvironment());
    grim.start(QStringLiteral("grim"), {path});
    if (!grim.waitForFinished(timeoutMs) || grim.exitStatus() != QProcess::NormalExit || grim.exitCode() != 0)
        return {};
    return QImage(path);
}

// Where the windows' area begins below the bars' exclusive zones at the top: sway's workspace.
int swayWorkspaceTop(const HeadlessCompositor& compositor)
{
    for (const QJsonObject& node : swayNodes(swayTree(compositor))) {
        if (node.value(QStringLiteral("type")).toString() == QLatin1String("workspace")
            && !node.value(QStringLiteral("name")).toString().startsWith(QLatin1String("__")))
            return node.value(QStringLiteral("rect")).toObject().value(QStringLiteral("y")).toInt();
    }
    return -1;
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

    // waybar with its tray at the top of the compositor started, its watcher on the bus.
    void startBar();
    // The pointer driver; null when it did not start.
    QProcess* startInput();
    bool send(QProcess& input, const QString& command);
    // waybar's tray on the compositor started, our icon on it, and a click on the icon.
    void clickOpensTheMenu(bool sway);
    // A pill below waybar's bar on the compositor started, below its open menu, and back up.
    void pillsStandClear(bool sway);

    HeadlessCompositor compositor;
    QTemporaryDir files;
    std::list<QProcess> processes;
    QProcess* bar = nullptr;
    QByteArray trayLog;
};

} // namespace

void WaylandTray::startBar()
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
    // Its menu drawn light whatever theme the machine's user chose: the pills' test finds it so.
    barEnv.insert(QStringLiteral("GTK_THEME"), QStringLiteral("Adwaita"));
    bar = &start(QStringLiteral("waybar"), {QStringLiteral("-c"), config.fileName()}, barEnv);
    bar->setProcessChannelMode(QProcess::MergedChannels);
    // Its tray is up once its watcher is on the bus.
    QDBusConnection bus = QDBusConnection::connectToBus(compositor.busAddress(), QStringLiteral("waylandtray"));
    ASSERT_TRUE(waitFor([&] {
        return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value()
            || bar->state() == QProcess::NotRunning;
    }, timeoutMs) && bar->state() == QProcess::Running);
    bus = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(QStringLiteral("waylandtray"));
}

QProcess* WaylandTray::startInput()
{
    QProcess& input = start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                            {QString::number(screenWidth), QString::number(screenHeight)},
                            compositor.clientEnvironment());
    if (!waitFor([&] { return input.canReadLine() || input.state() == QProcess::NotRunning; }, timeoutMs)
        || !input.readLine().startsWith("ready"))
        return nullptr;
    return &input;
}

bool WaylandTray::send(QProcess& input, const QString& command)
{
    input.write((command + QLatin1Char('\n')).toUtf8());
    return waitFor([&] { return input.canReadLine() || input.state() == QProcess::NotRunning; }, timeoutMs)
        && input.readLine().trimmed() == "ok";
}

void WaylandTray::clickOpensTheMenu(bool sway)
{
    const QProcessEnvironment env = compositor.clientEnvironment();
    startBar();
    if (HasFatalFailure())
        return;
    QProcess& tray = start(buildDir + QStringLiteral("quorvenda_test_wayland_tray"), {}, env);
    ASSERT_TRUE(waitFor([&] { return tray.canReadLine() || tray.state() == QProcess::NotRunning; }, timeoutMs));
    EXPECT_EQ(tray.readLine().trimmed(), QByteArray("ready"));
    // waybar reads the item and its menu as soon as the icon is registered.
    EXPECT_TRUE(waitForCall(tray, QStringLiteral("GetLayout"), 0));

    QProcess* driver = startInput();
    ASSERT_TRUE(driver);
    QProcess& input = *driver;
    waitFor([] { return false; }, 300);
    trayLog += tray.readAllStandardError();
    const qsizetype beforeClick = trayLog.size();
    // The only icon sits at the bar's right end. Clicked again while the menu has not opened:
    // a busy machine may draw the icon a moment after the host read the menu.
    bool opened = false;
    for (int attempt = 0; attempt < 5 && !opened; ++attempt) {
        for (const QString& command : {QStringLiteral("move %1 %2").arg(screenWidth - 30).arg(barHeight / 2),
                                       QStringLiteral("move %1 %2").arg(screenWidth - 18).arg(barHeight / 2),
                                       QStringLiteral("down"), QStringLiteral("up")})
            ASSERT_TRUE(send(input, command));
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

void WaylandTray::pillsStandClear(bool sway)
{
    startBar();
    if (HasFatalFailure())
        return;
    const auto workspaceTop = [&] { return sway ? swayWorkspaceTop(compositor) : kwinWorkAreaTop(compositor); };
    int barBottom = -1;
    ASSERT_TRUE(waitFor([&] { return (barBottom = workspaceTop()) >= barHeight; }, timeoutMs)) << barBottom;

    // Pills drawn light, as Qt's own palette has them, whatever the machine's theme.
    QProcessEnvironment pillsEnv = compositor.clientEnvironment();
    pillsEnv.remove(QStringLiteral("QT_QPA_PLATFORMTHEME"));
    pillsEnv.remove(QStringLiteral("QT_STYLE_OVERRIDE"));
    QProcess& pills = start(buildDir + QStringLiteral("quorvenda_test_wayland_pills"), {}, pillsEnv);
    QByteArray said;
    const auto waitForLine = [&](const QByteArray& prefix, qsizetype after, int ms = timeoutMs) {
        qsizetype at = -1;
        waitFor([&] {
            said += pills.readAllStandardOutput();
            trayLog += pills.readAllStandardError();
            at = said.indexOf("\n" + prefix, after);
            return (at >= 0 && said.indexOf('\n', at + 1) >= 0) || pills.state() == QProcess::NotRunning;
        }, ms);
        return at >= 0 ? said.mid(at + 1, said.indexOf('\n', at + 1) - at - 1) : QByteArray();
    };
    said = "\n";
    ASSERT_FALSE(waitForLine("ready", 0).isEmpty());

    // The pill's columns, short of the tray's icon at the bar's right end.
    const QString shotPath = files.filePath(QStringLiteral("screen.png"));
    QImage shot;
    QList<Band> bands;
    QList<Band> before;
    const auto settled = [&] {
        before = bands;
        shot = sway ? screenshot(compositor, shotPath) : kwinScreenshot(compositor);
        bands = lightBands(shot, screenWidth / 2, screenWidth - 40);
        return !shot.isNull() && bands == before;
    };
    ASSERT_TRUE(waitFor([&] { return settled() && bands.size() == 1; }, timeoutMs)) << describe(bands).constData();
    const Band home = bands.first();
    EXPECT_GE(home.top, barBottom) << "the pill lies over the bar: " << describe(bands).constData();
    EXPECT_GE(home.height(), 40) << describe(bands).constData();

    QProcess* input = startInput();
    ASSERT_TRUE(input);
    // Clicked again while the menu has not opened: a busy machine may draw the icon late.
    qsizetype heard = said.size() - 1;
    QByteArray room;
    for (int attempt = 0; attempt < 5 && room.isEmpty(); ++attempt) {
        for (const QString& command : {QStringLiteral("move %1 %2").arg(screenWidth - 30).arg(barHeight / 2),
                                       QStringLiteral("move %1 %2").arg(screenWidth - 18).arg(barHeight / 2),
                                       QStringLiteral("down"), QStringLiteral("up")})
            ASSERT_TRUE(send(*input, command));
        room = waitForLine("room ", heard, 4000);
    }
    ASSERT_FALSE(room.isEmpty());
    EXPECT_NE(room, QByteArray("room 0"));
    // The menu hangs from the bar, whole; the pill stands below it, whole too.
    EXPECT_TRUE(waitFor([&] {
        return settled() && bands.size() == 2 && bands[0].top < home.top && bands[1].height() == home.height();
    }, timeoutMs)) << describe(bands).constData();
    ASSERT_EQ(bands.size(), 2);
    const Band menu = bands[0];

    // An entry chosen closes the menu (Pause Wheel, in its middle): the pill goes back up. GTK
    // takes no click on an entry in the half second after the press that opened its menu.
    const int row = (menu.top + menu.bottom) / 2;
    int from = -1;
    int to = -1;
    for (int x = screenWidth / 2; x < screenWidth - 40; ++x) {
        if (qGray(shot.pixel(x, row)) >= 200) {
            from = from < 0 ? x : from;
            to = x;
        }
    }
    ASSERT_GE(from, 0);
    heard = said.size() - 1;
    for (const QString& command : {QStringLiteral("later 1000"), QStringLiteral("move %1 %2").arg((from + to) / 2).arg(row),
                                   QStringLiteral("down"), QStringLiteral("up"),
                                   // Off the pill's way back, which would show its tooltip.
                                   QStringLiteral("move 100 %1").arg(screenHeight - 100)})
        ASSERT_TRUE(send(*input, command));
    EXPECT_EQ(waitForLine("room ", heard), QByteArray("room 0"));
    EXPECT_TRUE(waitFor([&] { return settled() && bands == QList<Band>{home}; }, timeoutMs)) << describe(bands).constData();
    EXPECT_EQ(pills.state(), QProcess::Running);
}

TEST_F(WaylandTray, OnSwayPillsStandClearOfWaybarAndOfItsOpenMenu)
{
    if (QStandardPaths::findExecutable(QStringLiteral("grim")).isEmpty())
        GTEST_SKIP() << "grim is not installed";
    compositor.startSway(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    pillsStandClear(true);
}

TEST_F(WaylandTray, OnKWinPillsStandClearOfWaybarAndOfItsOpenMenu)
{
    compositor.startKWin(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    if (!kwinTakesScreenshots(compositor))
        GTEST_SKIP() << "KWin offers no screenshots here";
    pillsStandClear(false);
}
