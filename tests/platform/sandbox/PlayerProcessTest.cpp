#include "platform/sandbox/PlayerProcess.h"

#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QDir>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>

using namespace qv;
using qv::test::waitFor;

namespace {

// Drives the test player, which plays ten seconds of solid colours and crashes or hangs when
// the file's name asks it to.
class PlayerProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        previous = qgetenv("QUORVENDA_PLAYER");
        qputenv("QUORVENDA_PLAYER", QV_BUILD_DIR "/tests/quorvenda_test_player");
        log = folder.filePath(QStringLiteral("commands.log"));
        qputenv("QUORVENDA_TEST_PLAYER_LOG", QFile::encodeName(log));
    }
    void TearDown() override
    {
        qputenv("QUORVENDA_PLAYER", previous);
        qunsetenv("QUORVENDA_TEST_PLAYER_LOG");
    }

    QUrl source(const QString& name) const { return QUrl::fromLocalFile(folder.filePath(name)); }

    QList<QJsonObject> commands() const
    {
        QList<QJsonObject> taken;
        QFile file(log);
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.isEmpty())
                    taken.append(QJsonDocument::fromJson(line).object());
            }
        }
        return taken;
    }

    // Lets the event loop run for a while.
    static void pump(int milliseconds) { waitFor([] { return false; }, milliseconds); }

    // Ended and reaped (the reaping happens off the main thread): no zombie, no orphan.
    static bool processGone(qint64 pid)
    {
        return waitFor([pid] { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; });
    }

    QTemporaryDir folder;
    QByteArray previous;
    QString log;
};

} // namespace

TEST_F(PlayerProcessTest, CommandsReachThePlayerInOrderAndSeeksComeBack)
{
    PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(320, 180));
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    player.setRate(2.0);
    player.setVolume(0.5);
    player.setLoop(1.0, 2.5);
    player.setBox(QSize(160, 90));
    bool seeked = false;
    player.seek(3.25, [&] { seeked = true; });
    EXPECT_DOUBLE_EQ(player.position(), 3.25); // at once, before the player answers
    ASSERT_TRUE(waitFor([&] { return seeked; }));
    player.play();
    EXPECT_TRUE(player.isPlaying());
    player.pause();
    EXPECT_EQ(player.rate(), 0.0);
    player.play();
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.position(), 0.0);
    // Frames freed by the view may follow the stop.
    ASSERT_TRUE(waitFor([&] {
        const QList<QJsonObject> taken = commands();
        for (auto command = taken.rbegin(); command != taken.rend(); ++command) {
            if (command->value(QStringLiteral("type")) != QLatin1String("free"))
                return command->value(QStringLiteral("type")) == QLatin1String("stop");
        }
        return false;
    }));

    QStringList types;
    for (const QJsonObject& command : commands()) {
        if (command.value(QStringLiteral("type")) != QLatin1String("free"))
            types.append(command.value(QStringLiteral("type")).toString());
    }
    EXPECT_EQ(types, (QStringList{"open", "rate", "volume", "loop", "size", "seek", "play", "pause", "play", "stop"}));
    for (const QJsonObject& command : commands()) {
        const QString type = command.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("open")) {
            EXPECT_EQ(QUrl(command.value(QStringLiteral("source")).toString()), source(QStringLiteral("clip.mp4")));
            EXPECT_EQ(command.value(QStringLiteral("width")).toInt(), 320);
        } else if (type == QLatin1String("rate")) {
            EXPECT_EQ(command.value(QStringLiteral("rate")).toDouble(), 2.0);
        } else if (type == QLatin1String("volume")) {
            EXPECT_EQ(command.value(QStringLiteral("volume")).toDouble(), 0.5);
        } else if (type == QLatin1String("loop")) {
            EXPECT_EQ(command.value(QStringLiteral("from")).toDouble(), 1000);
            EXPECT_EQ(command.value(QStringLiteral("to")).toDouble(), 2500);
        } else if (type == QLatin1String("seek")) {
            EXPECT_EQ(command.value(QStringLiteral("position")).toDouble(), 3250);
        }
    }
}

TEST_F(PlayerProcessTest, DurationPositionStateAndPicturesArrive)
{
    PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(320, 180));
    int durations = 0;
    QObject::connect(&player, &PlayerProcess::durationChanged, [&] { ++durations; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    EXPECT_DOUBLE_EQ(player.duration(), 10.0);
    EXPECT_EQ(durations, 1);
    // The paused first picture, fitted to the view's pixels.
    ASSERT_TRUE(waitFor([&] { return !player.frame().isNull(); }));
    EXPECT_EQ(player.frame().size(), QSize(320, 180));

    player.play();
    ASSERT_TRUE(waitFor([&] { return player.position() > 0.5 && player.framesReceived() > 5; }));
    player.setBox(QSize(64, 36));
    ASSERT_TRUE(waitFor([&] { return player.frame().size() == QSize(64, 36); }));
    player.pause();
    const double paused = player.position();
    pump(200);
    EXPECT_DOUBLE_EQ(player.position(), paused);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(player.hasDied());
}

TEST_F(PlayerProcessTest, APlayerThatCannotOpenTheFileSaysSoAndLives)
{
    PlayerProcess player(source(QStringLiteral("unplayable.mp4")), QSize());
    int failures = 0;
    QObject::connect(&player, &PlayerProcess::failed, [&] { ++failures; });
    ASSERT_TRUE(waitFor([&] { return failures == 1; }));
    EXPECT_TRUE(player.hasFailed());
    EXPECT_FALSE(player.hasDied());
    EXPECT_FALSE(player.isLoaded());
}

TEST_F(PlayerProcessTest, APlayerThatCrashesMidPlayIsReportedAndGone)
{
    PlayerProcess player(source(QStringLiteral("crash.mp4")), QSize(160, 90));
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    const qint64 pid = player.pid();
    player.play();
    bool seekSettled = false;
    ASSERT_TRUE(waitFor([&] { return player.position() > 0.5; }));
    player.seek(0.9, [&] { seekSettled = true; });
    player.play();
    ASSERT_TRUE(waitFor([&] { return deaths == 1; }));
    EXPECT_TRUE(player.hasDied());
    EXPECT_FALSE(player.isPlaying());
    // A seek in flight is given up, not left hanging.
    EXPECT_TRUE(waitFor([&] { return seekSettled; }));
    EXPECT_TRUE(processGone(pid));
    // Commands to a dead player go nowhere and harm nothing.
    player.play();
    player.seek(1.0, {});
    EXPECT_FALSE(player.isPlaying());
}

TEST_F(PlayerProcessTest, AHungPlayerIsEndedOnceItStopsListening)
{
    PlayerProcess player(source(QStringLiteral("hang.mp4")), QSize(160, 90));
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    player.play();
    ASSERT_TRUE(waitFor([&] { return player.position() > 1.2; }));
    pump(300); // the player hangs at one second and takes no more commands
    // Scrubbing a hung player fills its pipe: we end it rather than wait on it.
    for (int i = 0; i < 20000 && deaths == 0; ++i) {
        player.seek(i % 10, {});
        if (i % 100 == 0)
            QCoreApplication::processEvents();
    }
    ASSERT_TRUE(waitFor([&] { return deaths == 1; }));
    EXPECT_TRUE(player.hasDied());
}

TEST_F(PlayerProcessTest, APlayingPlayerThatFallsSilentIsTakenForHung)
{
    PlayerProcess player(source(QStringLiteral("hang.mp4")), QSize(160, 90));
    player.setSilenceLimit(500);
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    const qint64 pid = player.pid();
    player.play();
    ASSERT_TRUE(waitFor([&] { return deaths == 1; }));
    EXPECT_TRUE(processGone(pid));
}

TEST_F(PlayerProcessTest, APausedPlayerMayStaySilent)
{
    PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(160, 90));
    player.setSilenceLimit(200);
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    player.play();
    pump(400);
    player.pause();
    pump(600);
    EXPECT_FALSE(player.hasDied());
}

TEST_F(PlayerProcessTest, EndingOrDestroyingThePlayerEndsItsProcessAndFolder)
{
    qint64 pid = -1;
    {
        PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(160, 90));
        ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
        pid = player.pid();
        player.play();
    }
    EXPECT_TRUE(processGone(pid)); // reaped, not a zombie

    PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(160, 90));
    ASSERT_TRUE(waitFor([&] { return player.isLoaded(); }));
    const qint64 second = player.pid();
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    player.end();
    EXPECT_TRUE(processGone(second));
    pump(100);
    EXPECT_TRUE(deaths == 0); // asked to end: no death to report
}

TEST_F(PlayerProcessTest, AMissingPlayerProgramCountsAsADeath)
{
    qputenv("QUORVENDA_PLAYER", "/nonexistent/quorvenda-player");
    PlayerProcess player(source(QStringLiteral("clip.mp4")), QSize(160, 90));
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    ASSERT_TRUE(waitFor([&] { return deaths == 1; }));
    bool seeked = false;
    player.seek(1.0, [&] { seeked = true; });
    EXPECT_TRUE(waitFor([&] { return seeked; }));
}

TEST_F(PlayerProcessTest, ThePlayerSeesTheFileItPlaysAndTheSoundServerButNothingBesideIt)
{
    QFile movie(folder.filePath(QStringLiteral("peek.mp4")));
    ASSERT_TRUE(movie.open(QIODevice::WriteOnly) && movie.write("frames") == 6);
    movie.close();
    QFile secret(folder.filePath(QStringLiteral("secret.txt")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("secret") == 6);
    secret.close();
    // The log's folder would be shown as a program's: the walls show what our own variables name.
    qunsetenv("QUORVENDA_TEST_PLAYER_LOG");
    // A sound server's sockets in a runtime folder of the session.
    QTemporaryDir runtime;
    ASSERT_TRUE(QDir(runtime.path()).mkpath(QStringLiteral("pulse")));
    const auto listen = [](const QString& path) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path.toStdString();
        EXPECT_EQ(::listen(fd, 4), 0);
        return fd;
    };
    const int pulse = listen(runtime.filePath(QStringLiteral("pulse/native")));
    const int pipewire = listen(runtime.filePath(QStringLiteral("pipewire-0")));
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const auto restore = qScopeGuard([&] {
        ::close(pulse);
        ::close(pipewire);
        if (previousRuntime.isNull())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", previousRuntime);
    });
    // In its own namespaces, and without them (where Landlock narrows the reads).
    const QByteArray previousChoice = qgetenv("QUORVENDA_NO_NAMESPACES");
    const auto restoreChoice = qScopeGuard([&] {
        if (previousChoice.isNull())
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", previousChoice);
    });
    for (const bool namespaces : {true, false}) {
        if (namespaces)
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", "1");
        PlayerProcess player(source(QStringLiteral("peek.mp4")), QSize(64, 64));
        QString details;
        QObject::connect(&player, &PlayerProcess::failed, [&](const QString& said) { details = said; });
        ASSERT_TRUE(waitFor([&] { return !details.isEmpty(); }));
        if (details.startsWith(QLatin1String("no walls")))
            continue; // neither namespaces nor Landlock here
        EXPECT_EQ(details, QStringLiteral("source read, beside refused, sound reached reached")) << namespaces;
    }
}
