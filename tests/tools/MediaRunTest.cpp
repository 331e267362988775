#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <signal.h>

using namespace qv::test;

namespace {


QString make(const QString& path, const QStringList& arguments)
{
    EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"), QStringList{"-nostdin", "-v", "error", "-y"} + arguments
                                                       + QStringList{"file:" + path}),
              0);
    return path;
}

QByteArray packets(const QString& path)
{
    QByteArray output;
    EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                         {"-nostdin", "-v", "error", "-i", "file:" + path, "-c", "copy", "-f", "md5", "-"}, &output),
              0);
    return output.trimmed();
}

// The conversions a wheel offers for the file, without their category.
QSet<QString> offered(const QString& file, const QString& home)
{
    const QString text = QString::fromUtf8(runDevDriver({"wheel", "convert", file}, home));
    QSet<QString> targets;
    static const QRegularExpression id(QStringLiteral("\"convert\\.[a-z]+\\.([a-z0-9]+)\""));
    for (auto it = id.globalMatch(text); it.hasNext();)
        targets.insert(it.next().captured(1));
    return targets;
}

} // namespace

TEST(MediaRun, AMovRemuxesToMp4BesideItUnderItsOwnName)
{
    QTemporaryDir dir;
    const QString source =
        make(dir.filePath("movie.final.mov"), {"-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1", "-f",
                                               "lavfi", "-i", "sine=duration=1", "-c:v", "libx264", "-pix_fmt",
                                               "yuv420p", "-c:a", "aac", "-shortest"});
    int code = -1;
    const QJsonObject result = lastJsonLine(runDevDriver({"run", "convert.video.mp4", source}, dir.path(), &code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(result.value("state").toString(), "finished");
    const QString placed = dir.filePath("movie.final.mp4");
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), placed);
    EXPECT_EQ(packets(placed), packets(source));
    const QByteArray bytes = readFile(placed);
    EXPECT_LT(bytes.indexOf("moov"), bytes.indexOf("mdat"));
}

TEST(MediaRun, SoundOnAVideoTargetFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString sound = make(dir.filePath("tone.mp3"), {"-f", "lavfi", "-i", "sine=duration=0.5"});
    int code = -1;
    const QJsonObject result = lastJsonLine(runDevDriver({"run", "convert.video.mp4", sound}, dir.path(), &code));
    EXPECT_NE(code, 0);
    EXPECT_TRUE(QJsonDocument(result).toJson().contains("This file has no video"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"tone.mp3"});
}

TEST(MediaRun, TheConvertWheelOffersEveryOtherTarget)
{
    QTemporaryDir dir;
    const QString clip = writeFile(dir.filePath("clip.mov"));
    const QSet<QString> video = offered(clip, dir.path());
    EXPECT_EQ(video, (QSet<QString>{"mp4", "webm", "gif", "mp3", "m4a", "mkv", "wav", "avi", "webp", "hevc",
                                    "prores", "flac", "ogg", "opus", "aiff"}));

    const QSet<QString> song = offered(writeFile(dir.filePath("song.mp3")), dir.path());
    EXPECT_EQ(song, (QSet<QString>{"m4a", "wav", "flac", "aiff", "ogg", "opus", "alac", "caf", "m4r"}));
    EXPECT_TRUE(offered(writeFile(dir.filePath("voice.m4a")), dir.path()).contains("alac"));
    EXPECT_FALSE(offered(writeFile(dir.filePath("voice.m4a")), dir.path()).contains("m4a"));
}

TEST(MediaRun, SigtermDuringAnEncodeCancelsAndPlacesNothing)
{
    QTemporaryDir dir;
    const QString source = make(dir.filePath("long.mov"), {"-f", "lavfi", "-i",
                                                           "testsrc=size=640x480:rate=25:duration=20", "-c:v",
                                                           "mpeg4", "-q:v", "31"});
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.path() + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"run", "convert.video.webm", source});
    ASSERT_TRUE(process.waitForStarted());
    // Started FFmpeg reports progress; wait until the encode is surely under way.
    process.waitForFinished(1000);
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(lastJsonLine(process.readAllStandardOutput().trimmed()).value("state").toString(), "cancelled");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"long.mov"});
}
