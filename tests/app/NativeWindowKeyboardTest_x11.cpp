// The user's own windows keep the keyboard and their menus beside Quorvenda on each Wayland
// desktop. The user's window is a GTK program's entry (zenity), native on the compositor: it is
// typed into and its context menu opened and closed before, during and after Quorvenda's start,
// after a drag of files that opens a wheel and runs a job, and after the wheel of files handed
// over (Open With) closes on Escape. What the compositor gave it is read from its protocol log;
// what it holds comes back on its output at the end.

#include "RunningApp.h"

#include "support/DevDriver.h"
#include "support/HeadlessCompositor.h"
#include "support/HeadlessGnomeShell.h"
#include "support/SwayTree.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

using namespace qv::test;

namespace {

constexpr int kTimeoutMs = 20000;
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// A key by its evdev code (the wlroots and KWin input drivers) and its X keysym (Mutter's
// remote desktop), with the letter it types.
struct Key {
    int code;
    uint keysym;
    QChar letter;
};

const Key kA{30, 0x61, QLatin1Char('a')};
const Key kB{48, 0x62, QLatin1Char('b')};
const Key kC{46, 0x63, QLatin1Char('c')};
const Key kD{32, 0x64, QLatin1Char('d')};
const Key kE{18, 0x65, QLatin1Char('e')};
const Key kF{33, 0x66, QLatin1Char('f')};
const Key kZ{44, 0x7a, QLatin1Char('z')};
const Key kEscape{1, 0xff1b, QChar()};
const Key kReturn{28, 0xff0d, QChar()};
const Key kShift{42, 0xffe1, QChar()};
const Key kControl{29, 0xffe3, QChar()};
const Key kSuper{125, 0xffeb, QChar()};
const Key kTab{15, 0xff09, QChar()};
const Key kRight{106, 0xff53, QChar()};

// zenity's entry, natively on Wayland, with the client's side of the protocol logged
// (WAYLAND_DEBUG): keyboard focus, keys, pointer positions, the caret and popups, as the
// compositor gave them.
class UserEntry {
public:
    ~UserEntry()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    void start(QProcessEnvironment env)
    {
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("WAYLAND_DEBUG"), QStringLiteral("client"));
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        env.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral("zenity"), {QStringLiteral("--entry"), QStringLiteral("--text=Name"),
                                                    QStringLiteral("--width=800"), QStringLiteral("--height=500")});
    }

    // Its window is on screen with the keyboard.
    bool waitUntilFocused()
    {
        return waitFor([this] {
            read();
            return m_focused || m_process.state() == QProcess::NotRunning;
        }, kTimeoutMs) && m_focused;
    }

    bool focused()
    {
        read();
        return m_focused;
    }
    int presses(int code)
    {
        read();
        return m_presses.value(code);
    }
    int menusShown()
    {
        read();
        return m_menusShown;
    }
    int menusClosed()
    {
        read();
        return m_menusClosed;
    }
    // Menus the compositor put on screen, whose grab then holds Escape.
    int menusUp()
    {
        read();
        return m_menusUp;
    }
    // Where the text begins, in the surface's own pixels, as the entry tells a compositor with
    // text input (GNOME Shell, KWin; sway only with an input method running).
    std::optional<QRect> caret()
    {
        waitFor([this] {
            read();
            return m_caret.has_value();
        }, 1500);
        return m_caret;
    }
    // The window's own frame in its surface, without shadows.
    std::optional<QRect> geometry()
    {
        read();
        return m_geometry;
    }
    // The window's surface's place on screen, once the pointer went from one point of the
    // screen to another over it: the last two places the window was told differ as the points
    // do (Mutter keeps the pointer in fractions of a pixel and tells whole ones). A report of an
    // earlier place may come late on a busy machine, and is passed over.
    std::optional<QPoint> surfaceOrigin(QPoint from, QPoint to)
    {
        std::optional<QPoint> origin;
        waitFor([&] {
            read();
            const qsizetype n = m_pointerReports.size();
            if (n >= 2 && (m_pointerReports[n - 1] - m_pointerReports[n - 2] - (to - from)).manhattanLength() <= 2)
                origin = to - m_pointerReports[n - 1];
            return origin.has_value();
        }, kTimeoutMs);
        return origin;
    }
    void forgetPointer()
    {
        read();
        m_pointerReports.clear();
    }

    // What the entry held when Return ended it; empty when it did not end.
    QString finish()
    {
        // Qt says false for a process that already ended, as zenity may have while the
        // test waited for its Return to be sent.
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(kTimeoutMs))
            return {};
        return QString::fromUtf8(m_process.readAllStandardOutput()).trimmed();
    }

    QString log()
    {
        read();
        return QString::fromUtf8(m_log.right(6000));
    }

private:
    void read()
    {
        m_pending += m_process.readAllStandardError();
        qsizetype end = 0;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_pending.left(end));
            m_log += m_pending.left(end + 1);
            m_pending.remove(0, end + 1);
            take(line);
        }
    }

    // A place once, however many events name it (an entry and a motion to the same place).
    void notePointer(QPoint at)
    {
        if (m_pointerReports.isEmpty() || m_pointerReports.last() != at)
            m_pointerReports.append(at);
    }

    void take(const QString& line)
    {
        static const QRegularExpression xdgSurface(QStringLiteral("get_xdg_surface\\(new id xdg_surface@\\d+, wl_surface@(\\d+)\\)"));
        static const QRegularExpression enter(QStringLiteral("wl_keyboard@\\d+\\.enter\\(\\d+, wl_surface@(\\d+),"));
        static const QRegularExpression leave(QStringLiteral("wl_keyboard@\\d+\\.leave\\(\\d+, wl_surface@(\\d+)\\)"));
        static const QRegularExpression key(QStringLiteral("wl_keyboard@\\d+\\.key\\(\\d+, \\d+, (\\d+), 1\\)"));
        static const QRegularExpression pointerEnter(
            QStringLiteral("wl_pointer@\\d+\\.enter\\(\\d+, wl_surface@(\\d+), (-?[\\d.]+), (-?[\\d.]+)\\)"));
        static const QRegularExpression pointerMotion(QStringLiteral("wl_pointer@\\d+\\.motion\\(\\d+, (-?[\\d.]+), (-?[\\d.]+)\\)"));
        static const QRegularExpression pointerLeave(QStringLiteral("wl_pointer@\\d+\\.leave\\("));
        static const QRegularExpression caret(QStringLiteral("set_cursor_rectangle\\((-?\\d+), (-?\\d+), (\\d+), (\\d+)\\)"));
        static const QRegularExpression geometry(QStringLiteral("set_window_geometry\\((-?\\d+), (-?\\d+), (\\d+), (\\d+)\\)"));
        static const QRegularExpression popupShown(QStringLiteral("xdg_popup@\\d+\\.configure\\("));
        static const QRegularExpression popupMade(
            QStringLiteral("get_xdg_surface\\(new id xdg_surface@(\\d+), wl_surface@(\\d+)\\).*|.*xdg_surface@(\\d+)\\.get_popup\\("));
        static const QRegularExpression surfaceOnOutput(QStringLiteral("wl_surface@(\\d+)\\.enter\\(wl_output"));
        static const QRegularExpression popupGone(QStringLiteral("-> xdg_popup@\\d+\\.destroy\\(\\)"));
        QRegularExpressionMatch m;
        if ((m = popupMade.match(line)).hasMatch()) {
            // A popup's surface, known from the xdg_surface it is made of.
            if (!m.captured(1).isEmpty())
                m_surfaces.insert(m.captured(1), m.captured(2));
            else
                m_popupSurface = m_surfaces.value(m.captured(3));
        }
        if ((m = surfaceOnOutput.match(line)).hasMatch() && !m_popupSurface.isEmpty()
            && m.captured(1) == m_popupSurface) {
            ++m_menusUp;
            m_popupSurface.clear();
        }
        if (m_surface.isEmpty() && (m = xdgSurface.match(line)).hasMatch()) {
            m_surface = m.captured(1);
        } else if ((m = enter.match(line)).hasMatch()) {
            m_focused = m.captured(1) == m_surface;
        } else if ((m = leave.match(line)).hasMatch()) {
            if (m.captured(1) == m_surface)
                m_focused = false;
        } else if ((m = key.match(line)).hasMatch()) {
            ++m_presses[m.captured(1).toInt()];
        } else if ((m = pointerEnter.match(line)).hasMatch()) {
            m_pointerOnWindow = m.captured(1) == m_surface;
            if (m_pointerOnWindow)
                notePointer(QPoint(qRound(m.captured(2).toDouble()), qRound(m.captured(3).toDouble())));
        } else if ((m = pointerMotion.match(line)).hasMatch()) {
            if (m_pointerOnWindow)
                notePointer(QPoint(qRound(m.captured(1).toDouble()), qRound(m.captured(2).toDouble())));
        } else if (pointerLeave.match(line).hasMatch()) {
            m_pointerOnWindow = false;
        } else if ((m = caret.match(line)).hasMatch()) {
            // The first place the entry named: where its text begins.
            if (!m_caret)
                m_caret = QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
        } else if ((m = geometry.match(line)).hasMatch()) {
            if (!m_geometry)
                m_geometry = QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
        } else if (popupShown.match(line).hasMatch()) {
            ++m_menusShown;
        } else if (popupGone.match(line).hasMatch()) {
            ++m_menusClosed;
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QByteArray m_log;
    QString m_surface;
    bool m_focused = false;
    bool m_pointerOnWindow = false;
    QHash<int, int> m_presses;
    QList<QPoint> m_pointerReports; // where the pointer was over the window, since forgetPointer()
    std::optional<QRect> m_caret;
    std::optional<QRect> m_geometry;
    int m_menusShown = 0;
    int m_menusClosed = 0;
    QHash<QString, QString> m_surfaces; // xdg_surface → wl_surface
    QString m_popupSurface; // of the popup made last, until it is on screen
    int m_menusUp = 0;
};

QString writeImage(const QString& path)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(path);
    return path;
}

enum class Desktop { sway, kwin, gnome };

class NativeWindowKeyboard : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (QProcess* process : {&input, &source}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        if (HasFailure()) {
            std::fprintf(stderr, "entry:\n%s\napp:\n%s\n", qPrintable(entry.log()), qPrintable(app.log().right(6000)));
            if (shell)
                std::fprintf(stderr, "shell:\n%s\n", qPrintable(shell->output().right(3000)));
            else
                std::fprintf(stderr, "compositor:\n%s\n", compositor.log().constData());
        }
    }

    // The compositor, its input and the user's entry with the keyboard; skips where a part is
    // missing.
    void begin(Desktop chosen)
    {
        desktop = chosen;
        if (QStandardPaths::findExecutable(QStringLiteral("zenity")).isEmpty())
            GTEST_SKIP() << "zenity is not installed";
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (platforms.entryList({QStringLiteral("libqwayland-generic*")}).isEmpty())
            GTEST_SKIP() << "Qt's Wayland platform is not installed";
        ASSERT_TRUE(files.isValid());
        a = writeImage(files.filePath(QStringLiteral("a.png")));

        QProcessEnvironment env;
        if (desktop == Desktop::gnome) {
            for (const char* program : {"gnome-shell", "Xwayland", "dbus-daemon"}) {
                if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                    GTEST_SKIP() << program << " is not installed";
            }
            if (!QFile::exists(QStringLiteral(QV_BUILD_DIR "/gnome-shell-extension/quorvenda@quorvenda.org/extension.js")))
                GTEST_SKIP() << "the extension was not built";
            shell = std::make_unique<GnomeShell>(true);
            if (shell->skipped())
                GTEST_SKIP() << shell->output().toStdString();
            ASSERT_TRUE(shell->isRunning()) << shell->output().toStdString();
            ASSERT_TRUE(shell->startInput());
            // A seat with a keyboard: it has one once a key is pressed.
            shell->tap(kShift.keysym);
            env = shell->environment(QProcessEnvironment::systemEnvironment());
        } else {
            if (desktop == Desktop::sway)
                compositor.startSway(kScreenWidth, kScreenHeight);
            else
                compositor.startKWin(kScreenWidth, kScreenHeight);
            if (IsSkipped() || HasFatalFailure())
                return;
            env = compositor.clientEnvironment();
            input.setProcessEnvironment(env);
            input.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            input.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_wayland_input"),
                        {QString::number(kScreenWidth), QString::number(kScreenHeight)});
            ASSERT_TRUE(waitFor([this] {
                inputOutput += input.readAllStandardOutput();
                return inputOutput.contains("ready") || input.state() == QProcess::NotRunning;
            }, kTimeoutMs) && inputOutput.contains("ready"));
        }
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        entry.start(env);
        ASSERT_TRUE(entry.waitUntilFocused()) << "the entry never had the keyboard";
        ASSERT_TRUE(firstKeyArrives());
        // Where the entry's surface is on screen: the pointer goes over it from one point to
        // another, and it says where.
        const QPoint middle(kScreenWidth / 2, kScreenHeight / 2);
        std::optional<QPoint> origin;
        for (int attempt = 0; attempt < 3 && !origin; ++attempt) {
            entry.forgetPointer();
            const QPoint from = middle - QPoint(20 + attempt, 20);
            const QPoint to = middle + QPoint(20, 20 + attempt);
            moveTo(from);
            moveTo(to);
            origin = entry.surfaceOrigin(from, to);
        }
        ASSERT_TRUE(origin.has_value()) << "the pointer never came over the entry's window";
        // On the entry, right of its text and clear of a drag source in the screen's corner.
        if (const std::optional<QRect> caret = entry.caret())
            entryPoint = *origin + QPoint(caret->x() + 350, caret->center().y());
        else
            findTheEntryByItsMenu(*origin);
    }

    // Right-clicks down the window until the entry's menu comes, and closes it again.
    void findTheEntryByItsMenu(QPoint origin)
    {
        const std::optional<QRect> frame = entry.geometry();
        ASSERT_TRUE(frame.has_value());
        for (int y = frame->top() + 10; y < frame->top() + 300; y += 8) {
            const int shown = entry.menusShown();
            const QPoint at = origin + QPoint(frame->left() + 372, y);
            moveTo(at);
            button(true, true);
            button(true, false);
            if (waitFor([&] { return entry.menusShown() > shown; }, 1000)) {
                entryPoint = at;
                EXPECT_TRUE(waitFor([&] { return entry.menusUp() >= entry.menusShown(); }, kTimeoutMs));
                const int closed = entry.menusClosed();
                press(kEscape);
                ASSERT_TRUE(waitFor([&] { return entry.menusClosed() > closed; }, kTimeoutMs));
                return;
            }
        }
        FAIL() << "no right-click on the window brought the entry's menu";
    }

    // The program's first key may go before the seat has a keyboard: keys until one arrives.
    bool firstKeyArrives()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int before = entry.presses(kZ.code);
            press(kZ);
            if (waitFor([&] { return entry.presses(kZ.code) > before; }, 3000)) {
                typed += QString(entry.presses(kZ.code), kZ.letter);
                return true;
            }
        }
        return false;
    }

    // A letter typed, which the entry must get, once the compositor gave it the keyboard back
    // (a wheel or a strip that had it gives it back a moment after it goes).
    bool type(const Key& key)
    {
        // KWin gives it back only as the next key comes, after a menu closed.
        waitFor([&] { return entry.focused(); }, 1000);
        return typeAtOnce(key);
    }

    // Pressed without waiting for the entry to have the keyboard.
    bool typeAtOnce(const Key& key)
    {
        const int before = entry.presses(key.code);
        press(key);
        if (!waitFor([&] { return entry.presses(key.code) > before; }, kTimeoutMs))
            return false;
        typed += key.letter;
        return true;
    }

    // A right-click on the entry brings its context menu, and Escape closes it again.
    void openTheMenu()
    {
        const int up = entry.menusUp();
        const int closed = entry.menusClosed();
        moveTo(entryPoint);
        button(true, true);
        button(true, false);
        // Escape goes to the menu once it is on screen.
        EXPECT_TRUE(waitFor([&] { return entry.menusUp() > up; }, kTimeoutMs)) << "the context menu never came";
        press(kEscape);
        EXPECT_TRUE(waitFor([&] { return entry.menusClosed() > closed; }, kTimeoutMs)) << "Escape never closed the menu";
    }

    // The entry's window has the keyboard, as the desktop itself says.
    void expectEntryFocused()
    {
        EXPECT_TRUE(entry.focused()) << "the entry lost the keyboard";
        if (desktop == Desktop::gnome) {
            EXPECT_EQ(shell->eval(QStringLiteral("let w = global.display.focus_window; w ? w.get_wm_class() : 'none'")),
                      QStringLiteral("zenity"));
        } else if (desktop == Desktop::sway) {
            EXPECT_EQ(swayFocusedApp(), QStringLiteral("zenity"));
        }
    }

    // The app id of the window sway's tree names focused; empty when none is.
    QString swayFocusedApp()
    {
        for (const QJsonObject& node : swayNodes(swayTree(compositor))) {
            if (node.value(QStringLiteral("focused")).toBool())
                return node.value(QStringLiteral("app_id")).toString();
        }
        return {};
    }

    // Quorvenda, started while the user types: every key of the while reaches the entry.
    void startQuorvenda()
    {
        QDir(app.home().path()).mkpath(QStringLiteral("config/quorvenda"));
        QFile settings(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        // No welcome window: it would take the keyboard, as a window the user is to read.
        ASSERT_GT(settings.write(R"({"quorvenda.onboardingDone": true})"), 0);
        settings.close();
        QProcessEnvironment env = app.environment();
        if (desktop == Desktop::gnome) {
            env = shell->environment(env);
        } else {
            const QProcessEnvironment session = compositor.clientEnvironment();
            for (const QString& name : {QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("WAYLAND_DISPLAY"),
                                        QStringLiteral("DBUS_SESSION_BUS_ADDRESS")})
                env.insert(name, session.value(name));
            env.remove(QStringLiteral("DISPLAY"));
            env.remove(QStringLiteral("QT_QPA_PLATFORM"));
            env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
            env.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), desktop == Desktop::sway ? QStringLiteral("sway")
                                                                                       : QStringLiteral("KDE"));
        }
        app.process().setProcessEnvironment(env);
        app.start();
        for (int typedMeanwhile = 0; !app.hasLine(QStringLiteral("app"), QStringLiteral("Quorvenda started"))
             && app.process().state() != QProcess::NotRunning && typedMeanwhile < 40; ++typedMeanwhile) {
            ASSERT_TRUE(type(kB)) << "a key typed while Quorvenda started went elsewhere";
        }
        ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started"), kTimeoutMs))
            << app.log().toStdString();
        if (desktop == Desktop::gnome) {
            ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("GNOME Shell's extension reports drags"),
                                        kTimeoutMs))
                << app.log().toStdString();
        }
        // What it shows as it starts has come once the tray answered, the last of it (a shell
        // without the tray extension has no tray at all).
        EXPECT_TRUE(waitFor([&] {
            return app.hasLine(QStringLiteral("app"), QStringLiteral("The icon is in the tray host's tray"))
                || app.hasLine(QStringLiteral("app"), QStringLiteral("No system tray is available; Quorvenda runs without its icon"))
                || !app.lineStartingWith(QStringLiteral("app"), QStringLiteral("The tray host did not take the icon")).isEmpty();
        }, kTimeoutMs)) << app.log().toStdString();
    }

    // A drag of the file that opens the convert wheel (a rest on the strip on sway and KWin, a
    // Shift tap under GNOME Shell) and a drop on its top segment, which runs the job.
    void dragToTheWheelAndDrop()
    {
        QProcessEnvironment env = desktop == Desktop::gnome ? shell->environment(QProcessEnvironment::systemEnvironment())
                                                            : compositor.clientEnvironment();
        const QString url = QUrl::fromLocalFile(a).toString(QUrl::FullyEncoded);
        env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        source.setProcessEnvironment(env);
        source.setProcessChannelMode(QProcess::MergedChannels);
        // On sway and KWin a layer surface in the corner, from (100, 100) to (300, 300), which
        // takes no keyboard; under GNOME Shell a window, which the press gives the keyboard.
        if (desktop == Desktop::gnome)
            source.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"), {QStringLiteral("files"), url});
        else
            source.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_wayland_drag_source"), {url});
        ASSERT_TRUE(waitFor([&] { return sourceSaid("ready"); }, kTimeoutMs)) << sourceOutput.toStdString();
        QPoint from(200, 200);
        if (desktop == Desktop::gnome) {
            // Mutter denies the keyboard to a window that comes up while the user types in
            // another, and stacks it just below that one, where the entry's window may hide it:
            // the user brings it forward first. Then where the Shell placed it.
            const QString window = QStringLiteral("global.get_window_actors().map(a => a.meta_window)"
                                                  ".find(w => w.get_pid() == %1)").arg(source.processId());
            ASSERT_TRUE(waitFor([&] {
                return shell->eval(QStringLiteral("let w = %1; if (w) w.activate(global.get_current_time()); "
                                                  "let f = global.display.focus_window; "
                                                  "String(w != null && f == w)").arg(window))
                    == QLatin1String("true");
            }, kTimeoutMs)) << "the drag source's window never came forward";
            const QJsonArray frame = QJsonDocument::fromJson(shell->eval(QStringLiteral(
                "let r = %1.get_frame_rect(); JSON.stringify([r.x, r.y, r.width, r.height])").arg(window)).toUtf8()).array();
            ASSERT_EQ(frame.size(), 4);
            from = QPoint(frame[0].toInt() + frame[2].toInt() / 2, frame[1].toInt() + frame[3].toInt() / 2);
        }
        // A machine so busy that the application hears of the drag over its wheel late may
        // take it for gone and close the wheel: the user drags again.
        if (!dragOnce(from))
            dragOnce(from);
        ASSERT_EQ(app.log().count(QStringLiteral("quorvenda.jobs: Finished ")), 1)
            << sourceOutput.toStdString() << app.log().toStdString();
        EXPECT_TRUE(app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished "))
                        .contains(QStringLiteral("1 output(s), 0 failure(s)")))
            << app.log().toStdString();
        EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 2) << app.log().toStdString();
        // The source's window takes no more part.
        source.kill();
        source.waitForFinished(5000);
        waitFor([] { return false; }, 300);
    }

    // One drag from the source to the convert wheel and a drop on its top segment; true when
    // the job finished.
    bool dragOnce(QPoint from)
    {
        const int starts = sourceOutput.count("drag-start");
        const int wheels = app.log().count(QStringLiteral("Opened convert wheel"));
        const int closed = app.log().count(QStringLiteral("Closed the wheel"));
        const QPoint where = desktop == Desktop::gnome ? QPoint(640, 420) : QPoint(kScreenWidth - 1, 400);
        const auto started = [&] {
            sourceSaid("drag-start");
            return sourceOutput.count("drag-start") > starts;
        };
        for (int attempt = 0; attempt < 5 && !started(); ++attempt) {
            if (attempt > 0) {
                button(false, false);
                waitFor([] { return false; }, 500);
            }
            moveTo(from);
            button(false, true);
            glide(from, from + QPoint(10, 5), 2);
            waitFor(started, 3000);
        }
        if (!started())
            return false;
        waitFor([] { return false; }, 200);
        glide(from + QPoint(10, 5), where, 10);
        if (desktop == Desktop::sway || desktop == Desktop::kwin)
            moveTo(where + QPoint(0, 2));
        QString opened;
        const auto wheelOpened = [&](int ms) {
            return waitFor([&] {
                const QStringList lines = app.log().split(QLatin1Char('\n')).filter(QStringLiteral("Opened convert wheel"));
                if (lines.size() > wheels)
                    opened = lines.last();
                return !opened.isEmpty();
            }, ms);
        };
        // The Shell looks at the keys every 16 ms, later on a busy machine, and may miss a
        // quick tap there: tapped again, as a user would.
        if (desktop == Desktop::gnome) {
            for (int attempt = 0; attempt < 5 && opened.isEmpty(); ++attempt) {
                press(kShift);
                wheelOpened(3000);
            }
        }
        wheelOpened(kTimeoutMs);
        const QStringList centre = opened.section(QLatin1Char(' '), -1).split(QLatin1Char(','));
        if (centre.size() != 2) {
            button(false, false);
            return false;
        }
        const QPoint top(centre[0].toInt(), centre[1].toInt() - 148);
        const qsizetype over = app.log().count(QStringLiteral("Drag over "));
        glide(where, top, 5);
        // Let go once the wheel has named a segment and then none for a second: a loaded machine
        // tells it of the way late, and it names a segment before its yes to the compositor
        // has left; a drop before that is a cancelled drag.
        waitFor([&] { return app.log().count(QStringLiteral("Drag over ")) > over; }, kTimeoutMs);
        waitForQuiet([&] { return app.log().count(QStringLiteral("Drag over ")); }, 1000, kTimeoutMs);
        button(false, false);
        waitFor([&] {
            return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty()
                || app.log().count(QStringLiteral("Closed the wheel")) > closed;
        }, kTimeoutMs);
        return waitFor([&] {
            return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
        }, 5000);
    }

    // The file handed to the running Quorvenda, as Open With does.
    void handOver()
    {
        QProcess other;
        other.setProcessEnvironment(app.process().processEnvironment());
        other.start(QStringLiteral(QV_BUILD_DIR "/quorvenda"), {a});
        waitFor([&] { return other.state() == QProcess::NotRunning; }, kTimeoutMs);
    }

    // The wheel of a file handed over (Open With), under the pointer, closed by Escape.
    void openTheWheelOfFilesAndEscape(int nth)
    {
        // A drag made again on a busy machine closed a wheel more before this one.
        const qsizetype closed = app.log().count(QStringLiteral("Closed the wheel"));
        moveTo(QPoint(640, 300));
        handOver();
        ASSERT_TRUE(waitFor([&] {
            return app.log().count(QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")) == nth;
        }, kTimeoutMs)) << app.log().toStdString();
        // Under GNOME Shell the extension takes the wheel's keys (and keeps Super from the
        // overview meanwhile); elsewhere the wheel must have the keyboard, or Escape would close
        // the user's dialog.
        if (desktop == Desktop::gnome) {
            EXPECT_TRUE(waitFor([&] {
                return shell->eval(QStringLiteral("Object.prototype.hasOwnProperty.call(imports.ui.main.overview, 'toggle')"))
                    == QLatin1String("true");
            }, kTimeoutMs)) << "the Shell's extension never took the wheel's keys";
        } else {
            ASSERT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("The wheel has the keyboard")) >= nth; }, kTimeoutMs))
                << app.log().toStdString();
        }
        press(kEscape);
        ASSERT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("Closed the wheel")) > closed; }, kTimeoutMs))
            << app.log().toStdString();
        // The wheel may take a frame or two to go: a key typed at once is the entry's all the
        // same. (KWin gives the keyboard back only later; see type().)
        if (desktop == Desktop::sway) {
            EXPECT_TRUE(typeAtOnce(kZ)) << "a key typed as the wheel closed went to the wheel";
        }
        if (desktop == Desktop::gnome)
            waitFor([] { return false; }, 300);
        else
            EXPECT_TRUE(waitFor([&] { return entry.focused(); }, kTimeoutMs)) << "the keyboard never came back to the entry";
    }

    // The whole day: before, during and after the start, after a drag and after a wheel.
    void liveBesideTheUsersEntry()
    {
        EXPECT_TRUE(type(kA));
        openTheMenu();

        startQuorvenda();
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(type(kC)) << "Quorvenda's start took the keyboard";
        expectEntryFocused();
        openTheMenu();

        dragToTheWheelAndDrop();
        if (HasFatalFailure())
            return;
        if (desktop == Desktop::gnome) {
            // The press on the drag source's window gave it the keyboard, as it would any
            // window: the user clicks back into the entry.
            moveTo(entryPoint);
            button(false, true);
            button(false, false);
            ASSERT_TRUE(waitFor([&] { return entry.focused(); }, kTimeoutMs)) << "a click never gave the entry the keyboard back";
        }
        EXPECT_TRUE(type(kD)) << "the drag or its wheel kept the keyboard";
        expectEntryFocused();
        openTheMenu();

        openTheWheelOfFilesAndEscape(1);
        if (HasFatalFailure())
            return;
        EXPECT_TRUE(type(kE)) << "the wheel of files kept the keyboard";
        expectEntryFocused();
        openTheMenu();
        EXPECT_TRUE(type(kF));

        press(kReturn);
        EXPECT_EQ(entry.finish(), typed);
    }

    void press(const Key& key)
    {
        if (desktop == Desktop::gnome) {
            shell->tap(key.keysym);
            return;
        }
        send(QStringLiteral("key %1 1").arg(key.code));
        send(QStringLiteral("key %1 0").arg(key.code));
    }

    void moveTo(QPoint point)
    {
        if (desktop == Desktop::gnome)
            shell->park(point);
        else
            send(QStringLiteral("move %1 %2").arg(point.x()).arg(point.y()));
        pointer = point;
    }

    // In steps a drag follows.
    void glide(QPoint from, QPoint to, int steps)
    {
        if (desktop == Desktop::gnome) {
            shell->glide(to, steps);
            pointer = to;
            return;
        }
        for (int step = 1; step <= steps; ++step) {
            moveTo(from + (to - from) * step / steps);
            waitFor([] { return false; }, 20);
        }
    }

    void button(bool right, bool down)
    {
        if (desktop == Desktop::gnome) {
            shell->button(down, right ? 0x111 : 0x110);
            waitFor([] { return false; }, 50);
            return;
        }
        send(QLatin1String(right ? "r" : "") + QLatin1String(down ? "down" : "up"));
    }

    void send(const QString& command)
    {
        input.write((command + QLatin1Char('\n')).toUtf8());
        ++sent;
        // Each command is answered once the compositor has it.
        waitFor([this] {
            inputOutput += input.readAllStandardOutput();
            return inputOutput.count("\nok") >= sent || input.state() == QProcess::NotRunning;
        }, kTimeoutMs);
    }

    bool sourceSaid(const QByteArray& word)
    {
        sourceOutput += source.readAll();
        return sourceOutput.contains(word);
    }

    Desktop desktop = Desktop::sway;
    HeadlessCompositor compositor;
    std::unique_ptr<GnomeShell> shell;
    QProcess input;
    QByteArray inputOutput;
    int sent = 0;
    QProcess source;
    QByteArray sourceOutput;
    UserEntry entry;
    QString typed; // what the entry holds
    QPoint entryPoint;
    QPoint pointer;
    QTemporaryDir files;
    QString a;
    RunningApp app;
};

} // namespace

TEST_F(NativeWindowKeyboard, OnGnomeShellAGtkEntryKeepsTheKeyboardAndItsMenuBesideQuorvenda)
{
    begin(Desktop::gnome);
    if (IsSkipped() || HasFatalFailure())
        return;
    liveBesideTheUsersEntry();
}

TEST_F(NativeWindowKeyboard, OnSwayAGtkEntryKeepsTheKeyboardAndItsMenuBesideQuorvenda)
{
    begin(Desktop::sway);
    if (IsSkipped() || HasFatalFailure())
        return;
    liveBesideTheUsersEntry();
}

TEST_F(NativeWindowKeyboard, OnKWinAGtkEntryKeepsTheKeyboardAndItsMenuBesideQuorvenda)
{
    begin(Desktop::kwin);
    if (IsSkipped() || HasFatalFailure())
        return;
    liveBesideTheUsersEntry();
}

// Under GNOME Shell the wheel of files, an X11 window Mutter gives no keyboard, gets the keys it
// takes through the extension: the trigger keys switch wheels (Super opens no overview
// meanwhile), Tab and Shift+Tab move between the rings, Return chooses. A letter typed while it
// shows stays with the user's entry.
TEST_F(NativeWindowKeyboard, OnGnomeShellTheWheelOfFilesTakesItsKeysAndLeavesLettersToTheEntry)
{
    begin(Desktop::gnome);
    if (IsSkipped() || HasFatalFailure())
        return;
    startQuorvenda();
    if (HasFatalFailure())
        return;
    // What the convert wheel holds beyond its main ring.
    int code = -1;
    const QJsonObject wheel = QJsonDocument::fromJson(runDevDriver({QStringLiteral("wheel"), QStringLiteral("convert"), a},
                                                                   app.home().path(), &code)).object();
    ASSERT_EQ(code, 0);
    const QJsonArray overflow = wheel.value(QStringLiteral("overflow")).toArray();
    ASSERT_GE(overflow.size(), 2) << QJsonDocument(wheel).toJson().toStdString();

    moveTo(QPoint(640, 300));
    handOver();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Opened the convert wheel in click mode for 1 file(s)"),
                                kTimeoutMs))
        << app.log().toStdString();
    waitFor([] { return false; }, 300);
    EXPECT_TRUE(type(kA)) << "a letter went to the wheel";

    // Each trigger key held until the wheel switched: the Shell looks at the keys every 16 ms,
    // later on a busy machine.
    const auto switchesTo = [&](const Key& key, const char* kind) {
        shell->key(key.keysym, true);
        const bool switched = app.waitForLine(
            QStringLiteral("wheel"), QStringLiteral("Switched to the %1 wheel").arg(QLatin1String(kind)), kTimeoutMs);
        shell->key(key.keysym, false);
        return switched;
    };
    EXPECT_TRUE(switchesTo(kControl, "actions")) << app.log().toStdString();
    EXPECT_TRUE(switchesTo(kSuper, "tools")) << app.log().toStdString();
    waitFor([] { return false; }, 300);
    EXPECT_EQ(shell->eval(QStringLiteral("imports.ui.main.overview.visible")), QStringLiteral("false"));
    EXPECT_TRUE(switchesTo(kShift, "convert")) << app.log().toStdString();
    waitFor([] { return false; }, 100);

    // Tab opens the More ring on its first item, Right steps to the second, Shift+Tab goes back
    // to the main ring and Tab to the first item again, which Return chooses.
    press(kTab);
    press(kRight);
    shell->key(kShift.keysym, true);
    shell->tap(kTab.keysym);
    shell->key(kShift.keysym, false);
    press(kTab);
    press(kReturn);
    const QString chosen = overflow.at(0).toObject().value(QStringLiteral("id")).toString();
    EXPECT_TRUE(app.waitForLine(QStringLiteral("wheel"), QStringLiteral("Chose ") + chosen, kTimeoutMs))
        << chosen.toStdString() << app.log().toStdString();
    EXPECT_TRUE(waitFor([&] {
        return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
    }, kTimeoutMs)) << app.log().toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 2) << app.log().toStdString();

    EXPECT_TRUE(type(kB));
    expectEntryFocused();
    press(kReturn);
    EXPECT_EQ(entry.finish(), typed);
}
