#include "RunningApp.h"

#include "platform/wayland/DragStrip.h"

#include "support/HeadlessGnomeShell.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QImage>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <functional>

using namespace qv::test;

namespace {

constexpr int kTimeoutMs = 20000;
// A job's workers start in their sandboxes on a machine the Shells keep busy.
constexpr int kJobTimeoutMs = 60000;
constexpr uint kShiftL = 0xffe1;
constexpr uint kSuperL = 0xffeb;
constexpr uint kEscape = 0xff1b;
constexpr uint kReturn = 0xff0d;
constexpr uint kDown = 0xff54;
constexpr uint kButton1Mask = 1 << 8;

QString writeImage(const QString& path)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(path);
    return path;
}


// The Shell, the application, and a native Wayland program to drag files out of.
class GnomeShellDrag : public ::testing::Test {
protected:
    // Nothing when all is set, else why the test cannot run here.
    void begin(bool withExtension, const QStringList& otherExtensions = {})
    {
        for (const char* program : {"gnome-shell", "Xwayland", "dbus-daemon"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                GTEST_SKIP() << program << " is not installed";
        }
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath)
                           + QStringLiteral("/platforms/libqwayland-generic.so")))
            GTEST_SKIP() << "Qt's Wayland plugin is not installed (qt6-wayland)";
        if (!QFile::exists(QStringLiteral(QV_BUILD_DIR "/gnome-shell-extension/quorvenda@quorvenda.org/extension.js")))
            GTEST_SKIP() << "the extension was not built";
        shell = std::make_unique<GnomeShell>(withExtension, otherExtensions);
        if (shell->skipped())
            GTEST_SKIP() << shell->output().toStdString();
        ASSERT_TRUE(shell->isRunning()) << shell->output().toStdString();

        ASSERT_TRUE(files.isValid());
        a = writeImage(files.filePath(QStringLiteral("a.png")));
        b = writeImage(files.filePath(QStringLiteral("b c.png")));

        // No welcome window over the drag, unless the test is about it.
        QDir(app.home().path()).mkpath(QStringLiteral("config/quorvenda"));
        QFile settings(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        QJsonObject values{{QStringLiteral("quorvenda.onboardingDone"), !welcome}};
        if (recentAtStart)
            values.insert(QStringLiteral("quorvenda.state.recentResults"), QJsonArray{a});
        ASSERT_GT(settings.write(QJsonDocument(values).toJson()), 0);
        settings.close();
        app.process().setProcessEnvironment(shell->environment(app.environment()));
        app.start();
        ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started"), kTimeoutMs))
            << app.log().toStdString();
        if (withExtension) {
            ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("GNOME Shell's extension reports drags"),
                                        kTimeoutMs))
                << app.log().toStdString() << shell->output().toStdString();
        }
    }

    // Natively on Wayland, or an X11 program through XWayland.
    void startSource(const QString& platform = QStringLiteral("wayland"))
    {
        QProcessEnvironment env = shell->environment(QProcessEnvironment::systemEnvironment());
        if (platform == QLatin1String("wayland"))
            env.remove(QStringLiteral("DISPLAY"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
        env.insert(QStringLiteral("QV_DRAG_SOURCE_FULLSCREEN"), QStringLiteral("1"));
        source.setProcessEnvironment(env);
        source.setProcessChannelMode(QProcess::MergedChannels);
        source.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_drag_source"),
                     {QStringLiteral("files"), QUrl::fromLocalFile(a).toString(QUrl::FullyEncoded),
                      QUrl::fromLocalFile(b).toString(QUrl::FullyEncoded)});
        ASSERT_TRUE(waitFor([&] { return sourceSaid("ready"); }, kTimeoutMs)) << sourceOutput.toStdString();
        ASSERT_TRUE(shell->startInput());
        // Shown full screen, it has the keyboard once the Shell gave it.
        ASSERT_TRUE(waitFor([&] {
            return shell->eval(QStringLiteral("let w = global.display.focus_window; w ? w.get_wm_class() : ''"))
                .contains(QLatin1String("drag_source"));
        }, kTimeoutMs)) << shell->output().toStdString();
    }

    void TearDown() override
    {
        if (HasFailure())
            std::fprintf(stderr, "app:\n%s\n", qPrintable(app.log().right(8000)));
        if (source.state() != QProcess::NotRunning) {
            source.kill();
            source.waitForFinished(5000);
        }
    }

    bool sourceSaid(const QByteArray& word)
    {
        sourceOutput += source.readAll();
        return sourceOutput.contains(word);
    }

    // Presses on the source and moves to the point until the source starts its drag: a window
    // the Shell has just shown may miss the first press on a loaded machine.
    void startDrag(QPoint to) { startDrag(QPoint(400, 300), to, [&] { return sourceSaid("drag-start"); }); }
    void startDrag(QPoint from, QPoint to, const std::function<bool()>& started, int steps = 10)
    {
        for (int attempt = 0; attempt < 3 && !started(); ++attempt) {
            if (attempt > 0) {
                shell->button(false);
                waitFor([&] { return buttonUp(); }, kTimeoutMs);
            }
            shell->park(from);
            shell->button(true);
            shell->glide(to, steps);
            waitFor(started, 3000);
        }
        ASSERT_TRUE(started()) << sourceOutput.toStdString() << app.log().toStdString();
    }

    // The Shell has the button up.
    bool buttonUp()
    {
        const auto seen = shell->shellPointer();
        return seen && !(seen->second & kButton1Mask);
    }

    bool wheelOpened(const QString& kind)
    {
        return !app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Opened %1 wheel").arg(kind)).isEmpty();
    }

    // The key held until the application heard it, as the Shell looks at the keys only every
    // 16 ms, later on a busy machine; tapped again, as a user would, if it never did.
    bool tapUntilOpened(uint keysym, const QString& kind)
    {
        const QString heard = QStringLiteral("Modifier tap → %1").arg(kind);
        for (int attempt = 0; attempt < 5 && !wheelOpened(kind); ++attempt) {
            const qsizetype before = app.log().count(heard);
            if (shell->hold(keysym, [&] { return app.log().count(heard) > before; }, 3000))
                break;
        }
        return waitFor([&] { return wheelOpened(kind); }, kTimeoutMs);
    }

    // Glides onto a segment of the wheel and lets go once the wheel has the drag over it:
    // XWayland hears of the drag's moves a moment after the Shell. From the wheel's centre the
    // first segment it names is the one; a way from the strip crosses others first. A loaded
    // machine may tell the wheel of them late and all at once, and the wheel tells of a segment
    // before its yes has left: it has heard of the last move, and answered, when it names none
    // for a second.
    void dropOnSegment(QPoint centre, QPoint at, int steps = 10)
    {
        const qsizetype before = app.log().count(QStringLiteral("Drag over "));
        const bool fromCentre = (shell->pointer() - centre).manhattanLength() <= 2;
        shell->glide(at, steps);
        // A hand at rest still trembles by a pixel: a wheel the Shell shows after the glide
        // ended becomes the drop target only as the pointer moves.
        bool named = false;
        for (int look = 0; look < kTimeoutMs / 500 && !named; ++look) {
            if (look > 0) {
                shell->glide(at + QPoint(1, 0), 1);
                shell->glide(at, 1);
            }
            named = waitFor([&] { return app.log().count(QStringLiteral("Drag over ")) > before; }, 500);
        }
        if (fromCentre) {
            EXPECT_TRUE(named) << app.log().toStdString();
        }
        waitForQuiet([&] { return app.log().count(QStringLiteral("Drag over ")); }, 1000, kTimeoutMs);
        shell->button(false);
    }

    // Onto the top segment of the medium wheel centred there, let go, and wait for the job.
    void dropOnTopSegment(QPoint centre, int steps = 10)
    {
        dropOnSegment(centre, centre - QPoint(0, 148), steps);
        ASSERT_TRUE(waitFor([&] { return sourceSaid("drag-end"); }, kTimeoutMs)) << sourceOutput.toStdString();
        ASSERT_TRUE(waitFor([&] {
            return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
        }, kJobTimeoutMs)) << app.log().toStdString();
        EXPECT_TRUE(app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished "))
                        .contains(QStringLiteral("2 output(s), 0 failure(s)")))
            << app.log().toStdString();
        // The results sit beside the originals.
        EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 4) << app.log().toStdString();
    }

    // The welcome window's practice: the photo dragged out of its tile and moved a little within
    // the practice area, a tap of Shift, and a drop on PNG, which writes the copy beside it.
    void practise()
    {
        ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Showing the onboarding window"), kTimeoutMs))
            << app.log().toStdString();
        const QString ready = QStringLiteral("Practice photo ready at ");
        ASSERT_TRUE(waitFor([&] { return !app.lineStartingWith(QStringLiteral("app"), ready).isEmpty(); }, kTimeoutMs))
            << app.log().toStdString();
        const QStringList inWindow =
            app.lineStartingWith(QStringLiteral("app"), ready).section(ready, 1).section(QLatin1Char(' '), 0, 0).split(QLatin1Char(','));
        ASSERT_EQ(inWindow.size(), 2);
        ASSERT_TRUE(shell->startInput());
        // A seat with a keyboard: it has one once a key is pressed.
        shell->tap(kShiftL);
        // Where the Shell placed the window's content: the same twice in a row.
        QList<int> window;
        QList<int> before;
        waitFor([&] {
            before = window;
            waitFor([] { return false; }, 300);
            const QJsonArray values = QJsonDocument::fromJson(shell->eval(QStringLiteral(
                "let w = global.get_window_actors().map(a => a.meta_window).find(w => w.get_title() == 'Welcome to Quorvenda'); "
                "let r = w ? w.frame_rect_to_client_rect(w.get_frame_rect()) : null; "
                "r ? JSON.stringify([r.x, r.y]) : ''")).toUtf8()).array();
            window.clear();
            for (const QJsonValue& value : values)
                window.append(value.toInt());
            return window.size() == 2 && window == before;
        }, kTimeoutMs);
        ASSERT_EQ(window.size(), 2) << shell->output().toStdString();
        const QPoint tile = QPoint(window[0], window[1]) + QPoint(inWindow[0].toInt(), inWindow[1].toInt());

        const QString drag = QStringLiteral("File drag: 1 URLs, 0 promises");
        startDrag(tile, tile + QPoint(40, 16), [&] { return app.hasLine(QStringLiteral("drag"), drag); }, 8);
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(tapUntilOpened(kShiftL, QStringLiteral("convert"))) << app.log().toStdString();
        const QString opened = app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Opened convert wheel"));
        const QStringList centre = opened.section(QLatin1Char(' '), -1).split(QLatin1Char(','));
        ASSERT_EQ(centre.size(), 2) << opened.toStdString();
        // PNG, the second segment clockwise from the top, of the medium wheel.
        const QPoint middle(centre[0].toInt(), centre[1].toInt());
        dropOnSegment(middle, middle + QPoint(105, -105));
        ASSERT_TRUE(waitFor([&] {
            return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
        }, kJobTimeoutMs)) << app.log().toStdString();
        EXPECT_TRUE(app.hasLine(QStringLiteral("wheel"), QStringLiteral("Chose convert.image.png"))) << app.log().toStdString();
        const QDir practice(app.home().filePath(QStringLiteral("data/quorvenda/Practice")));
        EXPECT_EQ(practice.entryList(QDir::Files), QStringList({QStringLiteral("Practice Photo.heic"), QStringLiteral("Practice Photo.png")}))
            << app.log().toStdString();
        EXPECT_FALSE(app.log().contains(QStringLiteral("No drag target")));
    }

    std::unique_ptr<GnomeShell> shell;
    // The first start, with the welcome window.
    bool welcome = false;
    // a.png is a recent result when the application starts.
    bool recentAtStart = false;
    QTemporaryDir files;
    QString a;
    QString b;
    RunningApp app;
    QProcess source;
    QByteArray sourceOutput;
};

} // namespace

// A drag of files out of a native Wayland program under GNOME Shell: the extension tells the
// application, a tap of Shift opens the convert wheel (an X11 window, through XWayland) where the
// pointer is, and the drop on a segment reaches it through Mutter's bridge and runs the job. The
// hand goes to the segment in one quick move as the wheel appears: the pixel the extension moves
// the pointer and back meanwhile must not take it back to the centre.
TEST_F(GnomeShellDrag, AWaylandDragOpensTheWheelOnShiftAndTheDropRunsTheJob)
{
    begin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    startSource();
    if (HasFatalFailure())
        return;

    const QPoint where(640, 420);
    startDrag(where);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("File drag: 2 URLs, 0 promises"), kTimeoutMs))
        << app.log().toStdString();

    ASSERT_TRUE(tapUntilOpened(kShiftL, QStringLiteral("convert"))) << app.log().toStdString();
    EXPECT_TRUE(app.hasLine(QStringLiteral("drag"), QStringLiteral("Modifier tap → convert")));
    dropOnTopSegment(where, 1);
}


// Super switches to the tools wheel in place; a drop away from the wheel closes it and runs
// nothing.
TEST_F(GnomeShellDrag, SuperSwitchesWheelsAndADropElsewhereRunsNothing)
{
    begin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    startSource();
    if (HasFatalFailure())
        return;

    startDrag(QPoint(640, 420));
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("File drag: 2 URLs, 0 promises"), kTimeoutMs))
        << app.log().toStdString();
    ASSERT_TRUE(tapUntilOpened(kShiftL, QStringLiteral("convert"))) << app.log().toStdString();
    // Held until the wheel switched, as the Shell looks at the keys every 16 ms, later on a
    // busy machine; tapped again, as a user would, if it never did.
    const QString switched = QStringLiteral("Switched to the tools wheel");
    // What the Shell had while Super was held, for a failure's message.
    QString held;
    const QString letGo = QStringLiteral("GNOME Shell: modifiers 0 during the drag");
    for (int attempt = 0; attempt < 5 && !app.hasLine(QStringLiteral("wheel"), switched); ++attempt) {
        const qsizetype before = app.log().count(letGo);
        shell->hold(kSuperL, [&] {
            held = shell->eval(QStringLiteral("JSON.stringify([global.get_pointer(), imports.ui.main.overview.visible])"));
            return app.hasLine(QStringLiteral("wheel"), switched);
        }, 3000);
        // Pressed again only once the Shell told the key's release: a press right after it
        // falls between two of its looks, and is no new press.
        if (!app.hasLine(QStringLiteral("wheel"), switched))
            waitFor([&] { return app.log().count(letGo) > before; }, kTimeoutMs);
    }
    ASSERT_TRUE(app.hasLine(QStringLiteral("wheel"), switched))
        << app.log().toStdString() << "the Shell with Super held: " << held.toStdString();

    shell->glide(QPoint(150, 700));
    shell->button(false);
    ASSERT_TRUE(waitFor([&] { return sourceSaid("drag-end"); }, kTimeoutMs)) << sourceOutput.toStdString();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("wheel"), QStringLiteral("Closed the wheel"), kTimeoutMs))
        << app.log().toStdString();
    EXPECT_TRUE(app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Chose ")).isEmpty()) << app.log().toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 2);
}

// A drag between X11 programs stays inside XWayland, which the Shell does not report and which
// hears no keys meanwhile: X11 sees the drag, the extension the keys.
TEST_F(GnomeShellDrag, AnX11ProgramsDragOpensTheWheelOnShiftToo)
{
    begin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    startSource(QStringLiteral("xcb"));
    if (HasFatalFailure())
        return;

    const QPoint where(640, 420);
    startDrag(where);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("File drag: 2 URLs, 0 promises"), kTimeoutMs))
        << app.log().toStdString();
    ASSERT_TRUE(tapUntilOpened(kShiftL, QStringLiteral("convert"))) << app.log().toStdString();
    dropOnTopSegment(where);
}

// Without the extension, native drags reach the application only over windows of its own: a
// strip along the right edge of the screen, an X11 window through XWayland. No key reaches it
// during the drag, so resting there opens the first wheel; the drop on a segment runs the job.
TEST_F(GnomeShellDrag, WithoutTheExtensionARestOnTheStripOpensTheWheel)
{
    begin(false);
    if (IsSkipped() || HasFatalFailure())
        return;
    startSource();
    if (HasFatalFailure())
        return;

    startDrag(QPoint(1100, 400));
    if (HasFatalFailure())
        return;
    // Onto the strip: the screen's last columns, where a drag pushed to the edge stops.
    shell->glide(QPoint(1280 - 1, 400), 5);
    ASSERT_TRUE(app.waitForLine(QStringLiteral("drag"), QStringLiteral("File drag: 2 URLs, 0 promises"), kTimeoutMs))
        << app.log().toStdString();
    ASSERT_TRUE(waitFor([&] { return wheelOpened(QStringLiteral("convert")); }, kTimeoutMs)) << app.log().toStdString();
    EXPECT_TRUE(app.hasLine(QStringLiteral("drag"), QStringLiteral("Dwell → convert"))) << app.log().toStdString();
    // Beside the strip, as far right as the wheel fits.
    dropOnTopSegment(QPoint(1280 - 258 - qv::DragStrip::thickness, 400));
}

// Files copied in a native Wayland program reach the application, an X11 program through
// XWayland, whichever window has the keyboard: GNOME Shell offers no data control, but keeps
// XWayland's clipboard in step with Wayland's. The hot key's command opens the convert wheel for
// them.
TEST_F(GnomeShellDrag, FilesCopiedInAWaylandProgramOpenTheWheelOnTheHotKeysCommand)
{
    begin(false);
    if (IsSkipped() || HasFatalFailure())
        return;
    // A seat with a keyboard, which the copying window needs to be given: the seat has one
    // once a key is pressed.
    ASSERT_TRUE(shell->startInput());
    shell->tap(kShiftL);
    QProcessEnvironment env = shell->environment(QProcessEnvironment::systemEnvironment());
    env.remove(QStringLiteral("DISPLAY"));
    env.insert(QStringLiteral("QV_COPY_FULLSCREEN"), QStringLiteral("1"));
    source.setProcessEnvironment(env);
    source.setProcessChannelMode(QProcess::MergedChannels);
    source.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_wayland_clipboard"),
                 {QStringLiteral("copy"), QUrl::fromLocalFile(a).toString(QUrl::FullyEncoded),
                  QUrl::fromLocalFile(b).toString(QUrl::FullyEncoded)});
    ASSERT_TRUE(waitFor([&] { return sourceSaid("copied"); }, kTimeoutMs)) << sourceOutput.toStdString();
    // And again on a click, as after a user's Ctrl+C: input the Shell has seen.
    shell->park(QPoint(640, 400));
    shell->button(true);
    shell->button(false);

    // The copy reaches XWayland a moment later: the command is given again until it is seen.
    const QString opened = QStringLiteral("Opened the convert wheel in click mode for 2 file(s)");
    for (int attempt = 0; attempt < 10 && !app.hasLine(QStringLiteral("app"), opened); ++attempt) {
        QProcess other;
        other.setProcessEnvironment(shell->environment(app.environment()));
        other.start(QStringLiteral(QV_BUILD_DIR "/quorvenda"), {QStringLiteral("--convert-copied")});
        waitFor([&] { return other.state() == QProcess::NotRunning; }, kTimeoutMs);
        app.waitForLine(QStringLiteral("app"), opened, 1500);
    }
    sourceOutput += source.readAll();
    EXPECT_TRUE(app.hasLine(QStringLiteral("app"), opened)) << app.log().toStdString() << sourceOutput.toStdString();
}

// Files handed to the application (Open With) open the wheel under the pointer, which XWayland
// does not know over a Wayland window: the extension tells it. Escape and a press beside the
// wheel, which reach the Shell and not XWayland, close it through the extension.
TEST_F(GnomeShellDrag, TheClickWheelOpensUnderThePointerAndClosesOnEscapeAndAPressBesideIt)
{
    begin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(shell->startInput());
    // A seat with a keyboard: it has one once a key is pressed.
    shell->tap(kShiftL);

    const auto openAt = [&](QPoint pointer, int opened) {
        shell->park(pointer);
        QProcess other;
        other.setProcessEnvironment(shell->environment(app.environment()));
        other.start(QStringLiteral(QV_BUILD_DIR "/quorvenda"), {a});
        waitFor([&] { return other.state() == QProcess::NotRunning; }, kTimeoutMs);
        ASSERT_TRUE(waitFor([&] {
            return app.log().count(QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")) == opened;
        }, kTimeoutMs)) << app.log().toStdString();
        const QStringList lines = app.log().split(QLatin1Char('\n')).filter(QStringLiteral("Opened convert wheel"));
        ASSERT_EQ(lines.size(), opened) << app.log().toStdString();
        EXPECT_TRUE(lines.last().endsWith(QStringLiteral(" at %1,%2").arg(pointer.x()).arg(pointer.y())))
            << app.log().toStdString();
    };
    // The extension takes the wheel's keys, and keeps Super from the overview, while it watches
    // the wheel; it lets them go once the wheel closed.
    const auto watched = [&](bool on) {
        const QString script = QStringLiteral("Object.prototype.hasOwnProperty.call(imports.ui.main.overview, 'toggle')");
        return waitFor([&] { return shell->eval(script) == QLatin1String(on ? "true" : "false"); }, kTimeoutMs);
    };
    const auto closed = [&](int times) {
        return waitFor([&] { return app.log().count(QStringLiteral("Closed the wheel")) == times; }, kTimeoutMs)
            && watched(false);
    };

    openAt(QPoint(700, 430), 1);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(watched(true)) << app.log().toStdString();
    shell->tap(kEscape);
    EXPECT_TRUE(closed(1)) << app.log().toStdString();

    openAt(QPoint(560, 380), 2);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(watched(true)) << app.log().toStdString();
    shell->glide(QPoint(1180, 720), 5);
    // Held until the wheel closed: the Shell's pointer is looked at every 16 ms.
    shell->button(true);
    EXPECT_TRUE(closed(2)) << app.log().toStdString();
    shell->button(false);

    // And the hot key's command again, as GNOME's keyboard settings give it.
    openAt(QPoint(640, 400), 3);
    if (HasFatalFailure())
        return;
    QProcess hotKey;
    hotKey.setProcessEnvironment(shell->environment(app.environment()));
    hotKey.start(QStringLiteral(QV_BUILD_DIR "/quorvenda"), {QStringLiteral("--convert-copied")});
    waitFor([&] { return hotKey.state() == QProcess::NotRunning; }, kTimeoutMs);
    EXPECT_TRUE(closed(3)) << app.log().toStdString();
    EXPECT_TRUE(app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Chose ")).isEmpty()) << app.log().toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 2);

    // The arrows and Return choose on it, which reach the Shell and not XWayland either.
    openAt(QPoint(640, 400), 4);
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(watched(true)) << app.log().toStdString();
    shell->tap(kDown);
    shell->tap(kReturn);
    EXPECT_TRUE(waitFor([&] {
        return !app.lineStartingWith(QStringLiteral("jobs"), QStringLiteral("Finished ")).isEmpty();
    }, kJobTimeoutMs)) << app.log().toStdString();
    EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), 3) << app.log().toStdString();
}

// The tray icon in GNOME's AppIndicator extension: a click opens the menu with our entries, as
// a menu of the Shell's, and choosing "Pause Wheel" pauses the wheel (the settings file says so).
TEST_F(GnomeShellDrag, TheTrayMenuOpensInTheAppIndicatorMenuAndItsEntryRuns)
{
    const QString appIndicator = QStringLiteral("/usr/share/gnome-shell/extensions/ubuntu-appindicators@ubuntu.com");
    if (!QFileInfo::exists(appIndicator))
        GTEST_SKIP() << "GNOME's AppIndicator extension is not installed (gnome-shell-extension-appindicator)";
    recentAtStart = true;
    begin(false, {appIndicator});
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("The icon is in the tray host's tray"), kTimeoutMs))
        << app.log().toStdString();
    ASSERT_TRUE(shell->startInput());
    const QString item = QStringLiteral("imports.ui.main.panel.statusArea['appindicator-org.kde.StatusNotifierItem-%1-1']")
                             .arg(app.process().processId());
    // Where the Shell drew the icon once the extension has read the menu: [x, y, width, height],
    // the same twice in a row (the remote input's own indicator comes into the bar meanwhile).
    QList<int> icon;
    QList<int> before;
    QString seen;
    waitFor([&] {
        before = icon;
        waitFor([] { return false; }, 300);
        seen = shell->eval(QStringLiteral(
            "let a = %1; let [x, y] = a.get_transformed_position(); let [w, h] = a.get_transformed_size(); "
            "a.menu.numMenuItems > 0 ? JSON.stringify([x, y, w, h]) : 'items ' + a.menu.numMenuItems").arg(item));
        const QJsonArray values = QJsonDocument::fromJson(seen.toUtf8()).array();
        icon.clear();
        for (const QJsonValue& value : values)
            icon.append(qRound(value.toDouble()));
        return icon.size() == 4 && icon == before;
    }, kTimeoutMs);
    ASSERT_EQ(icon.size(), 4) << seen.toStdString() << "\n" << shell->output().toStdString() << app.log().toStdString();
    const QPoint centre(icon[0] + icon[2] / 2, icon[1] + icon[3] / 2);
    shell->park(centre);
    shell->button(true);
    shell->button(false);
    ASSERT_TRUE(waitFor([&] { return shell->eval(item + QStringLiteral(".menu.isOpen")) == QLatin1String("true"); },
                        kTimeoutMs));
    EXPECT_EQ(shell->eval(QStringLiteral("JSON.stringify(%1.menu._getMenuItems().map(i => i.label && i.label.text ? i.label.text : '-'))").arg(item)),
              QStringLiteral(R"(["Convert Copied Files…","Recent Conversions","Active Jobs","-","Pause Wheel","-","Settings…","Getting Started…","Quit Quorvenda"])"));
    // Where the entry is once the menu's opening animation is over (a busy Shell draws it
    // late): the same twice in a row.
    QJsonArray pause;
    QJsonArray pauseBefore;
    waitFor([&] {
        pauseBefore = pause;
        waitFor([] { return false; }, 300);
        pause = QJsonDocument::fromJson(shell->eval(QStringLiteral(
            "let p = %1.menu._getMenuItems().find(i => i.label && i.label.text == 'Pause Wheel'); "
            "let [x, y] = p.get_transformed_position(); let [w, h] = p.get_transformed_size(); "
            "JSON.stringify([x + w / 2, y + h / 2, p.opacity, %1.menu.actor.opacity])").arg(item)).toUtf8()).array();
        return pause.size() == 4 && pause == pauseBefore && pause[2].toDouble() == 255 && pause[3].toDouble() == 255;
    }, kTimeoutMs);
    ASSERT_EQ(pause.size(), 4) << shell->output().toStdString();
    shell->glide(QPoint(qRound(pause[0].toDouble()), qRound(pause[1].toDouble())), 5);
    shell->button(true);
    shell->button(false);
    QFile settings(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
    EXPECT_TRUE(waitFor([&] {
        if (!settings.open(QIODevice::ReadOnly))
            return false;
        const QJsonObject values = QJsonDocument::fromJson(settings.readAll()).object();
        settings.close();
        return values.value(QStringLiteral("quorvenda.paused")).toBool();
    }, kTimeoutMs)) << app.log().toStdString();
    // The host shows the change in an entry it read before: the check mark, without a restart.
    EXPECT_TRUE(waitFor([&] {
        return shell->eval(QStringLiteral("let p = %1.menu._getMenuItems().find(i => i.label && i.label.text == 'Pause Wheel'); "
                                          "p._ornament == imports.ui.popupMenu.Ornament.CHECK").arg(item)) == QLatin1String("true");
    }, kTimeoutMs)) << shell->output().toStdString();

    // Recent Conversions as the host shows it, and its Clear Menu chosen through the host's own
    // client of the menu: the result it read at the start gives way to "Nothing yet".
    const QString recent = QStringLiteral("%1.menu._getMenuItems().find(i => i.label && i.label.text == 'Recent Conversions').menu")
                               .arg(item);
    const QString labels = QStringLiteral("JSON.stringify(%1._getMenuItems().map(i => i.label && i.label.text ? i.label.text : '-'))").arg(recent);
    EXPECT_EQ(shell->eval(labels), QStringLiteral(R"(["a.png","-","Clear Menu"])"));
    shell->eval(QStringLiteral("%1._getMenuItems().find(i => i.label && i.label.text == 'Clear Menu')"
                               "._dbusItem.handleEvent('clicked', imports.gi.GLib.Variant.new('i', 0), 0)").arg(recent));
    QString shown;
    EXPECT_TRUE(waitFor([&] {
        shown = shell->eval(labels);
        return shown == QLatin1String(R"(["Nothing yet"])");
    }, kTimeoutMs)) << shown.toStdString();
}

// The welcome window's practice, with the extension and without it (as on the first start).
TEST_F(GnomeShellDrag, TheWelcomePracticeOpensConvertForAShiftTapWithTheExtension)
{
    welcome = true;
    begin(true);
    if (IsSkipped() || HasFatalFailure())
        return;
    practise();
}

TEST_F(GnomeShellDrag, TheWelcomePracticeOpensConvertForAShiftTapWithoutTheExtension)
{
    welcome = true;
    begin(false);
    if (IsSkipped() || HasFatalFailure())
        return;
    practise();
}
