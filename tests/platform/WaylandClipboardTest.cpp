// What other programs copy is read on real compositors run headless, by a program of ours that
// has no window and so never the keyboard: Wayland tells such a program nothing through its own
// clipboard, so this reads through data control.

#include "support/HeadlessCompositor.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QLibraryInfo>
#include <QPoint>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <list>

using namespace qv::test;

namespace {

constexpr int timeoutMs = 20000;
constexpr int screenWidth = 1280;
constexpr int screenHeight = 800;
const QString buildDir = QStringLiteral(QV_BUILD_DIR "/tests/");

class WaylandClipboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (platforms.entryList({QStringLiteral("libqwayland-generic*")}).isEmpty())
            GTEST_SKIP() << "Qt's Wayland platform is not installed";
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
            std::fprintf(stderr, "reader:\n%s\ncompositor:\n%s\n", reader.readAllStandardError().constData(),
                         compositor.log().constData());
    }

    QProcess& start(const QString& program, const QStringList& arguments)
    {
        QProcess& process = processes.emplace_back();
        process.setProcessEnvironment(compositor.clientEnvironment());
        process.start(program, arguments);
        return process;
    }

    // The first line of the process's output from now on that begins with the prefix; empty
    // when none came in time.
    static QString waitForLine(QProcess& process, const QString& prefix, int ms = timeoutMs)
    {
        QString found;
        waitFor([&] {
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith(prefix)) {
                    found = line;
                    return true;
                }
            }
            return process.state() == QProcess::NotRunning;
        }, ms);
        return found;
    }

    // Starts the reader, which must have found data control.
    void startReader()
    {
        reader.setProcessEnvironment(compositor.clientEnvironment());
        reader.start(buildDir + QStringLiteral("quorvenda_test_wayland_clipboard"), {QStringLiteral("read")});
        ASSERT_EQ(waitForLine(reader, QStringLiteral("ready")), QStringLiteral("ready data-control"));
    }

    // What the reader reads now.
    QString read()
    {
        reader.write("read\n");
        return waitForLine(reader, QStringLiteral("copied"));
    }

    // Reads until the reader sees the line or the time is up: a copy reaches the compositor
    // a moment after its program says it made it.
    QString readUntil(const QString& expected, int patienceMs = timeoutMs)
    {
        QString last;
        waitFor([&] {
            last = read();
            return last == expected || reader.state() == QProcess::NotRunning;
        }, patienceMs);
        return last;
    }

    // On sway a copy is taken only after input to its window: on a busy machine the first click
    // can come before the window is on screen, so it is clicked again until the copy is seen.
    QString clickAndReadUntil(QProcess& input, QPoint point, const QString& expected)
    {
        QString last;
        for (int attempt = 0; attempt < 10 && last != expected && reader.state() != QProcess::NotRunning; ++attempt) {
            click(input, point);
            if (HasFatalFailure())
                return last;
            last = readUntil(expected, timeoutMs / 10);
        }
        return last;
    }

    static QString line(const QList<QUrl>& urls)
    {
        QStringList words{QStringLiteral("copied")};
        for (const QUrl& url : urls)
            words.append(QString::fromUtf8(url.toEncoded()));
        return words.join(QLatin1Char(' '));
    }

    // Clicks at the point (on sway, where the compositor takes a copy only right after input).
    void click(QProcess& input, QPoint point)
    {
        for (const QString& command : {QStringLiteral("move %1 %2").arg(point.x()).arg(point.y()),
                                       QStringLiteral("down"), QStringLiteral("up")}) {
            input.write((command + QLatin1Char('\n')).toUtf8());
            ASSERT_EQ(waitForLine(input, QStringLiteral("ok")), QStringLiteral("ok"));
        }
    }

    // A window of another program copies files as a file manager does, then another copies
    // other files: the reader, without a window, sees each copy. On sway each window copies
    // when clicked: the first fills the screen, the second its right half.
    void copiesOfAnotherProgramAreRead(bool byClicks)
    {
        startReader();
        if (HasFatalFailure())
            return;
        QProcess* input = nullptr;
        if (byClicks) {
            input = &start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                           {QString::number(screenWidth), QString::number(screenHeight)});
            ASSERT_TRUE(waitForLine(*input, QStringLiteral("ready")).startsWith(QStringLiteral("ready")));
        }
        const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("a.jpg"))));
        const QUrl b = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("b c.jpg"))));
        QProcess& first = start(buildDir + QStringLiteral("quorvenda_test_wayland_clipboard"),
                                {QStringLiteral("copy"), QString::fromUtf8(a.toEncoded()),
                                 QString::fromUtf8(b.toEncoded())});
        ASSERT_EQ(waitForLine(first, QStringLiteral("copied")), QStringLiteral("copied"));
        if (input)
            EXPECT_EQ(clickAndReadUntil(*input, {screenWidth / 2, screenHeight / 2}, line({a, b})), line({a, b}));
        else
            EXPECT_EQ(readUntil(line({a, b})), line({a, b}));

        const QUrl c = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("c.png"))));
        QProcess& second = start(buildDir + QStringLiteral("quorvenda_test_wayland_clipboard"),
                                 {QStringLiteral("copy"), QString::fromUtf8(c.toEncoded())});
        ASSERT_EQ(waitForLine(second, QStringLiteral("copied")), QStringLiteral("copied"));
        if (input)
            EXPECT_EQ(clickAndReadUntil(*input, {screenWidth * 3 / 4, screenHeight / 2}, line({c})), line({c}));
        else
            EXPECT_EQ(readUntil(line({c})), line({c}));
    }

    // wl-copy, where installed, copies a list of files without a window.
    void aCopyByWlCopyIsRead()
    {
        const QString wlCopy = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
        if (wlCopy.isEmpty())
            GTEST_SKIP() << "wl-copy (wl-clipboard) is not installed";
        startReader();
        if (HasFatalFailure())
            return;
        const QUrl a = QUrl::fromLocalFile(writeFile(files.filePath(QStringLiteral("d.pdf"))));
        start(wlCopy, {QStringLiteral("--foreground"), QStringLiteral("--type"), QStringLiteral("text/uri-list"),
                       QString::fromUtf8(a.toEncoded()) + QStringLiteral("\r\n")});
        EXPECT_EQ(readUntil(line({a})), line({a}));
    }

    // A list longer than a pipe holds (1500 files, some 150 kB) comes whole: the owner writes
    // into the pipe as into any other, waiting while we read.
    void aLongListIsReadWhole()
    {
        const QString wlCopy = QStandardPaths::findExecutable(QStringLiteral("wl-copy"));
        if (wlCopy.isEmpty())
            GTEST_SKIP() << "wl-copy (wl-clipboard) is not installed";
        startReader();
        if (HasFatalFailure())
            return;
        QList<QUrl> urls;
        QByteArray list;
        for (int i = 0; i < 1500; ++i) {
            const QString name = QStringLiteral("a picture with a rather long name, number %1 of many.jpg").arg(i, 4, 10, QLatin1Char('0'));
            urls.append(QUrl::fromLocalFile(writeFile(files.filePath(name))));
            list += urls.last().toEncoded() + "\r\n";
        }
        ASSERT_GT(list.size(), 100000);
        QProcess& copier = start(wlCopy, {QStringLiteral("--foreground"), QStringLiteral("--type"), QStringLiteral("text/uri-list")});
        ASSERT_TRUE(copier.waitForStarted(timeoutMs));
        ASSERT_EQ(copier.write(list), list.size());
        copier.closeWriteChannel();
        EXPECT_EQ(readUntil(line(urls)), line(urls));
    }

    // Thunar, where installed, copies the files of a folder: Ctrl+A, Ctrl+C through KWin's
    // fake input, again until the copy is seen (Thunar takes keys once its window is up and
    // selects files once it has listed them).
    void aCopyInThunarIsRead()
    {
        const QString thunar = QStandardPaths::findExecutable(QStringLiteral("thunar"));
        if (thunar.isEmpty())
            GTEST_SKIP() << "Thunar is not installed";
        startReader();
        if (HasFatalFailure())
            return;
        const QString folder = files.filePath(QStringLiteral("folder"));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QUrl a = QUrl::fromLocalFile(writeFile(folder + QStringLiteral("/one.jpg")));
        const QUrl b = QUrl::fromLocalFile(writeFile(folder + QStringLiteral("/two b.png")));
        QProcess& manager = processes.emplace_back();
        QProcessEnvironment env = compositor.clientEnvironment();
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("HOME"), files.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), files.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), files.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), files.filePath(QStringLiteral("data")));
        manager.setProcessEnvironment(env);
        manager.setProcessChannelMode(QProcess::MergedChannels);
        manager.start(thunar, {folder});
        QProcess& input = start(buildDir + QStringLiteral("quorvenda_test_wayland_input"),
                                {QString::number(screenWidth), QString::number(screenHeight)});
        ASSERT_EQ(waitForLine(input, QStringLiteral("ready")), QStringLiteral("ready kwin"));
        const QString expected = line({a, b});
        QString last;
        waitFor([&] {
            for (const QString& command : {QStringLiteral("key 29 1"), QStringLiteral("key 30 1"), QStringLiteral("key 30 0"),
                                           QStringLiteral("key 46 1"), QStringLiteral("key 46 0"), QStringLiteral("key 29 0")}) {
                input.write((command + QLatin1Char('\n')).toUtf8());
                waitForLine(input, QStringLiteral("ok"));
            }
            // Keys without a pause keep Thunar from listing its folder (it lists when idle), and
            // its Ctrl+A then selects nothing: each press is given a second to show.
            for (int look = 0; look < 10 && last != expected; ++look) {
                waitFor([] { return false; }, 100);
                last = read();
            }
            return last == expected || manager.state() == QProcess::NotRunning;
        }, timeoutMs * 2);
        EXPECT_EQ(last, expected) << manager.readAll().right(2000).constData();
    }

    HeadlessCompositor compositor;
    QTemporaryDir files;
    QProcess reader;
    std::list<QProcess> processes;
};

} // namespace

TEST_F(WaylandClipboard, OnSwayFilesCopiedInAnotherWindowAreReadWithoutTheKeyboard)
{
    compositor.startSway(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    copiesOfAnotherProgramAreRead(true);
}

TEST_F(WaylandClipboard, OnKWinFilesCopiedInAnotherWindowAreReadWithoutTheKeyboard)
{
    compositor.startKWin(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    copiesOfAnotherProgramAreRead(false);
}

TEST_F(WaylandClipboard, OnSwayFilesCopiedByWlCopyAreRead)
{
    compositor.startSway(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    aCopyByWlCopyIsRead();
}

TEST_F(WaylandClipboard, OnKWinFilesCopiedByWlCopyAreRead)
{
    compositor.startKWin(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    aCopyByWlCopyIsRead();
}

TEST_F(WaylandClipboard, OnKWinFilesCopiedInThunarAreRead)
{
    compositor.startKWin(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    aCopyInThunarIsRead();
}

TEST_F(WaylandClipboard, OnSwayALongListIsReadWhole)
{
    compositor.startSway(screenWidth, screenHeight);
    if (IsSkipped() || HasFatalFailure())
        return;
    aLongListIsReadWhole();
}
