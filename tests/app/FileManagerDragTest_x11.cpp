// Real files dragged out of real file managers (Thunar, Nautilus, Dolphin), each running natively
// on a headless compositor, onto the running application: on sway a rest on the strip opens the
// first wheel and resting on moves to the next; on KWin a tap over the strip picks the wheel and
// the rest never overrides it; on GNOME Shell our extension reports the drag and a tap opens the
// wheel through XWayland. A drop on a segment must leave the right file beside the original,
// read back by libvips' own tool; a drag that only crosses the strip opens nothing and leaves the
// file manager as it was.
//
// Each test prints "figure <desktop> <file manager> <what> <ms>" lines, as the application's log
// times them: from the rest or the tap to the wheel's first frame, and from the drop to the job
// and to its results.

#include "RunningApp.h"

#include "support/HeadlessCompositor.h"
#include "support/HeadlessGnomeShell.h"
#include "support/KWinDesktop.h"
#include "support/SwayTree.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include <unistd.h>

using namespace qv::test;

namespace {

constexpr int kTimeoutMs = 20000;
// A first window, or a compositor's first answer, on a loaded machine: Nautilus alone starts a
// search engine first.
constexpr int kWindowTimeoutMs = 90000;
constexpr int kWidth = 1280;
constexpr int kHeight = 800;
// The labels of a medium wheel's top segment stand this far above its centre.
constexpr int kTopLabel = 148;
const QSize kPictureSize(900, 600);
// Where a drag pushed against the right edge stops: on the strip.
const QPoint kStrip(kWidth - 1, 400);

enum class Desktop { sway, kwin, gnome };

const char* nameOf(Desktop desktop)
{
    switch (desktop) {
    case Desktop::sway: return "sway";
    case Desktop::kwin: return "kwin";
    case Desktop::gnome: return "gnome";
    }
    return "";
}

// A file manager as a user starts it on a folder, and where the folder's only file lies in its
// window at its first size: from the top-left of what the program draws (below the title bar a
// compositor draws), as root sees it, above whom some put a warning bar.
struct FileManager {
    const char* program;
    const char* windowClass; // app id on Wayland, lower case
    QPoint icon;
    int rootBar;
    const char* title; // what a GNOME window's class contains
    int ownTitleBar; // the title bar it draws itself where the compositor draws none (GNOME)
};

const FileManager kThunar{"thunar", "thunar", QPoint(210, 146), 38, "thunar", 38};
const FileManager kNautilus{"nautilus", "org.gnome.nautilus", QPoint(338, 117), 0, "nautilus", 0};
const FileManager kDolphin{"dolphin", "org.kde.dolphin", QPoint(324, 182), 50, "dolphin", 30};

enum class Key { shift, control, super };

class FileManagerDrag : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (!compositor.busAddress().isEmpty())
            QDBusConnection::disconnectFromBus(compositor.busAddress());
        for (QProcess* process : {&input, &manager}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
        if (HasFailure()) {
            std::fprintf(stderr, "application:\n%s\n", qPrintable(app.log()));
            std::fprintf(stderr, "file manager:\n%s\n", manager.readAll().constData());
            if (shell)
                std::fprintf(stderr, "shell:\n%s\n", qPrintable(shell->output()));
            else
                std::fprintf(stderr, "compositor:\n%s\n", compositor.log().constData());
        }
    }

    // The desktop, the application and the file manager on a folder of pictures; skips when one
    // of them is missing here.
    void begin(Desktop which, const FileManager& fileManager, bool withExtension = true, int count = 1)
    {
        desktop = which;
        fm = &fileManager;
        if (QStandardPaths::findExecutable(QString::fromLatin1(fm->program)).isEmpty())
            GTEST_SKIP() << fm->program << " is not installed";
        if (!QFile::exists(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqwayland-generic.so")))
            GTEST_SKIP() << "Qt's Wayland platform is not installed (qt6-wayland)";
        if (QStandardPaths::findExecutable(QStringLiteral("vipsheader")).isEmpty())
            GTEST_SKIP() << "vipsheader is not installed";
        ASSERT_TRUE(files.isValid());
        ASSERT_TRUE(managerHome.isValid());
        // A photo as a camera leaves it: large, and saved at a quality that leaves room to compress.
        QImage image(kPictureSize, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x % 256, (y + x / 3) % 256, (x * y) % 256));
        }
        for (int i = 1; i <= count; ++i) {
            pictures.append(files.filePath(QStringLiteral("Harbour at dusk, café – %1.jpg").arg(i)));
            ASSERT_TRUE(image.save(pictures.last(), "JPEG", 100));
        }

        QProcessEnvironment env;
        if (desktop == Desktop::gnome) {
            for (const char* program : {"gnome-shell", "Xwayland", "dbus-daemon"}) {
                if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
                    GTEST_SKIP() << program << " is not installed";
            }
            if (withExtension
                && !QFile::exists(QStringLiteral(QV_BUILD_DIR "/gnome-shell-extension/quorvenda@quorvenda.org/extension.js")))
                GTEST_SKIP() << "the extension was not built";
            shell = std::make_unique<GnomeShell>(withExtension);
            if (shell->skipped())
                GTEST_SKIP() << shell->output().toStdString();
            ASSERT_TRUE(shell->isRunning()) << shell->output().toStdString();
            ASSERT_TRUE(shell->startInput());
            // A seat with a keyboard: it has one once a key is pressed.
            tap(Key::shift);
            env = shell->environment(app.environment());
        } else {
            if (desktop == Desktop::sway)
                compositor.startSway(kWidth, kHeight);
            else
                compositor.startKWin(kWidth, kHeight);
            if (IsSkipped() || HasFatalFailure())
                return;
            env = app.environment();
            const QProcessEnvironment session = compositor.clientEnvironment();
            for (const QString& name : {QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("WAYLAND_DISPLAY"),
                                        QStringLiteral("DBUS_SESSION_BUS_ADDRESS")})
                env.insert(name, session.value(name));
            env.remove(QStringLiteral("DISPLAY"));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
            input.setProcessEnvironment(session);
            input.start(QStringLiteral(QV_BUILD_DIR "/tests/quorvenda_test_wayland_input"),
                        {QString::number(kWidth), QString::number(kHeight)});
            ASSERT_TRUE(waitFor([&] { return inputOutput().startsWith("ready") || input.state() == QProcess::NotRunning; },
                                kWindowTimeoutMs) && inputOutput().startsWith("ready"))
                << "the input driver did not come up";
        }
        sessionEnvironment = env;

        // No welcome window over the drag; every other setting as a new user has it.
        QDir(app.home().path()).mkpath(QStringLiteral("config/quorvenda"));
        QFile settings(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        ASSERT_GT(settings.write(R"({"quorvenda.onboardingDone": true})"), 0);
        settings.close();
        // Each line timed from the start, for the figures.
        env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{category}: %{message} @%{time process}"));
        app.process().setProcessEnvironment(env);
        app.start();
        ASSERT_FALSE(waitForLog(QStringLiteral("app: Quorvenda started")).isEmpty()) << app.log().toStdString();
        if (desktop == Desktop::gnome && withExtension) {
            ASSERT_FALSE(waitForLog(QStringLiteral("drag: GNOME Shell's extension reports drags")).isEmpty())
                << app.log().toStdString();
        }
        startManager();
    }

    // The file manager on the folder, its window where the test knows it.
    void startManager()
    {
        QProcessEnvironment env = sessionEnvironment;
        for (const QString& name : {QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("QT_LOGGING_RULES"),
                                    QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("QT_QPA_PLATFORM")})
            env.remove(name);
        env.insert(QStringLiteral("HOME"), managerHome.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), managerHome.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), managerHome.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), managerHome.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        manager.setProcessEnvironment(env);
        manager.setProcessChannelMode(QProcess::MergedChannels);
        QStringList arguments;
        if (QLatin1String(fm->program) != QLatin1String("thunar"))
            arguments << QStringLiteral("--new-window");
        arguments << files.path();
        std::optional<QPoint> origin;
        // A file manager that gave up before its window came (Nautilus on a loaded machine, whose
        // start on the bus timed out) is started again, as a user would.
        for (int attempt = 0; attempt < 3 && !origin; ++attempt) {
            if (attempt > 0)
                std::fprintf(stderr, "%s ended before its window came:\n%s\n", fm->program, manager.readAll().constData());
            manager.start(QString::fromLatin1(fm->program), arguments);
            ASSERT_TRUE(manager.waitForStarted(kTimeoutMs));
            // One that handed the folder to an instance of its own on the bus ends well at once.
            waitFor([&] {
                origin = windowOrigin();
                return origin.has_value()
                    || (manager.state() == QProcess::NotRunning
                        && (manager.exitStatus() != QProcess::NormalExit || manager.exitCode() != 0));
            }, kWindowTimeoutMs);
        }
        ASSERT_TRUE(origin) << fm->program << "'s window never came";
        QPoint offset = fm->icon;
        if (geteuid() != 0)
            offset.ry() -= fm->rootBar;
        if (desktop == Desktop::gnome)
            offset.ry() += fm->ownTitleBar;
        iconAt = *origin + offset;
        // The folder is read and drawn a moment after the window maps.
        waitFor([] { return false; }, 700);
    }

    // Where the file manager's own drawing begins on screen, once its window is placed.
    std::optional<QPoint> windowOrigin()
    {
        if (desktop == Desktop::sway)
            return swayWindowOrigin();
        if (desktop == Desktop::kwin)
            return kwinWindowOrigin();
        return gnomeWindowOrigin();
    }

    std::optional<QPoint> swayWindowOrigin()
    {
        std::optional<QPoint> found;
        for (const QJsonObject& node : swayNodes(swayTree(compositor))) {
            if (node.value(QStringLiteral("app_id")).toString().toLower() == QLatin1String(fm->windowClass)
                && node.value(QStringLiteral("visible")).toBool()) {
                const QJsonObject rect = node.value(QStringLiteral("rect")).toObject();
                const QJsonObject inner = node.value(QStringLiteral("window_rect")).toObject();
                found = QPoint(rect.value(QStringLiteral("x")).toInt() + inner.value(QStringLiteral("x")).toInt(),
                               rect.value(QStringLiteral("y")).toInt() + inner.value(QStringLiteral("y")).toInt());
            }
        }
        return found;
    }

    // KWin places a new window in the middle of the screen: a script of its own moves it to the
    // top-left corner, as tall as the screen, and says where it is.
    std::optional<QPoint> kwinWindowOrigin()
    {
        const QString answer = QStringLiteral("placed-%1").arg(++scripts);
        const QString said = runKWinScript(compositor, QStringLiteral(
            "workspace.clientList().forEach(function (c) {\n"
            "  if (String(c.resourceClass).toLowerCase() != '%1' || !c.normalWindow) return;\n"
            "  c.frameGeometry = {x: 0, y: 0, width: %2, height: %3};\n"
            "  var g = c.frameGeometry;\n"
            "  print('%4 ' + g.x + ' ' + g.y + ' ' + g.width);\n"
            "});\n").arg(QLatin1String(fm->windowClass)).arg(kWidth - 40).arg(kHeight).arg(answer),
                                           answer, 1500);
        if (said != QStringLiteral("0 0 %1").arg(kWidth - 40))
            return std::nullopt;
        // Moved, it is drawn again there.
        waitFor([] { return false; }, 300);
        return QPoint(0, 0);
    }

    // GNOME Shell: the window to the top-left corner below the bar, and where it is once there.
    std::optional<QPoint> gnomeWindowOrigin()
    {
        const QString result = shell->eval(QStringLiteral(
            "(() => { const w = global.get_window_actors().map(a => a.meta_window)"
            ".find(w => (w.get_wm_class() || '').toLowerCase().includes('%1'));"
            "if (!w) return [];"
            "const r = w.get_frame_rect(); if (r.x == 0 && r.width == %2) return [r.x, r.y];"
            "w.unmaximize(3); w.move_resize_frame(true, 0, 0, %2, %3); return []; })()")
                                              .arg(QLatin1String(fm->title)).arg(kWidth - 160).arg(kHeight - 100));
        const QJsonArray at = QJsonDocument::fromJson(result.toUtf8()).array();
        if (at.size() != 2)
            return std::nullopt;
        return QPoint(at[0].toInt(), at[1].toInt());
    }

    QByteArray inputOutput()
    {
        inputLines += input.readAllStandardOutput();
        return inputLines;
    }

    void send(const QString& command)
    {
        input.write((command + QLatin1Char('\n')).toUtf8());
        ++sent;
        waitFor([this] { return inputOutput().count("\nok") >= sent || input.state() == QProcess::NotRunning; },
                kTimeoutMs);
    }

    void moveTo(QPoint at)
    {
        if (shell)
            shell->glide(at, 1);
        else
            send(QStringLiteral("move %1 %2").arg(at.x()).arg(at.y()));
    }

    void button(bool down)
    {
        if (shell)
            shell->button(down);
        else
            send(QLatin1String(down ? "down" : "up"));
    }

    void glide(QPoint from, QPoint to, int steps = 10)
    {
        for (int step = 1; step <= steps; ++step) {
            moveTo(from + (to - from) * step / steps);
            waitFor([] { return false; }, 20);
        }
    }

    void key(Key which, bool down)
    {
        if (shell) {
            const uint keysym = which == Key::shift ? 0xffe1 : which == Key::control ? 0xffe3 : 0xffeb;
            shell->key(keysym, down);
        } else {
            const int code = which == Key::shift ? 42 : which == Key::control ? 29 : 125;
            send(QStringLiteral("key %1 %2").arg(code).arg(down ? 1 : 0));
        }
    }

    void tap(Key which)
    {
        key(which, true);
        waitFor([] { return false; }, 50);
        key(which, false);
    }

    // A band drawn from the empty part of the folder's view back over the icons in its first
    // row: every file selected.
    void selectEveryFile()
    {
        const QPoint from = iconAt + QPoint(360, 90);
        const QPoint to = iconAt - QPoint(40, 30);
        if (shell)
            shell->park(from);
        else
            moveTo(from);
        waitFor([] { return false; }, 100);
        button(true);
        glide(from, to, 8);
        waitFor([] { return false; }, 200);
        button(false);
        waitFor([] { return false; }, 300);
    }

    // Taps the key until the application hears it, as a user would tap again: GNOME Shell looks
    // at the keys every 16 ms, later on a busy machine, and may miss a quick tap. The line that
    // says so, empty when none came.
    QString tapUntilHeard(Key which, const QString& heard)
    {
        const int before = app.log().count(heard);
        const auto done = [&] { return app.log().count(heard) > before; };
        for (int attempt = 0; attempt < 5; ++attempt) {
            // The Shell's extension hears the key only while it is held.
            if (shell) {
                const uint keysym = which == Key::shift ? 0xffe1 : which == Key::control ? 0xffe3 : 0xffeb;
                if (shell->hold(keysym, done, 3000))
                    break;
                continue;
            }
            tap(which);
            if (waitFor(done, 3000))
                break;
        }
        return waitForLog(QStringLiteral("drag: ") + heard, before + 1);
    }

    // Presses on the file's icon (with every file selected first when there are several) and
    // drags to the point: the application hears of it (over the strip, or from the Shell
    // anywhere). A window just shown may not have drawn its folder yet on a loaded machine, so it
    // is tried again; false when no drag of them all began.
    bool dragTo(QPoint to)
    {
        const QString dragged = QStringLiteral("File drag: %1 URLs").arg(pictures.size());
        const int seen = app.log().count(dragged);
        for (int attempt = 0; attempt < 5; ++attempt) {
            if (attempt > 0) {
                button(false);
                waitFor([] { return false; }, 500 * attempt);
            }
            if (pictures.size() > 1)
                selectEveryFile();
            if (shell)
                shell->park(iconAt);
            else
                moveTo(iconAt);
            waitFor([] { return false; }, 100);
            button(true);
            // Past the toolkits' drag threshold first, a little at a time.
            glide(iconAt, iconAt + QPoint(24, 12), 4);
            waitFor([] { return false; }, 150);
            glide(iconAt + QPoint(24, 12), to);
            if (waitFor([&] { return app.log().count(dragged) > seen; }, 2500 + 1500 * attempt))
                return true;
        }
        return false;
    }

    // Onto the strip along the right edge, where a rest or a tap opens a wheel beside it.
    bool dragToTheStrip() { return dragTo(kStrip); }

    // The first log line that begins with the text (category: message), waiting for it; its
    // text without the time.
    QString waitForLog(const QString& start, int nth = 1)
    {
        QString found;
        waitFor([&] {
            found = logLine(start, nth);
            return !found.isEmpty() || app.process().state() == QProcess::NotRunning;
        }, kTimeoutMs);
        return found;
    }

    QString logLine(const QString& start, int nth = 1, const QString& after = {})
    {
        const QString prefix = QStringLiteral("quorvenda.") + start;
        int n = 0;
        bool past = after.isEmpty();
        for (const QString& line : app.log().split(QLatin1Char('\n'))) {
            if (past && line.startsWith(prefix) && ++n == nth)
                return line;
            past = past || line == after;
        }
        return {};
    }

    // The first line beginning so that comes after the given one, waiting for it.
    QString waitForLogAfter(const QString& start, const QString& after)
    {
        QString found;
        waitFor([&] {
            found = logLine(start, 1, after);
            return !found.isEmpty() || app.process().state() == QProcess::NotRunning;
        }, kTimeoutMs);
        return found;
    }

    static double secondsOf(const QString& line)
    {
        return line.mid(line.lastIndexOf(QLatin1Char('@')) + 1).toDouble();
    }

    // The wheel's centre from its opening line ("... at x,y @t").
    static QPoint centreOf(const QString& line)
    {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral(" at (-?\\d+),(-?\\d+)")).match(line);
        return m.hasMatch() ? QPoint(m.captured(1).toInt(), m.captured(2).toInt()) : QPoint();
    }

    // The time from the line that asked for the wheel to its first frame, printed as a figure.
    void figure(const QString& what, const QString& asked, const QString& drew)
    {
        ASSERT_FALSE(asked.isEmpty());
        ASSERT_FALSE(drew.isEmpty()) << app.log().toStdString();
        const double ms = (secondsOf(drew) - secondsOf(asked)) * 1000;
        std::printf("figure %s %s %s %.1f\n", nameOf(desktop), fm->program, qPrintable(what), ms);
        std::fflush(stdout);
        RecordProperty(qPrintable(what), QString::number(ms, 'f', 1).toStdString());
    }

    // Glides from where the drag is onto the top segment of the wheel centred there and lets go.
    void dropOnTopSegment(QPoint from, QPoint centre)
    {
        // Let go once the wheel has the drag over the segment: it hears of the moves a moment
        // after the compositor, and a drop is the wheel's only where the compositor has its yes
        // to the last move. From the centre straight up, the first segment it names is the top
        // one; a way from the strip crosses others first, and a loaded machine may tell the
        // wheel of them late and all at once. It tells of a segment before its yes has left:
        // it has heard of the last move, and answered, when it names none for a second.
        const qsizetype over = app.log().count(QStringLiteral("Drag over "));
        glide(from, centre - QPoint(0, kTopLabel), 6);
        EXPECT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("Drag over ")) > over; }, kWindowTimeoutMs))
            << app.log().toStdString();
        waitForQuiet([&] { return app.log().count(QStringLiteral("Drag over ")); }, 1000, kWindowTimeoutMs);
        button(false);
    }

    // The job's results beside the originals, one each: pictures libvips reads in the format
    // their extension names, as large as the original or, when the tool shrinks, no larger.
    void expectPictureBesideTheOriginal(const QString& choice)
    {
        ASSERT_FALSE(waitForLog(QStringLiteral("jobs: Finished ")).isEmpty()) << app.log().toStdString();
        // How soon the drop became a job, and its results.
        figure(QStringLiteral("drop-to-job"), choice, waitForLogAfter(QStringLiteral("jobs: Started "), choice));
        figure(QStringLiteral("drop-to-results"), choice, waitForLogAfter(QStringLiteral("jobs: Finished "), choice));
        EXPECT_TRUE(logLine(QStringLiteral("jobs: Finished "))
                        .contains(QStringLiteral("%1 output(s), 0 failure(s)").arg(pictures.size())))
            << app.log().toStdString();
        QStringList results = QDir(files.path()).entryList(QDir::Files);
        for (const QString& picture : std::as_const(pictures)) {
            EXPECT_TRUE(results.removeOne(QFileInfo(picture).fileName()));
            // The original is as it was.
            EXPECT_EQ(QImage(picture).size(), kPictureSize);
        }
        ASSERT_EQ(results.size(), pictures.size()) << results.join(QLatin1Char(',')).toStdString() << "\n"
                                                   << app.log().toStdString();
        for (const QString& name : std::as_const(results))
            expectPictureRead(files.filePath(name), choice);
    }

    void expectPictureRead(const QString& result, const QString& choice)
    {
        EXPECT_TRUE(QFileInfo(result).fileName().startsWith(QStringLiteral("Harbour at dusk"))) << result.toStdString();
        QProcess header;
        header.start(QStringLiteral("vipsheader"), {QStringLiteral("-a"), result});
        ASSERT_TRUE(header.waitForFinished(kTimeoutMs));
        const QString fields = QString::fromUtf8(header.readAllStandardOutput());
        EXPECT_EQ(header.exitCode(), 0) << header.readAllStandardError().constData();
        const auto field = [&](const QString& name) {
            const QRegularExpressionMatch m
                = QRegularExpression(QStringLiteral("^%1: (.*)$").arg(name), QRegularExpression::MultilineOption).match(fields);
            return m.hasMatch() ? m.captured(1).trimmed() : QString();
        };
        const QString suffix = QFileInfo(result).suffix().toLower();
        const QHash<QString, QString> loaders{
            {QStringLiteral("jpg"), QStringLiteral("jpegload")}, {QStringLiteral("jpeg"), QStringLiteral("jpegload")},
            {QStringLiteral("png"), QStringLiteral("pngload")},  {QStringLiteral("webp"), QStringLiteral("webpload")},
            {QStringLiteral("heic"), QStringLiteral("heifload")}, {QStringLiteral("avif"), QStringLiteral("heifload")},
            {QStringLiteral("tif"), QStringLiteral("tiffload")}, {QStringLiteral("tiff"), QStringLiteral("tiffload")},
            {QStringLiteral("gif"), QStringLiteral("gifload")},  {QStringLiteral("jp2"), QStringLiteral("jp2kload")},
            {QStringLiteral("pdf"), QStringLiteral("pdfload")},  {QStringLiteral("jxl"), QStringLiteral("jxlload")}};
        ASSERT_TRUE(loaders.contains(suffix)) << "a result libvips does not read: " << result.toStdString()
                                              << " for " << choice.toStdString();
        EXPECT_EQ(field(QStringLiteral("vips-loader")), loaders.value(suffix)) << fields.toStdString();
        const int width = field(QStringLiteral("width")).toInt();
        const int height = field(QStringLiteral("height")).toInt();
        EXPECT_GT(width, 0);
        EXPECT_LE(width, kPictureSize.width()) << fields.toStdString();
        EXPECT_EQ(width * kPictureSize.height(), height * kPictureSize.width()) << fields.toStdString();
    }

    // The convert wheel for the drag, opened by a tap of Shift or by the rest, its first frame
    // timed, and the drop on its top segment, which must leave the converted picture.
    void convertByDroppingOnTheTopSegment(QPoint from, bool byTap)
    {
        // The drag that carried every file: an earlier try (a selection a loaded machine missed)
        // may have opened and closed a wheel of its own.
        const QString began = logLine(QStringLiteral("drag: File drag: "), int(app.log().count("File drag: ")));
        const QString asked = byTap ? tapUntilHeard(Key::shift, QStringLiteral("Modifier tap → convert"))
                                    : waitForLogAfter(QStringLiteral("drag: Dwell → convert"), began);
        ASSERT_FALSE(asked.isEmpty()) << app.log().toStdString();
        const QString opened = waitForLogAfter(QStringLiteral("wheel: Opened convert wheel"), began);
        ASSERT_FALSE(opened.isEmpty()) << app.log().toStdString();
        figure(QLatin1String(byTap ? "tap-convert" : "rest-convert"), asked,
               waitForLogAfter(QStringLiteral("wheel: Drew the convert wheel"), asked));
        dropOnTopSegment(from, centreOf(opened));
        const QString chose = waitForLog(QStringLiteral("wheel: Chose "));
        ASSERT_FALSE(chose.isEmpty()) << app.log().toStdString();
        expectPictureBesideTheOriginal(chose);
    }

    // Waits until the strip logs a rest held this long since it opened a wheel.
    bool restHeldFor(int ms)
    {
        const QString prefix = QStringLiteral("quorvenda.drag: Rest held ");
        return waitFor([&] {
            for (const QString& line : app.log().split(QLatin1Char('\n'))) {
                if (line.startsWith(prefix) && line.mid(prefix.size()).section(QLatin1Char(' '), 0, 0).toInt() >= ms)
                    return true;
            }
            return app.process().state() == QProcess::NotRunning;
        }, kTimeoutMs) && app.process().state() == QProcess::Running;
    }

    // Resting on the strip: Convert opens and stays however long the drag rests on; each visit to
    // the wheel and back to rest on the strip draws Tools, Actions and Convert in turn, and Tools
    // again, where the drop on the top segment runs the tool.
    void restThroughEveryWheel()
    {
        ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
        const QString first = waitForLog(QStringLiteral("drag: Dwell → convert"));
        ASSERT_FALSE(first.isEmpty()) << app.log().toStdString();
        figure(QStringLiteral("rest-convert"), first,
               waitForLogAfter(QStringLiteral("wheel: Drew the convert wheel"), first));
        ASSERT_TRUE(restHeldFor(3000)) << app.log().toStdString();
        EXPECT_EQ(app.log().count(QStringLiteral("Dwell →")), 1) << app.log().toStdString();
        const QPoint centre = centreOf(logLine(QStringLiteral("wheel: Opened convert wheel")));
        for (const QString& kind : {QStringLiteral("tools"), QStringLiteral("actions"), QStringLiteral("convert"),
                                    QStringLiteral("tools")}) {
            const int rests = app.log().count(QStringLiteral("Dwell →"));
            glide(kStrip, centre, 4);
            glide(centre, kStrip, 4);
            // Settles there as a hand does, a pixel on: Mutter may hand the strip the drag's
            // position before it says the drag arrived, and Qt waits for the next one.
            waitFor([] { return false; }, 60);
            moveTo(kStrip + QPoint(0, 1));
            ASSERT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("Dwell →")) > rests; }, kTimeoutMs))
                << app.log().toStdString();
            const QString rest = logLine(QStringLiteral("drag: Dwell → "), rests + 1);
            ASSERT_TRUE(rest.startsWith(QStringLiteral("quorvenda.drag: Dwell → ") + kind)) << app.log().toStdString();
            if (kind != QLatin1String("convert"))
                figure(QStringLiteral("rest-") + kind, rest,
                       waitForLogAfter(QStringLiteral("wheel: Drew the %1 wheel").arg(kind), rest));
        }
        dropOnTopSegment(kStrip, centre);
        const QString chose = waitForLog(QStringLiteral("wheel: Chose "));
        ASSERT_TRUE(chose.contains(QStringLiteral(" tool."))) << app.log().toStdString();
        expectPictureBesideTheOriginal(chose);
    }

    // With the default rest on, Control picks Actions and then Super picks Tools: resting long
    // after changes neither, and the drop on the tools wheel's top segment runs the tool.
    void tapEveryWheel(QPoint at)
    {
        ASSERT_TRUE(dragTo(at)) << app.log().toStdString();
        for (const auto& [key, kind] : {std::pair(Key::control, QStringLiteral("actions")),
                                        std::pair(Key::super, QStringLiteral("tools"))}) {
            const QString asked = tapUntilHeard(key, QStringLiteral("Modifier tap → ") + kind);
            ASSERT_FALSE(asked.isEmpty()) << app.log().toStdString();
            figure(QStringLiteral("tap-") + kind, asked,
                   waitForLogAfter(QStringLiteral("wheel: Drew the %1 wheel").arg(kind), asked));
            // Long past the rest and the next: a loaded machine may let a rest open Convert
            // before the tap is heard, but none after it changes the wheel. The strip says how
            // long the drag rested on it; the Shell, which has no strip, is given the time.
            if (at == kStrip)
                EXPECT_TRUE(restHeldFor(2000)) << app.log().toStdString();
            else
                waitFor([] { return false; }, 2000);
            EXPECT_TRUE(app.log().mid(app.log().indexOf(asked)).split(QLatin1Char('\n')).filter(QStringLiteral("Dwell →")).isEmpty())
                << app.log().toStdString();
        }
        dropOnTopSegment(at, centreOf(logLine(QStringLiteral("wheel: Opened "))));
        const QString chose = waitForLog(QStringLiteral("wheel: Chose "));
        ASSERT_TRUE(chose.contains(QStringLiteral(" tool."))) << app.log().toStdString();
        expectPictureBesideTheOriginal(chose);
    }

    // A drag that crosses the strip on its way elsewhere opens no wheel; let go over the file
    // manager, it leaves the folder as it was, and the next drag out of it opens the wheel as
    // ever (by the rest, or by a tap of Shift where keys reach the strip).
    void crossTheStrip(bool tapAfter)
    {
        ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
        glide(kStrip, QPoint(700, 500), 4);
        waitFor([] { return false; }, 1500);
        button(false);
        EXPECT_TRUE(logLine(QStringLiteral("wheel: Opened ")).isEmpty()) << app.log().toStdString();
        EXPECT_EQ(QDir(files.path()).entryList(QDir::Files).size(), pictures.size());
        expectTheFileManagerWorks();
        ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
        if (tapAfter)
            tapUntilHeard(Key::shift, QStringLiteral("Modifier tap → convert"));
        EXPECT_FALSE(waitForLog(QStringLiteral("wheel: Opened convert wheel")).isEmpty()) << app.log().toStdString();
        dropOnTopSegment(kStrip, centreOf(logLine(QStringLiteral("wheel: Opened convert wheel"))));
        expectPictureBesideTheOriginal(waitForLog(QStringLiteral("wheel: Chose ")));
    }

    // The file manager still answers: its window is there and another drag out of it begins.
    void expectTheFileManagerWorks()
    {
        EXPECT_EQ(manager.state(), QProcess::Running);
        EXPECT_TRUE(windowOrigin().has_value());
    }

    Desktop desktop = Desktop::sway;
    const FileManager* fm = nullptr;
    HeadlessCompositor compositor;
    std::unique_ptr<GnomeShell> shell;
    RunningApp app;
    QProcessEnvironment sessionEnvironment;
    QTemporaryDir files;
    QTemporaryDir managerHome;
    QStringList pictures;
    QProcess manager;
    QProcess input;
    QByteArray inputLines;
    int sent = 0;
    int scripts = 0;
    QPoint iconAt;
};

auto fileManagerName(const ::testing::TestParamInfo<const FileManager*>& info)
{
    return std::string(info.param->program);
}

const auto kFileManagers = ::testing::Values(&kThunar, &kNautilus, &kDolphin);

// --- sway: no key reaches a drag; a rest on the strip opens a wheel, and a rest after the next ----

class FileManagerOnSway : public FileManagerDrag, public ::testing::WithParamInterface<const FileManager*> {};

TEST_P(FileManagerOnSway, ARestOnTheStripOpensConvertAndTheDropMakesTheFile)
{
    begin(Desktop::sway, *GetParam());
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
    convertByDroppingOnTheTopSegment(kStrip, false);
}

// Two files selected together in the file manager are two results.
TEST_P(FileManagerOnSway, FilesSelectedTogetherBecomeOneResultEach)
{
    begin(Desktop::sway, *GetParam(), true, 2);
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
    convertByDroppingOnTheTopSegment(kStrip, false);
}

INSTANTIATE_TEST_SUITE_P(FileManagers, FileManagerOnSway, kFileManagers, fileManagerName);

TEST_F(FileManagerDrag, OnSwayRestingOnReachesEveryWheelForAThunarDrag)
{
    begin(Desktop::sway, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    restThroughEveryWheel();
}

TEST_F(FileManagerDrag, OnSwayAThunarDragThatOnlyCrossesTheStripOpensNothing)
{
    begin(Desktop::sway, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    crossTheStrip(false);
}

// --- KWin: keys reach the strip during a drag; a tap picks the wheel ---------------------------

class FileManagerOnKWin : public FileManagerDrag, public ::testing::WithParamInterface<const FileManager*> {};

TEST_P(FileManagerOnKWin, AShiftTapOverTheStripOpensConvertAndTheDropMakesTheFile)
{
    begin(Desktop::kwin, *GetParam());
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(dragToTheStrip()) << app.log().toStdString();
    convertByDroppingOnTheTopSegment(kStrip, true);
}

INSTANTIATE_TEST_SUITE_P(FileManagers, FileManagerOnKWin, kFileManagers, fileManagerName);

TEST_F(FileManagerDrag, OnKWinATapPicksEachWheelAndTheDefaultRestNeverOverridesIt)
{
    begin(Desktop::kwin, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    tapEveryWheel(kStrip);
}

TEST_F(FileManagerDrag, OnKWinRestingOnReachesEveryWheelForAThunarDrag)
{
    begin(Desktop::kwin, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    restThroughEveryWheel();
}

TEST_F(FileManagerDrag, OnKWinAThunarDragThatOnlyCrossesTheStripOpensNothing)
{
    begin(Desktop::kwin, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    crossTheStrip(true);
}

// --- GNOME Shell: the extension reports the drag and the wheel comes through XWayland; without
// the extension, the strip is an X11 window that native drags reach through Mutter's bridge ------

class FileManagerOnGnome : public FileManagerDrag, public ::testing::WithParamInterface<const FileManager*> {};

const QPoint kMidScreen(760, 430);

TEST_P(FileManagerOnGnome, AShiftTapOpensConvertAndTheDropMakesTheFile)
{
    begin(Desktop::gnome, *GetParam());
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(dragTo(kMidScreen)) << app.log().toStdString();
    convertByDroppingOnTheTopSegment(kMidScreen, true);
}

INSTANTIATE_TEST_SUITE_P(FileManagers, FileManagerOnGnome, kFileManagers, fileManagerName);

TEST_F(FileManagerDrag, OnGnomeFilesSelectedTogetherInThunarBecomeOneResultEach)
{
    begin(Desktop::gnome, kThunar, true, 2);
    if (IsSkipped() || HasFatalFailure())
        return;
    ASSERT_TRUE(dragTo(kMidScreen)) << app.log().toStdString();
    convertByDroppingOnTheTopSegment(kMidScreen, true);
}

TEST_F(FileManagerDrag, OnGnomeATapPicksEachWheelForAThunarDrag)
{
    begin(Desktop::gnome, kThunar);
    if (IsSkipped() || HasFatalFailure())
        return;
    tapEveryWheel(kMidScreen);
}

TEST_F(FileManagerDrag, OnGnomeWithoutTheExtensionRestingOnTheStripReachesEveryWheelForAThunarDrag)
{
    begin(Desktop::gnome, kThunar, false);
    if (IsSkipped() || HasFatalFailure())
        return;
    restThroughEveryWheel();
}

TEST_F(FileManagerDrag, OnGnomeWithoutTheExtensionAThunarDragThatOnlyCrossesTheStripOpensNothing)
{
    begin(Desktop::gnome, kThunar, false);
    if (IsSkipped() || HasFatalFailure())
        return;
    crossTheStrip(false);
}

} // namespace
