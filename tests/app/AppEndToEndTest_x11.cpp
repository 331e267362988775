#include "RunningApp.h"

#include "support/RequireX11.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"
#include "support/WindowManager.h"

#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QWidget>
#include <QMimeData>
#include <QUrl>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

using namespace qv::test;

namespace {

class AppEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        QV_REQUIRE_X11();
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "needs a session bus (test.sh runs the tests in one)";
        if (!sessionBusNameFree())
            GTEST_SKIP() << "another Quorvenda runs on this session bus";
        clearClipboard();
    }

    void TearDown() override { clearClipboard(); }

    static void clearClipboard()
    {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear(QClipboard::Clipboard);
        clipboard->clear(QClipboard::Selection);
    }

    QString writeImage(const QString& name)
    {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(Qt::red);
        const QString path = QDir(files.path()).filePath(name);
        image.save(path);
        return path;
    }

    QTemporaryDir files;
    RunningApp app;
};

// The processes whose parent is this one.
QList<pid_t> childrenOfThisProcess()
{
    QList<pid_t> children;
    const QString self = QString::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile status(QStringLiteral("/proc/%1/status").arg(entry));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("PPid:") && line.mid(5).trimmed() == self.toLatin1())
                children.append(entry.toInt());
        }
    }
    return children;
}

} // namespace

namespace {

// A settings file for the app: past the welcome window, plus the given values.
void writeAppSettings(const RunningApp& app, const QByteArray& extraJson = {})
{
    QDir().mkpath(app.home().filePath(QStringLiteral("config/quorvenda")));
    QFile settings(app.home().filePath(QStringLiteral("config/quorvenda/settings.json")));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("{\"quorvenda.onboardingDone\": true" + extraJson + "}");
}

} // namespace

TEST_F(AppEndToEnd, ASecondStartHandsItsFilesToTheRunningOneAndEnds)
{
    const QString image = writeImage(QStringLiteral("some.png"));
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();

    QString output;
    EXPECT_EQ(app.runAnother({image}, &output), 0) << output.toStdString();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")))
        << app.log().toStdString();
    EXPECT_FALSE(app.lineStartingWith(QStringLiteral("wheel"), QStringLiteral("Opened convert wheel"))
                     .isEmpty());

    // Without files there is nothing to hand over: the second one just ends.
    EXPECT_EQ(app.runAnother({}, &output), 0);
    EXPECT_TRUE(output.contains(QStringLiteral("Quorvenda is already running"))) << output.toStdString();
    EXPECT_EQ(app.process().state(), QProcess::Running);
    EXPECT_EQ(app.log().count(QStringLiteral("Opened the convert wheel")), 1);
}

TEST_F(AppEndToEnd, TheHotKeyOpensTheConvertWheelForTheCopiedFiles)
{
    X11Keys keys;
    ASSERT_TRUE(keys.isOpen());
    const QString first = writeImage(QStringLiteral("first.png"));
    const QString second = writeImage(QStringLiteral("second photo.png"));
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();

    // Nothing copied: a toast says what to do.
    const QStringList hotKey{QStringLiteral("Alt_L"), QStringLiteral("Shift_L"), QStringLiteral("space")};
    keys.chord(hotKey);
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Toast: Copy files in your file manager first")))
        << app.log().toStdString();
    EXPECT_FALSE(app.log().contains(QStringLiteral("Opened the convert wheel")));

    // Files copied as a file manager does; this process owns the clipboard and answers the
    // app's request while it waits.
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second)});
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    keys.chord(hotKey);
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 2 file(s)")))
        << app.log().toStdString();
}

TEST_F(AppEndToEnd, TheConvertCopiedCommandDoesWhatTheHotKeyDoes)
{
    const QString image = writeImage(QStringLiteral("copied.png"));
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();

    // The command a user binds in the desktop's keyboard settings.
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(image)});
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    QString output;
    EXPECT_EQ(app.runAnother({QStringLiteral("--convert-copied")}, &output), 0) << output.toStdString();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")))
        << app.log().toStdString();
    EXPECT_FALSE(output.contains(QStringLiteral("already running"))) << "no settings window instead";
}

TEST_F(AppEndToEnd, TerminationCancelsTheJobsAndEndsAtOnceLeavingNoChildBehind)
{
    // Orphans of the app come to this process, where they can be counted.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();
    const pid_t pid = pid_t(app.process().processId());

    QElapsedTimer elapsed;
    elapsed.start();
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(app.process().waitForFinished(30000));
    const qint64 took = elapsed.elapsed();
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0) << app.log().toStdString();
    // At once means no job or child is waited for; the bound only has to tell that from a hang.
    EXPECT_LE(took, 20000);
    EXPECT_TRUE(app.hasLine(QStringLiteral("app"), QStringLiteral("Quitting: cancelling 0 job(s)")))
        << app.log().toStdString();

    // The copy of the app that forks its workers ends on its own once the app is gone (its last
    // close waits for the kernel): what is left after that, reaped here, stays.
    QList<pid_t> left;
    waitFor([&] {
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
        left = childrenOfThisProcess();
        return left.isEmpty();
    }, 10000);
    for (pid_t orphan : left)
        ::kill(orphan, SIGKILL);
    prctl(PR_SET_CHILD_SUBREAPER, 0);
    EXPECT_TRUE(left.isEmpty()) << "processes left behind: " << left.size();
}

namespace {

dev_t deviceOf(const QString& path)
{
    struct stat status {};
    ::stat(QFile::encodeName(path).constData(), &status);
    return status.st_dev;
}

// Starts the app, zips a big folder through the tools wheel from the keyboard, and ends the
// app with the signal half-way: it must end cleanly, the job cancelled and its work gone.
void quitHalfWayThroughAJob(RunningApp& app, int signal)
{
    X11Keys keys;
    ASSERT_TRUE(keys.isOpen());
    // In memory, so that the work folder is a hidden one beside the folder.
    QTemporaryDir data(QStringLiteral("/dev/shm/qv-quit-XXXXXX"));
    ASSERT_TRUE(data.isValid());
    if (deviceOf(data.path()) == deviceOf(app.home().path()))
        GTEST_SKIP() << "no second filesystem";
    const QString folder = writeIncompressibleFolder(data.filePath(QStringLiteral("BIGFOLDER")), 6, 32);
    ASSERT_FALSE(folder.isEmpty());

    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();
    QString output;
    ASSERT_EQ(app.runAnother({folder}, &output), 0) << output.toStdString();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")))
        << app.log().toStdString();
    // Super switches to the tools wheel in place, its first segment, ZIP, highlighted.
    keys.chord({QStringLiteral("Super_L")});
    keys.chord({QStringLiteral("Return")});
    ASSERT_TRUE(app.waitForLine(QStringLiteral("jobs"), QStringLiteral("Started Compressing to ZIP on 1 item(s)")))
        << app.log().toStdString();

    QString work;
    ASSERT_TRUE(waitFor([&] {
        for (const QString& name : folderEntries(data.path())) {
            if (name.startsWith(QStringLiteral(".quorvenda-work-")))
                work = data.filePath(name);
        }
        return !work.isEmpty() && bytesBelow(work) >= (4 << 20);
    }, 60000)) << app.log().toStdString();

    ::kill(pid_t(app.process().processId()), signal);
    ASSERT_TRUE(app.process().waitForFinished(30000));
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process().exitCode(), 0) << app.log().toStdString();
    EXPECT_TRUE(app.hasLine(QStringLiteral("app"), QStringLiteral("Quitting: cancelling 1 job(s)")))
        << app.log().toStdString();
    EXPECT_TRUE(app.hasLine(QStringLiteral("jobs"),
                            QStringLiteral("Finished Compressing to ZIP: 0 output(s), 0 failure(s), cancelled true")))
        << app.log().toStdString();
    EXPECT_EQ(folderEntries(data.path()), QStringList{QStringLiteral("BIGFOLDER")});
    EXPECT_EQ(folderEntries(folder).size(), 6);
    EXPECT_EQ(folderEntries(app.home().filePath(QStringLiteral("cache/quorvenda/tmp"))), QStringList());
}

} // namespace

TEST_F(AppEndToEnd, SigtermHalfWayThroughAJobLeavesNothingBehind)
{
    quitHalfWayThroughAJob(app, SIGTERM);
}

TEST_F(AppEndToEnd, SigintHalfWayThroughAJobLeavesNothingBehind)
{
    quitHalfWayThroughAJob(app, SIGINT);
}

TEST_F(AppEndToEnd, SighupHalfWayThroughAJobLeavesNothingBehind)
{
    quitHalfWayThroughAJob(app, SIGHUP);
}

// With a window manager, the file manager the files were copied in keeps the keyboard focus
// when the hot key opens the wheel; the wheel closes all the same, each way a user tries, and
// the key the user pressed to close it does not reach that window.
TEST_F(AppEndToEnd, TheHotKeyWheelClosesOnEscapeAClickOutsideAndTheHotKeyAgain)
{
    WindowManager manager;
    if (!manager.whyNot().isEmpty())
        GTEST_SKIP() << manager.whyNot().toStdString();
    X11Keys keys;
    ASSERT_TRUE(keys.isOpen());
    const QString photo = writeImage(QStringLiteral("photo.png"));
    QWidget fileManager;
    fileManager.setWindowTitle(QStringLiteral("Files"));
    fileManager.setGeometry(40, 40, 400, 300);
    int escapesSeen = 0;
    struct KeyCounter : QObject {
        int* count;
        explicit KeyCounter(int* c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
                ++*count;
            return false;
        }
    } counter(&escapesSeen);
    fileManager.installEventFilter(&counter);
    fileManager.show();
    fileManager.activateWindow();
    ASSERT_TRUE(waitFor([&] { return fileManager.isActiveWindow(); }, 10000));

    // A user past the welcome window: nothing of the app's has the focus.
    writeAppSettings(app);
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();
    auto* data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(photo)});
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);

    const QStringList hotKey{QStringLiteral("Alt_L"), QStringLiteral("Shift_L"), QStringLiteral("space")};
    const QList<std::pair<const char*, std::function<void()>>> ways{
        {"Escape", [&] { keys.chord({QStringLiteral("Escape")}); }},
        {"a click outside", [&] { keys.click(1000, 900); }},
        {"the hot key again", [&] { keys.chord(hotKey); }},
    };
    int round = 0;
    for (const auto& [what, close] : ways) {
        SCOPED_TRACE(what);
        ++round;
        // Held as a user holds it, until the wheel is up.
        keys.press(hotKey);
        ASSERT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("Opened convert wheel")) == round; }, 10000))
            << app.log().toStdString();
        waitFor([] { return false; }, 400);
        keys.release(hotKey);
        waitFor([] { return false; }, 300);
        close();
        ASSERT_TRUE(waitFor([&] { return app.log().count(QStringLiteral("Closed the wheel")) == round; }, 10000))
            << app.log().toStdString();
        // Closing opened nothing else.
        waitFor([] { return false; }, 300);
        EXPECT_EQ(app.log().count(QStringLiteral("Opened convert wheel")), round);
    }
    EXPECT_EQ(escapesSeen, 0);
}

// Terminal on the Actions wheel starts the desktop's terminal (x-terminal-emulator on Debian) in
// the file's folder; with no terminal at all a sentence says what to install.
TEST_F(AppEndToEnd, TheTerminalActionStartsTheDesktopsTerminalInTheFilesFolder)
{
    X11Keys keys;
    ASSERT_TRUE(keys.isOpen());
    const QString photo = writeImage(QStringLiteral("photo.png"));
    QTemporaryDir programs;
    const QString record = programs.filePath(QStringLiteral("started"));
    QFile terminal(programs.filePath(QStringLiteral("x-terminal-emulator")));
    ASSERT_TRUE(terminal.open(QIODevice::WriteOnly));
    // Written aside and renamed, so the test never reads a half-written record.
    terminal.write("#!/bin/sh\npwd > '" + record.toUtf8() + ".part' && mv '" + record.toUtf8() + ".part' '" + record.toUtf8() + "'\n");
    terminal.close();
    terminal.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Terminal first on the Actions wheel of pictures, where the keyboard's target starts.
    writeAppSettings(app, R"(, "quorvenda.wheel.actions.image": ["action.terminal"])");
    app.prependToPath(programs.path());
    app.start();
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"), QStringLiteral("Quorvenda started")))
        << app.log().toStdString();

    EXPECT_EQ(app.runAnother({photo}), 0);
    ASSERT_TRUE(app.waitForLine(QStringLiteral("app"),
                                QStringLiteral("Opened the convert wheel in click mode for 1 file(s)")))
        << app.log().toStdString();
    waitFor([] { return false; }, 300);
    keys.chord({QStringLiteral("Control_L")});
    ASSERT_TRUE(app.waitForLine(QStringLiteral("wheel"), QStringLiteral("Switched to the actions wheel")))
        << app.log().toStdString();
    keys.chord({QStringLiteral("Return")});
    ASSERT_TRUE(app.waitForLine(QStringLiteral("wheel"), QStringLiteral("Chose action.terminal")))
        << app.log().toStdString();
    ASSERT_TRUE(waitFor([&] { return QFile::exists(record); }, 10000)) << app.log().toStdString();
    QFile started(record);
    ASSERT_TRUE(started.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(started.readAll()).trimmed(), QFileInfo(photo).absolutePath());
}
