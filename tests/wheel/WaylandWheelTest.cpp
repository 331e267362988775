// The wheel in Wayland sessions, end to end on real compositors run headless: a drag of files
// out of a native Wayland program crosses the strip on the right edge, a tap of Shift (KWin) or
// a rest on the strip (sway, whose drags keep the keys to themselves) opens the convert wheel,
// and a drop on a segment hands the files to the dispatcher. Beside it all, a window of the
// user's own keeps the keyboard and its context menu.

#include "support/HeadlessCompositor.h"
#include "support/SwayTree.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPoint>
#include <QUrl>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

#include <functional>

using namespace qv::test;

namespace {

constexpr int timeoutMs = 20000;
constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;
const QString buildDir = QStringLiteral(QV_BUILD_DIR "/tests/");

// A program of the test's own whose output is read line by line.
class Child {
public:
    explicit Child(QProcess& process) : m_process(process) {}

    // The first line that begins with the prefix, waiting for it; empty when none came.
    QString waitForLine(const QString& prefix, int ms = timeoutMs)
    {
        QString found;
        waitFor([&] {
            m_output += QString::fromUtf8(m_process.readAllStandardOutput());
            for (const QString& line : m_output.split(QLatin1Char('\n'))) {
                if (line.startsWith(prefix) && m_output.contains(line + QLatin1Char('\n'))) {
                    found = line;
                    return true;
                }
            }
            return m_process.state() == QProcess::NotRunning;
        }, ms);
        return found;
    }
    QString output()
    {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        return m_output;
    }

private:
    QProcess& m_process;
    QString m_output;
};

class WaylandWheel : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (platforms.entryList({QStringLiteral("libqwayland-generic*")}).isEmpty())
            GTEST_SKIP() << "Qt's Wayland platform is not installed";
    }

    void TearDown() override
    {
        for (QProcess* process : {&input, &source, &host, &typist}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        if (HasFailure()) {
            std::fprintf(stderr, "wheel host:\n%s\n%s\ndrag source:\n%s\n%s\ntypist:\n%s\ncompositor:\n%s\n",
                         qPrintable(hostLines.output()), host.readAllStandardError().constData(),
                         qPrintable(sourceLines.output()), source.readAllStandardError().constData(),
                         qPrintable(typistLines.output()), compositor.log().constData());
        }
    }

    QProcessEnvironment clientEnvironment() const { return compositor.clientEnvironment(); }

    // The driver of the compositor's input; false when it could not come up.
    bool startInput()
    {
        if (input.state() != QProcess::NotRunning)
            return true;
        input.setProcessEnvironment(clientEnvironment());
        input.start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                    {QString::number(screenWidth), QString::number(screenHeight)});
        return !inputLines.waitForLine(QStringLiteral("ready")).isEmpty();
    }

    // The wheel host with the strip on the right, and the drag source with the files; false
    // when either could not come up.
    bool startClients(double dwellSeconds, const QList<QUrl>& files, const QUrl& clickFile = {})
    {
        const QProcessEnvironment env = clientEnvironment();
        host.setProcessEnvironment(env);
        QStringList arguments{QStringLiteral("right"), QString::number(dwellSeconds)};
        if (!clickFile.isEmpty())
            arguments.append(clickFile.toString(QUrl::FullyEncoded));
        host.start(buildDir + QStringLiteral("quorvenda_test_wayland_wheel"), arguments);
        source.setProcessEnvironment(env);
        QStringList urls;
        for (const QUrl& url : files)
            urls.append(url.toString(QUrl::FullyEncoded));
        source.start(buildDir + QStringLiteral("quorvenda_test_wayland_drag_source"), urls);
        if (input.state() == QProcess::NotRunning) {
            input.setProcessEnvironment(env);
            input.start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                        {QString::number(screenWidth), QString::number(screenHeight)});
        }
        return !hostLines.waitForLine(QStringLiteral("ready")).isEmpty()
            && !sourceLines.waitForLine(QStringLiteral("ready")).isEmpty()
            && !inputLines.waitForLine(QStringLiteral("ready")).isEmpty();
    }

    // A user's window of their own, with the keyboard; false when it could not come up.
    bool startTypist()
    {
        typist.setProcessEnvironment(clientEnvironment());
        typist.start(buildDir + QStringLiteral("quorvenda_test_wayland_typist"));
        return !typistLines.waitForLine(QStringLiteral("ready")).isEmpty();
    }

    // Types one letter key (by its evdev code) and waits for the user's window to show it after
    // what it held.
    bool typeInto(int code, QChar letter)
    {
        send(QStringLiteral("key %1 1").arg(code));
        send(QStringLiteral("key %1 0").arg(code));
        const QString line = QStringLiteral("typed ") + typed + letter;
        if (typistLines.waitForLine(line) != line)
            return false;
        typed += letter;
        return true;
    }

    // After a drop the window the drag began in may take the keyboard and give it back a moment
    // later on a busy compositor: the user's window has it once it says so and keeps it a while.
    bool keyboardBack()
    {
        qsizetype seen = -1;
        QElapsedTimer still;
        return waitFor([&] {
            const QString out = typistLines.output();
            const qsizetype in = out.lastIndexOf(QStringLiteral("focus in"));
            if (in < out.lastIndexOf(QStringLiteral("focus out")) || in != seen) {
                seen = in;
                still.start();
                return false;
            }
            return still.elapsed() >= 300;
        }, timeoutMs);
    }

    // The first key of a keyboard the compositor has just seen may go before the window is told
    // of it: keys until one arrives.
    bool firstKeyArrives()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            send(QStringLiteral("key 45 1"));
            send(QStringLiteral("key 45 0"));
            const QString line = typistLines.waitForLine(QStringLiteral("typed "), 3000);
            if (!line.isEmpty()) {
                typed = line.mid(6);
                return true;
            }
        }
        return false;
    }

    // Right-click in the user's window: its context menu comes up and Escape closes it again.
    void openTheContextMenu()
    {
        const int menusBefore = typistLines.output().count(QStringLiteral("\nmenu\n"));
        // Away from where the wheels were, which may still be fading.
        waitFor([] { return false; }, 500);
        moveTo({120, 760});
        send(QStringLiteral("down"));
        send(QStringLiteral("up"));
        waitFor([] { return false; }, 100);
        send(QStringLiteral("rdown"));
        send(QStringLiteral("rup"));
        EXPECT_TRUE(waitFor([&] { return typistLines.output().count(QStringLiteral("\nmenu\n")) > menusBefore; },
                            timeoutMs))
            << "the context menu never came";
        const int closedBefore = typistLines.output().count(QStringLiteral("menu-closed"));
        send(QStringLiteral("key 1 1"));
        send(QStringLiteral("key 1 0"));
        EXPECT_TRUE(waitFor([&] { return typistLines.output().count(QStringLiteral("menu-closed")) > closedBefore; },
                            timeoutMs))
            << "Escape never reached the context menu";
        // The press after a menu went may only end its grab: one the window ignores.
        send(QStringLiteral("down"));
        send(QStringLiteral("up"));
    }

    // sway names a focused window in its tree.
    void expectSwayFocus()
    {
        const QList<QJsonObject> nodes = swayNodes(swayTree(compositor));
        ASSERT_FALSE(nodes.isEmpty());
        EXPECT_TRUE(std::any_of(nodes.cbegin(), nodes.cend(), [](const QJsonObject& node) {
            return node.value(QStringLiteral("focused")).toBool()
                   && node.value(QStringLiteral("type")).toString().contains(QStringLiteral("con"));
        })) << "sway's tree has no focused window";
    }

    // The hot key, as the application hears it.
    void hotKey(const QUrl& file) { host.write(("hotkey " + file.toString(QUrl::FullyEncoded) + "\n").toUtf8()); }

    int count(Child& lines, const QString& prefix)
    {
        int n = 0;
        for (const QString& line : lines.output().split(QLatin1Char('\n')))
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    // Waits for the nth line that begins with the prefix (counting from 1); empty when none came.
    QString waitForNth(Child& lines, const QString& prefix, int nth)
    {
        QString found;
        waitFor([&] {
            int n = 0;
            for (const QString& line : lines.output().split(QLatin1Char('\n'))) {
                if (line.startsWith(prefix) && ++n == nth) {
                    found = line;
                    return true;
                }
            }
            return false;
        }, timeoutMs);
        return found;
    }

    // The user's window keeps the keyboard, its menu opens, while Quorvenda starts, catches a
    // drag that rests on the strip, and shows a wheel for the hot key that closes again on
    // Escape, a click beside it and the hot key again: the wheel opens under the pointer.
    void liveBesideTheUsersWindow(bool sway)
    {
        const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
        ASSERT_TRUE(startTypist());
        ASSERT_TRUE(startInput());
        ASSERT_TRUE(firstKeyArrives());
        EXPECT_TRUE(typeInto(30, QLatin1Char('a')));
        openTheContextMenu();
        ASSERT_TRUE(startClients(0.3, {a}));
        EXPECT_TRUE(typeInto(48, QLatin1Char('b'))) << "Quorvenda's start took the keyboard";
        if (sway)
            expectSwayFocus();
        openTheContextMenu();

        dragToTheStrip();
        ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
        const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
        ASSERT_FALSE(wheel.isEmpty());
        dropOnTheWheel(wheel);
        EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("dispatched convert.2")).isEmpty());
        EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("closed")).isEmpty());
        EXPECT_TRUE(keyboardBack() && typeInto(46, QLatin1Char('c'))) << "the drag over the strip kept the keyboard";
        openTheContextMenu();

        // The hot key's wheel opens under the pointer, wherever it is, and has the keyboard.
        const QPoint pointer(420, 460);
        moveTo(pointer);
        hotKey(a);
        const QString centre = waitForNth(hostLines, QStringLiteral("centre "), 2);
        ASSERT_FALSE(centre.isEmpty());
        const QStringList xy = centre.split(QLatin1Char(' '));
        EXPECT_LE((QPoint(xy.value(1).toInt(), xy.value(2).toInt()) - pointer).manhattanLength(), 4)
            << qPrintable(centre);
        send(QStringLiteral("key 1 1"));
        send(QStringLiteral("key 1 0"));
        EXPECT_FALSE(waitForNth(hostLines, QStringLiteral("closed"), 2).isEmpty()) << "Escape did not close the wheel";
        EXPECT_TRUE(typeInto(32, QLatin1Char('d'))) << "the wheel kept the keyboard";

        // A click beside it closes it.
        moveTo({640, 400});
        hotKey(a);
        ASSERT_FALSE(waitForNth(hostLines, QStringLiteral("centre "), 3).isEmpty());
        moveTo({1150, 120});
        send(QStringLiteral("down"));
        send(QStringLiteral("up"));
        EXPECT_FALSE(waitForNth(hostLines, QStringLiteral("closed"), 3).isEmpty()) << "a click outside did not close it";

        // And the hot key again.
        hotKey(a);
        ASSERT_FALSE(waitForNth(hostLines, QStringLiteral("centre "), 4).isEmpty());
        hotKey(a);
        EXPECT_FALSE(waitForNth(hostLines, QStringLiteral("closed"), 4).isEmpty()) << "the hot key did not close it";

        // A click on a segment, above the see-through cover, chooses it.
        hotKey(a);
        const QStringList label = waitForNth(hostLines, QStringLiteral("wheel "), 5).split(QLatin1Char(' '));
        ASSERT_EQ(label.size(), 4);
        moveTo({label[2].toInt(), label[3].toInt()});
        send(QStringLiteral("down"));
        send(QStringLiteral("up"));
        EXPECT_EQ(waitForNth(hostLines, QStringLiteral("dispatched "), 2),
                  QStringLiteral("dispatched convert.2 %1").arg(a.toString(QUrl::FullyEncoded)));
        EXPECT_FALSE(waitForNth(hostLines, QStringLiteral("closed"), 5).isEmpty());
        EXPECT_TRUE(typeInto(18, QLatin1Char('e')));
        openTheContextMenu();
        if (sway)
            expectSwayFocus();
    }

    void send(const QString& command)
    {
        input.write((command + QLatin1Char('\n')).toUtf8());
        ++sent;
        // Each command is answered once the compositor has it.
        waitFor([this] {
            return inputLines.output().count(QStringLiteral("\nok")) >= sent
                || input.state() == QProcess::NotRunning;
        }, timeoutMs);
    }

    void moveTo(QPoint point) { send(QStringLiteral("move %1 %2").arg(point.x()).arg(point.y())); }

    // Presses on the drag source (a square from (100, 100) to (300, 300)) and drags to the
    // strip on the right edge, in steps a drag follows.
    void dragToTheStrip()
    {
        moveTo({200, 200});
        send(QStringLiteral("down"));
        const QPoint from(210, 205);
        moveTo(from);
        // Moves before the compositor has the drag would move the pointer alone.
        ASSERT_FALSE(sourceLines.waitForLine(QStringLiteral("drag-start")).isEmpty());
        waitFor([] { return false; }, 200);
        const QPoint strip(screenWidth - 1, 400);
        for (int step = 1; step <= 10; ++step) {
            moveTo(from + (strip - from) * step / 10);
            waitFor([] { return false; }, 20);
        }
        moveTo(strip + QPoint(0, 2));
    }

    // Glides from the strip (or the point given) onto segment 2 of the wheel that opened and
    // lets go there.
    void dropOnTheWheel(const QString& wheelLine, const QString& kind = QStringLiteral("convert"),
                        QPoint from = QPoint(screenWidth - 1, 400))
    {
        const QStringList words = wheelLine.split(QLatin1Char(' '));
        ASSERT_EQ(words.size(), 4) << qPrintable(wheelLine);
        EXPECT_EQ(words[1], kind);
        const QPoint label(words[2].toInt(), words[3].toInt());
        // Beside the strip, never over it.
        EXPECT_LT(label.x(), screenWidth - 2);
        const int over = hostLines.output().count(QStringLiteral("\nlog Drag over "));
        for (int step = 1; step <= 5; ++step) {
            moveTo(from + (label - from) * step / 5);
            waitFor([] { return false; }, 20);
        }
        // Released once the wheel has the drag over a segment, as a hand waits to see it lit: a
        // busy wheel still opening would take the drop for one beside it. And once it has named
        // none for a moment: it tells of a segment before its answer to the compositor has left,
        // and a drop where the compositor has no yes from it yet is a cancelled drag. Only a
        // moment: in the welcome practice a rest of 0.6 s opens the next wheel.
        waitFor([&] { return hostLines.output().count(QStringLiteral("\nlog Drag over ")) > over; }, 5000);
        waitForQuiet([&] { return hostLines.output().count(QStringLiteral("\nlog Drag over ")); }, 150, 5000);
        send(QStringLiteral("up"));
    }

    // The welcome window's practice: the photo dragged out of its tile and moved a little within
    // the practice area, where a tap of Shift (KWin) or holding it still (sway) opens the convert
    // wheel under it, and a drop on a segment converts the photo.
    void practise(bool byTap)
    {
        const QString folder = files.filePath(QStringLiteral("Practice"));
        host.setProcessEnvironment(clientEnvironment());
        host.start(buildDir + QStringLiteral("quorvenda_test_wayland_wheel"),
                   {QStringLiteral("right"), QStringLiteral("0.6"), QStringLiteral("practice=") + folder});
        ASSERT_TRUE(startInput());
        ASSERT_FALSE(hostLines.waitForLine(QStringLiteral("ready")).isEmpty());
        const QStringList tile = hostLines.waitForLine(QStringLiteral("tile ")).split(QLatin1Char(' '));
        ASSERT_EQ(tile.size(), 3) << qPrintable(hostLines.output());
        const QPoint at(tile[1].toInt(), tile[2].toInt());
        moveTo(at);
        send(QStringLiteral("down"));
        for (int step = 1; step <= 8; ++step) {
            moveTo(at + QPoint(5 * step, 2 * step));
            waitFor([] { return false; }, 20);
        }
        ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
        const QPoint held = at + QPoint(44, 18);
        moveTo(held);
        if (byTap) {
            send(QStringLiteral("key 42 1")); // left Shift
            send(QStringLiteral("key 42 0"));
        }
        const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
        ASSERT_FALSE(wheel.isEmpty()) << qPrintable(hostLines.output());
        // Under the photo, where the drag is; moved up as far as the screen's bottom edge asks.
        const QStringList centre = hostLines.waitForLine(QStringLiteral("centre ")).split(QLatin1Char(' '));
        const QPoint wheelAt(centre.value(1).toInt(), centre.value(2).toInt());
        EXPECT_LE(std::abs(wheelAt.x() - held.x()), 4) << qPrintable(hostLines.output());
        EXPECT_LE(wheelAt.y(), held.y() + 4) << qPrintable(hostLines.output());
        EXPECT_GE(wheelAt.y(), std::min(held.y(), screenHeight - 300) - 4) << qPrintable(hostLines.output());
        dropOnTheWheel(wheel, QStringLiteral("convert"), held);
        const QString photo = QUrl::fromLocalFile(QDir(folder).filePath(QStringLiteral("Practice Photo.heic")))
                                  .toString(QUrl::FullyEncoded);
        EXPECT_EQ(hostLines.waitForLine(QStringLiteral("dispatched ")), QStringLiteral("dispatched convert.2 ") + photo);
        EXPECT_FALSE(QString::fromUtf8(host.readAllStandardError()).contains(QStringLiteral("No drag target")));
    }

    // Waits until the strip logs a rest held this long since it opened a wheel.
    bool restHeldFor(int ms)
    {
        const QString prefix = QStringLiteral("log Rest held ");
        return waitFor([&] {
            for (const QString& line : hostLines.output().split(QLatin1Char('\n'))) {
                if (line.startsWith(prefix) && line.mid(prefix.size()).section(QLatin1Char(' '), 0, 0).toInt() >= ms)
                    return true;
            }
            return false;
        }, timeoutMs);
    }

    // sway on a headless screen; skips without it.
    void startSway() { compositor.startSway(screenWidth, screenHeight); }

    // KWin on a virtual screen; skips without it.
    void startKWin(bool xwayland = false) { compositor.startKWin(screenWidth, screenHeight, xwayland); }

    // A right-click on the strip's columns reaches the user's window beneath it, whose menu
    // comes up there; Escape closes it again.
    void rightClickOnTheStripReachesTheWindow()
    {
        const int asked = count(typistLines, QStringLiteral("menu-asked "));
        const int closedBefore = count(typistLines, QStringLiteral("menu-closed"));
        // The compositor finds the window under a pointer that moves. A busy one may take the
        // strip's new input region after the moves: the pointer is still the strip's then, and
        // the click is the strip's. A user clicks again; so does this, three times at the most.
        for (int attempt = 0; attempt < 3; ++attempt) {
            moveTo({screenWidth - 1, 620});
            moveTo({screenWidth - 1, 600});
            send(QStringLiteral("rdown"));
            send(QStringLiteral("rup"));
            if (waitFor([&] { return count(typistLines, QStringLiteral("menu-asked ")) > asked; },
                        attempt < 2 ? 5000 : timeoutMs))
                break;
        }
        EXPECT_EQ(waitForNth(typistLines, QStringLiteral("menu-asked "), asked + 1),
                  QStringLiteral("menu-asked %1 600").arg(screenWidth - 1))
            << qPrintable(typistLines.output());
        send(QStringLiteral("key 1 1"));
        send(QStringLiteral("key 1 0"));
        EXPECT_TRUE(waitFor([&] { return count(typistLines, QStringLiteral("menu-closed")) > closedBefore; }, timeoutMs));
        // The press after a menu went may only end its grab: one the window ignores.
        moveTo({120, 760});
        send(QStringLiteral("down"));
        send(QStringLiteral("up"));
    }

    // The crop editor, the settings, a preview, a float panel and the pills, opened one after another
    // natively by a client of the compositor: each must come on screen and be drawn, without
    // the compositor finding fault with what it is sent.
    void openTheWindows()
    {
        const QString picture = files.filePath(QStringLiteral("p.png"));
        QImage image(320, 240, QImage::Format_RGB32);
        image.fill(QColor(200, 60, 40));
        ASSERT_TRUE(image.save(picture));
        QProcessEnvironment env = clientEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        // The settings it stores stay in the test's folder.
        env.insert(QStringLiteral("HOME"), files.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), files.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), files.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), files.filePath(QStringLiteral("data")));
        host.setProcessEnvironment(env);
        host.start(buildDir + QStringLiteral("quorvenda_test_wayland_windows"), {picture});
        EXPECT_EQ(hostLines.waitForLine(QStringLiteral("platform ")), QStringLiteral("platform wayland"));
        for (const QString& name : {QStringLiteral("editor"), QStringLiteral("settings"), QStringLiteral("preview"),
                                    QStringLiteral("float"), QStringLiteral("pills")}) {
            EXPECT_TRUE(hostLines.waitForLine(QStringLiteral("exposed ") + name + QLatin1Char(' ')).startsWith(
                QStringLiteral("exposed ")))
                << qPrintable(name) << " never came on screen";
        }
        EXPECT_EQ(hostLines.waitForLine(QStringLiteral("done")), QStringLiteral("done"));
        ASSERT_TRUE(host.waitForFinished(timeoutMs));
        EXPECT_EQ(host.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(host.exitCode(), 0);
        const QString errors = QString::fromUtf8(host.readAllStandardError());
        EXPECT_FALSE(errors.contains(QStringLiteral("protocol error"), Qt::CaseInsensitive)) << qPrintable(errors);
        EXPECT_FALSE(errors.contains(QStringLiteral("wl_"))) << qPrintable(errors);
    }

    HeadlessCompositor compositor;
    QTemporaryDir files;
    QProcess host;
    QProcess source;
    QProcess input;
    QProcess typist;
    QString typed; // what the user's window holds
    Child hostLines{host};
    Child typistLines{typist};
    Child sourceLines{source};
    Child inputLines{input};
    int sent = 0;
};

} // namespace

TEST_F(WaylandWheel, OnKWinAShiftTapOverTheStripOpensTheWheelAndADropRunsTheSegment)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    const QUrl b = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("b c.jpg"))));
    // No dwell: only the tap opens the wheel here.
    ASSERT_TRUE(startClients(0, {a, b}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 2"));
    send(QStringLiteral("key 42 1")); // left Shift
    send(QStringLiteral("key 42 0"));
    const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
    ASSERT_FALSE(wheel.isEmpty());
    dropOnTheWheel(wheel);
    EXPECT_EQ(hostLines.waitForLine(QStringLiteral("dispatched ")),
              QStringLiteral("dispatched convert.2 %1 %2")
                  .arg(a.toString(QUrl::FullyEncoded), b.toString(QUrl::FullyEncoded)));
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("ended")).isEmpty());
    // The source heard that its files were taken.
    EXPECT_EQ(sourceLines.waitForLine(QStringLiteral("drag-end")), QStringLiteral("drag-end 1"));
}

TEST_F(WaylandWheel, OnSwayARestOnTheStripOpensTheWheelAndADropRunsTheSegment)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    const QUrl b = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("b c.jpg"))));
    ASSERT_TRUE(startClients(0.3, {a, b}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 2"));
    // The pointer rests on the strip.
    const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
    ASSERT_FALSE(wheel.isEmpty());
    dropOnTheWheel(wheel);
    EXPECT_EQ(hostLines.waitForLine(QStringLiteral("dispatched ")),
              QStringLiteral("dispatched convert.2 %1 %2")
                  .arg(a.toString(QUrl::FullyEncoded), b.toString(QUrl::FullyEncoded)));
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("ended")).isEmpty());
    EXPECT_EQ(sourceLines.waitForLine(QStringLiteral("drag-end")), QStringLiteral("drag-end 1"));
}

TEST_F(WaylandWheel, OnKWinAWheelForFilesHandedOverHasTheKeyboardAndClosesOnEscape)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startClients(0, {a}, a));
    ASSERT_FALSE(hostLines.waitForLine(QStringLiteral("wheel convert")).isEmpty());
    send(QStringLiteral("key 1 1")); // Escape
    send(QStringLiteral("key 1 0"));
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("closed")).isEmpty());
}

// On KWin the strip asks for the keyboard while the drag is over it: a drag that crosses it, or
// is let go on it, gives the keyboard back to the user's window.
TEST_F(WaylandWheel, OnKWinADragThatCrossesOrEndsOnTheStripOpensNothingAndLeavesTheKeyboard)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startTypist());
    ASSERT_TRUE(startInput());
    ASSERT_TRUE(firstKeyArrives());
    ASSERT_TRUE(startClients(3, {a}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
    moveTo({900, 400});
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("ended")).isEmpty());
    send(QStringLiteral("up"));
    EXPECT_FALSE(sourceLines.waitForLine(QStringLiteral("drag-end")).isEmpty());
    EXPECT_FALSE(hostLines.output().contains(QStringLiteral("wheel ")));
    EXPECT_TRUE(typeInto(30, QLatin1Char('a'))) << "the strip kept the keyboard";

    // Let go on the strip itself: the drag is cancelled there, and the keyboard comes back too.
    dragToTheStrip();
    ASSERT_FALSE(waitForNth(hostLines, QStringLiteral("drag "), 2).isEmpty());
    send(QStringLiteral("up"));
    EXPECT_FALSE(waitForNth(hostLines, QStringLiteral("ended"), 2).isEmpty());
    EXPECT_TRUE(typeInto(48, QLatin1Char('b'))) << "the strip kept the keyboard";
}

TEST_F(WaylandWheel, OnSwayADragThatOnlyCrossesTheStripOpensNothingAndEnds)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startClients(3, {a}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
    // Back off the strip well before the rest would count: the drag is over for us a moment
    // later, though the button is still down, and no wheel opened.
    moveTo({900, 400});
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("ended")).isEmpty());
    EXPECT_FALSE(hostLines.output().contains(QStringLiteral("wheel ")));
    send(QStringLiteral("up"));
    // Dropped on nothing of ours: the source keeps its files.
    EXPECT_EQ(sourceLines.waitForLine(QStringLiteral("drag-end")), QStringLiteral("drag-end 0"));
    EXPECT_FALSE(hostLines.output().contains(QStringLiteral("dispatched")));
}

// The editors, the settings, the previews, the float panels and the pills run natively too.
TEST_F(WaylandWheel, OnSwayTheEditorSettingsPreviewFloatPanelAndPillsOpenNatively)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    openTheWindows();
}

TEST_F(WaylandWheel, OnKWinTheEditorSettingsPreviewFloatPanelAndPillsOpenNatively)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    openTheWindows();
}

TEST_F(WaylandWheel, OnSwayTheUsersWindowKeepsTheKeyboardAndTheHotKeysWheelOpensUnderThePointer)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    liveBesideTheUsersWindow(true);
}

TEST_F(WaylandWheel, OnKWinTheUsersWindowKeepsTheKeyboardAndTheHotKeysWheelOpensUnderThePointer)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    liveBesideTheUsersWindow(false);
}

// Where no key reaches a drag, a rest on the strip opens Convert, which stays however long the
// drag rests on; leaving the strip and resting again moves to each next wheel, and the chip says
// which; a drop on the wheel shown then runs its segment.
TEST_F(WaylandWheel, OnSwayARestsWheelStaysUntilTheDragRestsAgain)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startClients(0.3, {a}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
    const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
    ASSERT_FALSE(wheel.isEmpty());
    EXPECT_EQ(hostLines.waitForLine(QStringLiteral("chip Convert")),
              QStringLiteral("chip Convert  ·  leave the edge and rest again for Tools"));
    // The strip itself tells how long the drag has rested there since the wheel opened.
    ASSERT_TRUE(restHeldFor(3000)) << qPrintable(hostLines.output());
    EXPECT_EQ(count(hostLines, QStringLiteral("chip ")), 1) << qPrintable(hostLines.output());

    const QStringList words = wheel.split(QLatin1Char(' '));
    const QPoint label(words.value(2).toInt(), words.value(3).toInt());
    const QPoint strip(screenWidth - 1, 400);
    for (const QString& next : {QStringLiteral("chip Tools  ·  leave the edge and rest again for Actions"),
                                QStringLiteral("chip Actions  ·  leave the edge and rest again for Convert")}) {
        moveTo(label);
        moveTo(strip);
        EXPECT_EQ(hostLines.waitForLine(next.left(next.indexOf(QLatin1Char(' '), 5))), next);
    }
    dropOnTheWheel(QStringLiteral("wheel actions %1 %2").arg(words.value(2), words.value(3)), QStringLiteral("actions"));
    EXPECT_EQ(hostLines.waitForLine(QStringLiteral("dispatched ")),
              QStringLiteral("dispatched actions.2 %1").arg(a.toString(QUrl::FullyEncoded)));
}

TEST_F(WaylandWheel, OnKWinTheWelcomePracticeOpensConvertForAShiftTapInsideTheWindow)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    practise(true);
}

TEST_F(WaylandWheel, OnSwayTheWelcomePracticeOpensConvertForThePhotoHeldStillInTheWindow)
{
    startSway();
    if (IsSkipped() || HasFatalFailure())
        return;
    practise(false);
}

// KWin tells an X11 client when a drag begins: till then the strip leaves clicks on its columns
// to the window beneath (a maximized window's scroll bar), and a drag still finds it.
TEST_F(WaylandWheel, OnKWinTheStripTakesThePointerOnlyWhileADragIsOn)
{
    startKWin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startTypist());
    ASSERT_TRUE(startInput());
    ASSERT_TRUE(startClients(0, {a}));
    ASSERT_FALSE(hostLines.waitForLine(QStringLiteral("log The strips take the pointer only while a drag is on")).isEmpty())
        << qPrintable(hostLines.output());
    rightClickOnTheStripReachesTheWindow();

    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
    send(QStringLiteral("key 42 1"));
    send(QStringLiteral("key 42 0"));
    const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
    ASSERT_FALSE(wheel.isEmpty());
    dropOnTheWheel(wheel);
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("dispatched convert.2")).isEmpty());
    EXPECT_FALSE(hostLines.waitForLine(QStringLiteral("log The strips let the pointer through")).isEmpty());
    rightClickOnTheStripReachesTheWindow();
}

// With the default rest on, a tap chooses the wheel and no rest on the strip changes it after.
TEST_F(WaylandWheel, OnKWinATapsWheelStaysWhileThePointerRestsOnTheStrip)
{
    startKWin();
    if (IsSkipped() || HasFatalFailure())
        return;
    const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
    ASSERT_TRUE(startClients(0.6, {a}));
    dragToTheStrip();
    ASSERT_EQ(hostLines.waitForLine(QStringLiteral("drag ")), QStringLiteral("drag 1"));
    send(QStringLiteral("key 29 1")); // left Ctrl
    send(QStringLiteral("key 29 0"));
    const QString wheel = hostLines.waitForLine(QStringLiteral("wheel "));
    ASSERT_FALSE(wheel.isEmpty());
    // A loaded machine may let the rest open Convert before the tap is heard; the tap's wheel
    // comes then all the same.
    ASSERT_TRUE(waitFor([&] { return hostLines.output().contains(QStringLiteral("Actions\n")); }, timeoutMs))
        << qPrintable(hostLines.output());
    const int chipsThen = count(hostLines, QStringLiteral("chip "));
    // Long past the rest and a further one.
    ASSERT_TRUE(restHeldFor(2500)) << qPrintable(hostLines.output());
    EXPECT_EQ(count(hostLines, QStringLiteral("chip ")), chipsThen) << qPrintable(hostLines.output());
    const QStringList words = wheel.split(QLatin1Char(' '));
    dropOnTheWheel(QStringLiteral("wheel actions %1 %2").arg(words.value(2), words.value(3)), QStringLiteral("actions"));
    EXPECT_EQ(hostLines.waitForLine(QStringLiteral("dispatched ")),
              QStringLiteral("dispatched actions.2 %1").arg(a.toString(QUrl::FullyEncoded)));
}
