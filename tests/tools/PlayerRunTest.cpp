// The real player process on files made here: what the trim editor and the preview windows see.
#include "platform/processes/ChildProcess.h"
#include "platform/sandbox/PlayerProcess.h"

#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>

using namespace qv;
using qv::test::runProgram;
using qv::test::waitFor;
using qv::test::writeFile;

namespace {

class PlayerRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        previous = qgetenv("QUORVENDA_PLAYER");
        qputenv("QUORVENDA_PLAYER", QV_BUILD_DIR "/quorvenda-player");
    }
    void TearDown() override { qputenv("QUORVENDA_PLAYER", previous); }

    // Two seconds of 4:3 picture at 25 frames a second with a tone; empty when FFmpeg cannot.
    QString makeClip()
    {
        const QString path = folder.filePath(QStringLiteral("clip.mp4"));
        const int status = runProgram(QStringLiteral("ffmpeg"),
                                      {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                       "testsrc=size=320x240:rate=25:duration=2", "-f", "lavfi", "-i",
                                       "sine=frequency=440:duration=2", "-c:v", "libx264", "-pix_fmt", "yuv420p",
                                       "-c:a", "aac", "-shortest", path});
        return status == 0 ? path : QString();
    }

    // Six seconds of grey that lightens by 35 every second (30, 65, ... 205), with a keyframe
    // only at the start, as a camera's long groups of pictures have them.
    QString makeGreyStepsClip()
    {
        const QString path = folder.filePath(QStringLiteral("steps.mp4"));
        const int status = runProgram(QStringLiteral("ffmpeg"),
                                      {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                       "nullsrc=size=160x120:rate=25:duration=6,geq=lum='30+35*floor(T)':cb=128:cr=128",
                                       "-c:v", "libx264", "-g", "250", "-pix_fmt", "yuv420p", path});
        return status == 0 ? path : QString();
    }

    QTemporaryDir folder;
    QByteArray previous;
};

} // namespace

TEST_F(PlayerRunTest, AMoviePlaysWithItsDurationPositionAndFittedPictures)
{
    const QString clip = makeClip();
    if (clip.isEmpty())
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    PlayerProcess player(QUrl::fromLocalFile(clip), QSize(160, 160));
    bool failed = false;
    QObject::connect(&player, &PlayerProcess::failed, [&] { failed = true; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded() || failed || player.hasDied(); }, 30000));
    if (failed)
        GTEST_SKIP() << "The media framework here cannot play H.264";
    ASSERT_FALSE(player.hasDied());
    EXPECT_NEAR(player.duration(), 2.0, 0.1);
    // The paused first picture, fitted to the view and keeping its shape.
    ASSERT_TRUE(waitFor([&] { return !player.frame().isNull(); }, 20000));
    EXPECT_EQ(player.frame().size(), QSize(160, 120));

    player.play();
    ASSERT_TRUE(waitFor([&] { return player.position() > 0.6 && player.framesReceived() > 8; }, 20000));
    EXPECT_TRUE(player.isPlaying());
    player.pause();
    bool seeked = false;
    player.seek(1.5, [&] { seeked = true; });
    ASSERT_TRUE(waitFor([&] { return seeked; }, 20000));
    ASSERT_TRUE(waitFor([&] { return std::abs(player.position() - 1.5) < 0.15; }, 20000));
    EXPECT_FALSE(player.hasDied());

    const qint64 pid = player.pid();
    player.end();
    EXPECT_TRUE(waitFor([pid] { return ::kill(pid_t(pid), 0) != 0 && errno == ESRCH; }));
}

TEST_F(PlayerRunTest, AFileThatIsNoMovieFailsWithoutHarm)
{
    const QString junk = writeFile(folder.filePath(QStringLiteral("junk.mp4")), QByteArray(40000, '\x5a'));
    PlayerProcess player(QUrl::fromLocalFile(junk), QSize(160, 120));
    bool failed = false;
    QObject::connect(&player, &PlayerProcess::failed, [&] { failed = true; });
    ASSERT_TRUE(waitFor([&] { return failed || player.hasDied(); }, 30000));
    EXPECT_FALSE(player.isLoaded());
}

TEST_F(PlayerRunTest, ADecoderCrashMidPlayEndsThePlayerAloneAndIsReported)
{
    const QString clip = makeClip();
    if (clip.isEmpty())
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    PlayerProcess player(QUrl::fromLocalFile(clip), QSize(160, 120));
    int deaths = 0;
    QObject::connect(&player, &PlayerProcess::died, [&] { ++deaths; });
    ASSERT_TRUE(waitFor([&] { return player.isLoaded() || player.hasFailed() || player.hasDied(); }, 30000));
    if (player.hasFailed())
        GTEST_SKIP() << "The media framework here cannot play H.264";
    player.play();
    ASSERT_TRUE(waitFor([&] { return player.framesReceived() > 3; }, 20000));
    // What a crafted file does to a decoder, done from outside.
    ASSERT_EQ(::kill(pid_t(player.pid()), SIGSEGV), 0);
    ASSERT_TRUE(waitFor([&] { return deaths == 1; }, 20000));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(player.frame().isNull()); // the last picture stays until the view says otherwise
}

TEST_F(PlayerRunTest, ALoopRangeKeepsPlaybackInsideAndStopGoesBackToTheStart)
{
    const QString clip = makeClip();
    if (clip.isEmpty())
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    PlayerProcess player(QUrl::fromLocalFile(clip), QSize(160, 120));
    ASSERT_TRUE(waitFor([&] { return player.isLoaded() || player.hasFailed() || player.hasDied(); }, 30000));
    if (player.hasFailed())
        GTEST_SKIP() << "The media framework here cannot play H.264";
    player.setLoop(0.2, 0.8);
    player.setVolume(0.1);
    player.play();
    // Three times the range's length: without the loop the clip would be near its end.
    double latest = 0;
    bool wrapped = false;
    QObject::connect(&player, &PlayerProcess::positionChanged, [&](double seconds) {
        wrapped = wrapped || seconds < latest - 0.3;
        latest = seconds;
    });
    ASSERT_TRUE(waitFor([&] { return wrapped; }, 20000));
    EXPECT_TRUE(player.isPlaying());
    EXPECT_LT(latest, 1.0);
    player.stop();
    EXPECT_FALSE(player.isPlaying());
    // A position the player sent before it took the stop may still be on its way.
    EXPECT_TRUE(waitFor([&] { return player.position() < 0.15; }, 20000)) << player.position();
    EXPECT_FALSE(player.isPlaying());
    EXPECT_FALSE(player.hasDied());
}

namespace {

// The second a picture of the grey-steps clip shows, from the grey at its centre.
int secondShown(const QImage& frame)
{
    if (frame.isNull())
        return -1;
    return int(std::lround((qGray(frame.pixel(frame.width() / 2, frame.height() / 2)) - 30) / 35.0));
}

} // namespace

TEST_F(PlayerRunTest, APausedPlayerShowsThePictureAtEverySeekOfADrag)
{
    const QString clip = makeGreyStepsClip();
    if (clip.isEmpty())
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    PlayerProcess player(QUrl::fromLocalFile(clip), QSize(160, 120));
    ASSERT_TRUE(waitFor([&] { return player.isLoaded() || player.hasFailed() || player.hasDied(); }, 30000));
    if (player.hasFailed())
        GTEST_SKIP() << "The media framework here cannot play H.264";
    ASSERT_TRUE(waitFor([&] { return secondShown(player.frame()) == 0; }, 20000)) << secondShown(player.frame());

    // One seek at a time, the next as soon as the last is done, as the editor sends a drag's.
    for (const double seconds : {2.5, 4.5, 1.5, 5.5, 3.5}) {
        bool seeked = false;
        player.seek(seconds, [&] { seeked = true; });
        ASSERT_TRUE(waitFor([&] { return seeked; }, 20000));
        EXPECT_TRUE(waitFor([&] { return secondShown(player.frame()) == int(seconds); }, 5000))
            << "at " << seconds << " s the picture shows second " << secondShown(player.frame());
    }

    // A burst of seeks, each overtaking the last: the picture ends at the last one's time.
    for (double seconds = 0.2; seconds < 4.3; seconds += 0.1)
        player.seek(seconds);
    EXPECT_TRUE(waitFor([&] { return secondShown(player.frame()) == 4; }, 5000))
        << "the picture shows second " << secondShown(player.frame());
    EXPECT_FALSE(player.hasDied());
}

TEST_F(PlayerRunTest, ItsSoundReachesTheSoundServerFromBehindItsWalls)
{
    for (const char* program : {"pipewire", "wireplumber", "pipewire-pulse", "pw-cli", "dbus-run-session"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty())
            GTEST_SKIP() << program << " is not installed";
    }
    const QString clip = makeClip();
    if (clip.isEmpty())
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    // A sound server of the test's own: PipeWire with its PulseAudio stand-in and a sink that
    // plays into nothing, in a runtime folder of its own.
    QTemporaryDir runtime;
    const QString config = runtime.filePath(QStringLiteral("config"));
    ASSERT_TRUE(QDir().mkpath(config));
    for (const char* name : {"pipewire.conf", "pipewire-pulse.conf", "client.conf", "client-rt.conf"})
        QFile::copy(QStringLiteral("/usr/share/pipewire/") + QLatin1String(name), config + QLatin1Char('/') + QLatin1String(name));
    QByteArray server = qv::test::readFile(config + QStringLiteral("/pipewire.conf"));
    if (!server.contains("context.objects = ["))
        GTEST_SKIP() << "PipeWire's configuration is not laid out as expected";
    server.replace("context.objects = [",
                   "context.objects = [\n    { factory = adapter args = { factory.name = support.null-audio-sink "
                   "node.name = \"nullsink\" media.class = \"Audio/Sink\" object.linger = true audio.position = [ FL FR ] } }\n");
    writeFile(config + QStringLiteral("/pipewire.conf"), server);
    const QHash<QString, QString> environment{{QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin")},
                                              {QStringLiteral("HOME"), runtime.path()},
                                              {QStringLiteral("XDG_RUNTIME_DIR"), runtime.path()},
                                              {QStringLiteral("PIPEWIRE_CONFIG_DIR"), config}};
    // Ended with its whole process group when the test ends.
    ChildProcess sound(QStringLiteral("/usr/bin/dbus-run-session"),
                       {QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
                        QStringLiteral("pipewire & sleep 1; wireplumber & pipewire-pulse & wait")},
                       environment, runtime.path());
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray previousChoice = qgetenv("QUORVENDA_NO_NAMESPACES");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const auto restore = qScopeGuard([&] {
        for (const auto& [name, value] : {std::pair{"XDG_RUNTIME_DIR", previousRuntime}, std::pair{"QUORVENDA_NO_NAMESPACES", previousChoice}}) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    });
    const auto nodes = [] {
        QByteArray listed;
        runProgram(QStringLiteral("pw-cli"), {QStringLiteral("ls"), QStringLiteral("Node")}, &listed);
        return listed;
    };
    if (!waitFor([&] { return QFile::exists(runtime.filePath(QStringLiteral("pulse/native"))) && nodes().contains("nullsink"); }, 20000))
        GTEST_SKIP() << "the sound server did not come up here";

    // In its own namespaces, and without them (where Landlock narrows what it reads).
    for (const bool namespaces : {true, false}) {
        if (namespaces)
            qunsetenv("QUORVENDA_NO_NAMESPACES");
        else
            qputenv("QUORVENDA_NO_NAMESPACES", "1");
        PlayerProcess player(QUrl::fromLocalFile(clip), QSize(160, 160));
        QString why;
        QObject::connect(&player, &PlayerProcess::failed, [&](const QString& details) { why = details; });
        ASSERT_TRUE(waitFor([&] { return player.isLoaded() || player.hasFailed() || player.hasDied(); }, 30000));
        ASSERT_FALSE(player.hasFailed() || player.hasDied()) << namespaces << ": " << why.toStdString();
        player.play();
        EXPECT_TRUE(waitFor([&] { return nodes().contains("\"quorvenda-player\""); }, 20000)) << namespaces;
        EXPECT_TRUE(waitFor([&] { return player.position() > 0.5; }, 20000)) << namespaces;
    }
}
