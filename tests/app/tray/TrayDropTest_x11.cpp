#include "app/tray/SystemStatusTray.h"

#include "../RunningApp.h"
#include "support/TestFiles.h"

#include "support/RequireX11.h"
#include "support/WaitFor.h"
#include "support/WindowManager.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <memory>

using namespace qv;
using namespace qv::test;

namespace {

// The user's pointer, through XTest on a connection of the test's own.
class Pointer {
public:
    Pointer() : m_display(XOpenDisplay(nullptr)) {}
    ~Pointer()
    {
        if (!m_display)
            return;
        XTestFakeButtonEvent(m_display, 1, False, CurrentTime);
        XSync(m_display, False);
        XCloseDisplay(m_display);
    }
    void moveTo(QPoint at)
    {
        XTestFakeMotionEvent(m_display, -1, at.x(), at.y(), CurrentTime);
        XSync(m_display, False);
        m_at = at;
    }
    void button(bool down)
    {
        XTestFakeButtonEvent(m_display, 1, down ? True : False, CurrentTime);
        XSync(m_display, False);
    }
    QPoint at() const { return m_at; }

private:
    Display* m_display;
    QPoint m_at;
};

// A drag source in a process of its own that prints "ready <x> <y>", then "drag-start" and
// "drag-end" around its drag.
class Source {
public:
    Source(const QString& program, const QStringList& arguments)
    {
        m_process.start(program, arguments);
        waitFor([this] { return said("ready") || m_process.state() == QProcess::NotRunning; }, 20000);
        const int at = m_output.indexOf("ready ");
        if (at >= 0) {
            const QList<QByteArray> words = m_output.mid(at, m_output.indexOf('\n', at) - at).split(' ');
            if (words.size() == 3)
                centre = QPoint(words[1].toInt(), words[2].toInt());
        }
    }
    ~Source()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool said(const QByteArray& word)
    {
        m_output += m_process.readAllStandardOutput();
        return m_output.contains(word);
    }
    int count(const QByteArray& word)
    {
        said(word);
        return int(m_output.count(word));
    }

    std::optional<QPoint> centre;

private:
    QProcess m_process;
    QByteArray m_output;
};

QIcon solidIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setBrush(Qt::white);
    painter.drawEllipse(4, 4, 24, 24);
    return QIcon(pixmap);
}

class TrayDrop : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        if (QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty())
            GTEST_SKIP() << "needs trayer (scripts/install-deps.sh installs it)";
        ASSERT_TRUE(files.isValid());
        for (const QString& name : {QStringLiteral("a.png"), QStringLiteral("b c.pdf")}) {
            QFile file(files.filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            ASSERT_EQ(file.write("x"), 1);
            file.close();
            urls.append(QUrl::fromLocalFile(file.fileName()));
        }
    }

    void TearDown() override
    {
        tray.reset();
        drops.clear();
        if (trayer.state() != QProcess::NotRunning) {
            trayer.kill();
            trayer.waitForFinished(5000);
        }
    }

    // trayer at the top right of the screen, our icon docked in it.
    void dock()
    {
        trayer.start(QStringLiteral("trayer"),
                     {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                      QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"),
                      QStringLiteral("120"), QStringLiteral("--height"), QStringLiteral("32"),
                      QStringLiteral("--transparent"), QStringLiteral("false"), QStringLiteral("--SetDockType"),
                      QStringLiteral("true")});
        ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000)) << "trayer took no tray";
        tray = std::make_unique<SystemStatusTray>(
            &menu,
            [this](const QList<QUrl>& dropped, QPointF anchor) {
                drops.append(dropped);
                anchors.append(anchor);
            },
            [] { return 210.0; });
        tray->setIcon(solidIcon());
        ASSERT_TRUE(tray->iconWindow()) << "Qt made no XEmbed icon window";
        const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
        ASSERT_TRUE(waitFor([&] {
            const QRect icon = tray->iconGeometry();
            return icon.width() > 0 && icon.left() > screenWidth - 130 && icon.bottom() <= 32;
        })) << "the icon was not docked at the top right";
    }

    // Presses on the source, drags onto the icon, rests there until the icon shows it takes
    // the drag (or a while), and lets go.
    void dragOntoIcon(Source& source)
    {
        ASSERT_TRUE(source.centre) << "the drag source did not start";
        pointer.moveTo(*source.centre);
        pointer.button(true);
        for (int step = 1; step <= 6 && !source.said("drag-start"); ++step) {
            pointer.moveTo(*source.centre + QPoint(step * 5, step * 5));
            waitFor([&] { return source.said("drag-start"); }, 200);
        }
        ASSERT_TRUE(source.said("drag-start"));
        const QPoint target = tray->iconGeometry().center();
        const QPoint from = pointer.at();
        for (int step = 1; step <= 20; ++step)
            pointer.moveTo(from + (target - from) * step / 20);
        // Each move is an XdndPosition the target answers: rest with one-pixel moves until it does.
        for (int nudge = 0; nudge < 40 && !tray->isHighlighted(); ++nudge) {
            pointer.moveTo(target + QPoint(nudge % 2, 0));
            waitFor([&] { return tray->isHighlighted(); }, 250);
        }
        highlighted = highlighted || tray->isHighlighted();
        pointer.button(false);
        ASSERT_TRUE(waitFor([&] { return source.said("drag-end"); }, 15000));
    }

    void expectTheWheelBelowTheIcon()
    {
        ASSERT_TRUE(waitFor([&] { return !drops.isEmpty(); }, 15000)) << "no drop reached the icon";
        EXPECT_EQ(drops.last(), urls);
        const QRect icon = tray->iconGeometry();
        EXPECT_GT(anchors.last().y(), icon.bottom() + 210);
        const int width = QGuiApplication::primaryScreen()->geometry().width();
        EXPECT_LE(std::abs(anchors.last().x() - std::clamp(icon.center().x(), 210, width - 210)), 1.0);
        EXPECT_FALSE(tray->isHighlighted());
    }

    QTemporaryDir files;
    QList<QUrl> urls;
    QProcess trayer;
    QMenu menu;
    std::unique_ptr<SystemStatusTray> tray;
    QList<QList<QUrl>> drops;
    QList<QPointF> anchors;
    Pointer pointer;
    bool highlighted = false;
};

QStringList asArguments(const QList<QUrl>& urls)
{
    QStringList words;
    for (const QUrl& url : urls)
        words.append(url.toString(QUrl::FullyEncoded));
    return words;
}

QStringList gtkSource(const QList<QUrl>& urls)
{
    return QStringList{QStringLiteral(QV_SOURCE_DIR "/tests/support/gtkdragsource/gtk-drag-source.js")}
        + asArguments(urls);
}

} // namespace

TEST_F(TrayDrop, FilesFromAQtSourceOpenTheWheelBelowTheIconAndTextIsRefused)
{
    dock();
    if (HasFatalFailure())
        return;
    {
        Source text(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"),
                    {QStringLiteral("text"), QStringLiteral("hello")});
        dragOntoIcon(text);
        if (HasFatalFailure())
            return;
        EXPECT_FALSE(highlighted) << "text lit the icon up";
    }
    Source qt(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"),
              QStringList{QStringLiteral("files")} + asArguments(urls));
    dragOntoIcon(qt);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(highlighted);
    expectTheWheelBelowTheIcon();
    // Only the files came: the text drag before them was refused.
    EXPECT_EQ(drops.size(), 1);
}

TEST_F(TrayDrop, FilesFromAGtkSourceReachTheIcon)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gjs")).isEmpty())
        GTEST_SKIP() << "needs gjs for the GTK drag source";
    dock();
    if (HasFatalFailure())
        return;
    Source gtk(QStringLiteral("gjs"), gtkSource(urls));
    dragOntoIcon(gtk);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(highlighted);
    expectTheWheelBelowTheIcon();
}

// A window manager gives the tray's window WM_STATE, where GTK's sources stop: the tray's
// window hands the drag on to the icon.
TEST_F(TrayDrop, UnderAWindowManagerGtkAndQtSourcesReachTheIconThroughTheTray)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gjs")).isEmpty())
        GTEST_SKIP() << "needs gjs for the GTK drag source";
    QV_REQUIRE_X11();
    WindowManager manager;
    if (!manager.whyNot().isEmpty())
        GTEST_SKIP() << manager.whyNot().toStdString();
    dock();
    if (HasFatalFailure())
        return;
    {
        Source gtk(QStringLiteral("gjs"), gtkSource(urls));
        dragOntoIcon(gtk);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(highlighted);
        expectTheWheelBelowTheIcon();
    }
    highlighted = false;
    Source qt(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"),
              QStringList{QStringLiteral("files")} + asArguments(urls));
    dragOntoIcon(qt);
    if (HasFatalFailure())
        return;
    EXPECT_TRUE(highlighted);
    ASSERT_TRUE(waitFor([&] { return drops.size() == 2; }, 15000));
    EXPECT_EQ(drops.last(), urls);
}

// The program itself: its icon docked in trayer opens the Convert wheel for files dropped on it.
TEST_F(TrayDrop, TheRunningProgramOpensTheConvertWheelForFilesDroppedOnItsIcon)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "needs a session bus (test.sh runs the tests in one)";
    if (!sessionBusNameFree())
        GTEST_SKIP() << "another Quorvenda runs on this session bus";
    trayer.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                  QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"), QStringLiteral("120"),
                  QStringLiteral("--height"), QStringLiteral("32")});
    ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 20000)) << "trayer took no tray";
    RunningApp app;
    // Paused: files dropped on the icon open the wheel all the same, and the drag watcher keeps
    // out of this drag.
    ASSERT_TRUE(QDir().mkpath(app.home().filePath(QStringLiteral("config/quorvenda"))));
    writeFile(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")),
              R"({"quorvenda.paused": true})");
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("The tray icon takes dropped files"), 30000))
        << app.log().toStdString();
    // The docked icon: a small window of ours at the top right, inside trayer's.
    const int width = QGuiApplication::primaryScreen()->geometry().width();
    static const QRegularExpression line(QStringLiteral("\"quorvenda\".*\\s(\\d+)x(\\d+)\\+-?\\d+\\+-?\\d+\\s+\\+(\\d+)\\+(\\d+)"));
    QRect icon;
    waitFor([&] {
        QByteArray tree;
        runProgram(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")}, &tree);
        for (const QByteArray& row : tree.split('\n')) {
            const auto match = line.match(QString::fromUtf8(row));
            if (!match.hasMatch())
                continue;
            const QRect found(match.captured(3).toInt(), match.captured(4).toInt(), match.captured(1).toInt(),
                              match.captured(2).toInt());
            if (found.width() <= 64 && found.left() > width - 130 && found.bottom() <= 32)
                icon = found;
        }
        return icon.isValid();
    }, 20000);
    ASSERT_TRUE(icon.isValid()) << "the icon was not docked";
    Source qt(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"),
              QStringList{QStringLiteral("files")} + asArguments(urls));
    ASSERT_TRUE(qt.centre);
    pointer.moveTo(*qt.centre);
    pointer.button(true);
    for (int step = 1; step <= 6 && !qt.said("drag-start"); ++step) {
        pointer.moveTo(*qt.centre + QPoint(step * 5, step * 5));
        waitFor([&] { return qt.said("drag-start"); }, 200);
    }
    ASSERT_TRUE(qt.said("drag-start"));
    const QPoint from = pointer.at();
    for (int step = 1; step <= 20; ++step)
        pointer.moveTo(from + (icon.center() - from) * step / 20);
    // Rests on the icon, a pixel at a time, until the program shows it takes the drag.
    const QString over = QStringLiteral("Files are over the tray icon");
    for (int nudge = 0; nudge < 40 && !app.hasLine(QStringLiteral("app"), over); ++nudge) {
        pointer.moveTo(icon.center() + QPoint(nudge % 2, 0));
        app.waitForLine(QStringLiteral("app"), over, 250);
    }
    ASSERT_TRUE(app.hasLine(QStringLiteral("app"), over)) << app.log().toStdString();
    pointer.button(false);
    EXPECT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 2 file(s) from the tray"), 30000))
        << app.log().toStdString();
}
