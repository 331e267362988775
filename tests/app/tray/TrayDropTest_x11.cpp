#include "app/tray/SystemStatusTray.h"

#include "support/RequireX11.h"
#include "support/Trayer.h"
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
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <cstdio>
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
    QByteArray output()
    {
        m_output += m_process.readAllStandardOutput() + m_process.readAllStandardError();
        return m_output;
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
        trayer.reset();
    }

    // trayer at the top right of the screen, our icon docked in it.
    void dock()
    {
        startTrayer();
        if (IsSkipped())
            return;
        showIcon();
        waitDocked();
    }

    void startTrayer()
    {
        trayer.emplace();
        if (!trayer->whyNot().isEmpty())
            GTEST_SKIP() << trayer->whyNot().toStdString();
    }

    void showIcon()
    {
        tray = std::make_unique<SystemStatusTray>(
            &menu,
            [this](const QList<QUrl>& dropped, QPointF anchor) {
                drops.append(dropped);
                anchors.append(anchor);
            },
            [] { return 210.0; });
        tray->setIcon(solidIcon());
    }

    void waitDocked()
    {
        const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
        ASSERT_TRUE(waitFor([&] {
            const QRect icon = tray->iconGeometry();
            return tray->iconWindow() && icon.width() > 0 && icon.left() > screenWidth - 130 && icon.bottom() <= 32;
        })) << "the icon was not docked at the top right";
    }

    // Presses on the source, drags onto the icon, rests there until the icon shows it takes
    // the drag (or a while), and lets go.
    void dragOntoIcon(Source& source)
    {
        ASSERT_TRUE(source.centre) << "the drag source did not start";
        const int starts = source.count("drag-start");
        const int ends = source.count("drag-end");
        pointer.moveTo(*source.centre);
        pointer.button(true);
        // A busy machine may take seconds to tell the source of the moves: it is moved on,
        // to and fro, until it says its drag began.
        for (int step = 1; step <= 60 && source.count("drag-start") == starts; ++step) {
            pointer.moveTo(*source.centre + QPoint((step % 6 + 1) * 5, (step % 6 + 1) * 5));
            waitFor([&] { return source.count("drag-start") > starts; }, 250);
        }
        ASSERT_GT(source.count("drag-start"), starts) << source.output().toStdString();
        const QPoint target = tray->iconGeometry().center();
        const QPoint from = pointer.at();
        for (int step = 1; step <= 20; ++step)
            pointer.moveTo(from + (target - from) * step / 20);
        // Each move is an XdndPosition the target answers, and the source sends the next only
        // once it has the answer: rest with one-pixel moves until a second one is taken, so the
        // source holds the icon's yes when the button is let go.
        const int taken = tray->acceptedMoves();
        for (int nudge = 0; nudge < 40 && tray->acceptedMoves() < taken + 2; ++nudge) {
            pointer.moveTo(target + QPoint(nudge % 2, 0));
            waitFor([&] { return tray->acceptedMoves() >= taken + 2; }, 250);
        }
        highlighted = highlighted || tray->acceptedMoves() > taken;
        pointer.button(false);
        ASSERT_TRUE(waitFor([&] { return source.count("drag-end") > ends; }, 15000));
    }

    // Drags the files onto the icon until one more drop came, three times at most: a tray
    // started a moment before the icon may dock it again as it settles, taking the first drag's
    // window. Each drag comes from a source of its own: a GTK source whose drop went nowhere
    // may start no other. What each drag that brought nothing saw is told, for a run where none
    // does.
    void dropFiles(const QString& program, const QStringList& arguments)
    {
        const qsizetype before = drops.size();
        for (int attempt = 0; attempt < 3 && drops.size() == before; ++attempt) {
            const int accepted = tray->acceptedMoves();
            Source source(program, arguments);
            dragOntoIcon(source);
            if (HasFatalFailure())
                return;
            if (!waitFor([&] { return drops.size() > before; }, 5000)) {
                const QRect icon = tray->iconGeometry();
                std::fprintf(stderr, "drag %d brought no drop: %d moves taken, icon at %d,%d %dx%d, pointer at %d,%d\n",
                             attempt + 1, tray->acceptedMoves() - accepted, icon.x(), icon.y(), icon.width(),
                             icon.height(), pointer.at().x(), pointer.at().y());
                std::fprintf(stderr, "what the source said: %s\n", source.output().constData());
            }
        }
    }

    // Files dragged from that source onto the icon light it up and open the wheel below it.
    void dropOpensTheWheelBelowTheIcon(const QString& program, const QStringList& arguments)
    {
        const qsizetype before = drops.size();
        highlighted = false;
        dropFiles(program, arguments);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(highlighted);
        ASSERT_TRUE(waitFor([&] { return drops.size() > before; }, 15000)) << "no drop reached the icon";
        EXPECT_EQ(drops.last(), urls);
        const QRect icon = tray->iconGeometry();
        EXPECT_GT(anchors.last().y(), icon.bottom() + 210);
        const int width = QGuiApplication::primaryScreen()->geometry().width();
        EXPECT_LE(std::abs(anchors.last().x() - std::clamp(icon.center().x(), 210, width - 210)), 1.0);
        EXPECT_FALSE(tray->isHighlighted());
    }

    QTemporaryDir files;
    QList<QUrl> urls;
    std::optional<Trayer> trayer;
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

const QString qtSource = QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source");

QStringList qtFiles(const QList<QUrl>& urls)
{
    return QStringList{QStringLiteral("files")} + asArguments(urls);
}

QStringList gtkFiles(const QList<QUrl>& urls)
{
    return QStringList{QStringLiteral(QV_SOURCE_DIR "/tests/support/gtkdragsource/gtk-drag-source.js")}
        + asArguments(urls);
}

} // namespace

TEST_F(TrayDrop, FilesFromAQtSourceOpenTheWheelBelowTheIconAndTextIsRefused)
{
    dock();
    if (HasFatalFailure() || IsSkipped())
        return;
    dropOpensTheWheelBelowTheIcon(qtSource, qtFiles(urls));
    if (HasFatalFailure())
        return;
    // Text never lights the icon up, and nothing comes of it.
    highlighted = false;
    Source text(qtSource, {QStringLiteral("text"), QStringLiteral("hello")});
    dragOntoIcon(text);
    if (HasFatalFailure())
        return;
    EXPECT_FALSE(highlighted) << "text lit the icon up";
    EXPECT_EQ(drops.size(), 1);
}

TEST_F(TrayDrop, FilesFromAGtkSourceReachTheIcon)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gjs")).isEmpty())
        GTEST_SKIP() << "needs gjs for the GTK drag source";
    dock();
    if (HasFatalFailure() || IsSkipped())
        return;
    dropOpensTheWheelBelowTheIcon(QStringLiteral("gjs"), gtkFiles(urls));
}

// A window manager gives the tray's window WM_STATE, where GTK's sources stop: the tray's
// window hands the drag on to the icon.
TEST_F(TrayDrop, UnderAWindowManagerGtkAndQtSourcesReachTheIconThroughTheTray)
{
    if (QStandardPaths::findExecutable(QStringLiteral("gjs")).isEmpty())
        GTEST_SKIP() << "needs gjs for the GTK drag source";
    WindowManager manager;
    if (!manager.whyNot().isEmpty())
        GTEST_SKIP() << manager.whyNot().toStdString();
    dock();
    if (HasFatalFailure() || IsSkipped())
        return;
    dropOpensTheWheelBelowTheIcon(QStringLiteral("gjs"), gtkFiles(urls));
    if (HasFatalFailure())
        return;
    dropOpensTheWheelBelowTheIcon(qtSource, qtFiles(urls));
    EXPECT_EQ(drops.size(), 2);
}

// At the start of a session the panel may come up after us: Qt docks the icon then, and it
// takes drops and clicks as if the tray had been there first.
TEST_F(TrayDrop, AnIconShownBeforeTheTrayStartsTakesDropsAndClicksOnceDocked)
{
    ASSERT_FALSE(Trayer::runs()) << "a tray runs already";
    // A tray an earlier test stopped is gone for Qt once it has read of its window's end.
    ASSERT_TRUE(waitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); })) << "Qt still sees a tray";
    showIcon();
    EXPECT_FALSE(tray->iconWindow());
    startTrayer();
    if (IsSkipped())
        return;
    waitDocked();
    if (HasFatalFailure())
        return;
    dropOpensTheWheelBelowTheIcon(qtSource, qtFiles(urls));
    if (HasFatalFailure())
        return;
    menu.addAction(QStringLiteral("Pause Wheel"));
    pointer.moveTo(tray->iconGeometry().center());
    pointer.button(true);
    pointer.button(false);
    EXPECT_TRUE(waitFor([&] { return menu.isVisible(); })) << "a click on the icon opened no menu";
    menu.hide();
}
