#include "support/DevDriver.h"
#include "support/SmallDisk.h"
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

// Each test works in a folder of its own; `home` holds the driver's settings and caches.
class MediaToolsRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(QDir(home.path()).mkpath("files"));
        folder = home.filePath("files");
    }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = folder + "/" + name;
        EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"),
                             QStringList{"-nostdin", "-v", "error", "-y"} + arguments + QStringList{"file:" + path}),
                  0);
        return path;
    }

    QString clip(const QString& name, double seconds, const QString& size = "160x120", int rate = 10)
    {
        const QString d = QString::number(seconds);
        return make(name, {"-f", "lavfi", "-i",
                           "testsrc2=size=" + size + ":rate=" + QString::number(rate) + ":duration=" + d, "-f", "lavfi",
                           "-i", "sine=duration=" + d, "-c:v", "libx264", "-preset", "ultrafast", "-g", "10",
                           "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:v", "2M", "-shortest"});
    }

    QJsonObject run(const QStringList& args, int* code)
    {
        return lastJsonLine(runDevDriver(QStringList{"run"} + args, home.path(), code));
    }

    static double duration(const QString& path)
    {
        QByteArray output;
        EXPECT_EQ(runProgram(QStringLiteral("ffprobe"), {"-v", "error", "-show_entries", "format=duration", "-of",
                                                         "csv=p=0", "file:" + path},
                             &output),
                  0);
        return output.trimmed().toDouble();
    }

    // Everything in the files folder but the inputs, hidden work folders included, and any
    // work left under the temporary root.
    QStringList leftovers(const QStringList& inputs) const
    {
        QStringList left = folderEntries(folder);
        for (const QString& name : inputs)
            left.removeAll(name);
        const QString temporary = home.filePath("cache/quorvenda/tmp");
        for (const QString& name : folderEntries(temporary))
            left.append("tmp/" + name);
        return left;
    }

    QTemporaryDir home;
    QString folder;
};

QStringList ids(const QByteArray& text, const QString& prefix)
{
    QStringList found;
    static const QRegularExpression id(QStringLiteral("\"(tool\\.[a-z]+\\.[A-Za-z]+)\""));
    for (auto it = id.globalMatch(QString::fromUtf8(text)); it.hasNext();) {
        const QString match = it.next().captured(1);
        if (match.startsWith(prefix) && !found.contains(match))
            found.append(match);
    }
    return found;
}

} // namespace

TEST_F(MediaToolsRun, CompressTrimAndSpeedNameTheirResults)
{
    // At 30 fps a frame dropped by the speed change moves its length by little.
    const QString source = clip("clip.mov", 7.0, "320x240", 30);
    int code = -1;
    QJsonObject result = run({"tool.video.compress", source}, &code);
    EXPECT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), folder + "/clip (compressed).mov");
    EXPECT_TRUE(result.value("messages").toArray().first().toString().endsWith(" % smaller"));

    result = run({"tool.video.trim", "--options", R"({"trimStart":2.5,"trimEnd":6})", source}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NEAR(duration(folder + "/clip (trimmed).mov"), 3.5, 0.12);

    result = run({"tool.video.speed", source}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NEAR(duration(folder + "/clip (2" + QChar(0x00D7) + ").mov"), 3.5, 0.15);
    EXPECT_EQ(leftovers({"clip.mov", "clip (compressed).mov", "clip (trimmed).mov",
                         "clip (2" + QString(QChar(0x00D7)) + ").mov"}),
              QStringList());
}

TEST_F(MediaToolsRun, SplitCropAndRingtoneTakeTheEditorsOptions)
{
    const QString longClip = clip("long.mp4", 30.0);
    int code = -1;
    run({"tool.video.split", "--options", R"({"split":{"parts":{"_0":3}}})", longClip}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(QDir(folder + "/long (parts)").entryList(QDir::Files),
              (QStringList{"long 1.mp4", "long 2.mp4", "long 3.mp4"}));

    const QJsonObject refused =
        run({"tool.video.split", "--options", R"({"split":{"at":{"_0":[29.95]}}})", longClip}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(refused.value("failure").toObject().value("message").toString(), "Add at least one split point");

    const QString small = clip("clip.mov", 1.0);
    run({"tool.video.crop", "--options", R"({"cropRect":[[0,0],[101,75]]})", small}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(QFileInfo::exists(folder + "/clip (cropped).mov"));

    const QString song = make("song60.mp3", {"-f", "lavfi", "-i", "sine=duration=60"});
    run({"tool.audio.ringtone", "--options", R"({"trimStart":10})", song}, &code);
    EXPECT_EQ(code, 0);
    EXPECT_NEAR(duration(folder + "/song60.m4r"), 40.0, 0.1);
    EXPECT_EQ(leftovers({"long.mp4", "long (parts)", "clip.mov", "clip (cropped).mov", "song60.mp3", "song60.m4r"}),
              QStringList());
}

TEST_F(MediaToolsRun, MergeJoinsTheFilesInTheirOrder)
{
    const QString a = clip("it's\nfirst.mp4", 1.0);
    const QString b = clip("second.mp4", 2.0);
    int code = -1;
    const QJsonObject result = run({"tool.video.merge", a, b}, &code);
    EXPECT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    // The line feed of the first name is a space in the result's.
    const QString placed = folder + "/it's first (merged).mp4";
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), placed);
    EXPECT_NEAR(duration(placed), 3.0, 0.15);
}

TEST_F(MediaToolsRun, TheToolsWheelOffersTheVideoAndSoundTools)
{
    const QString movie = clip("clip.mov", 1.0);
    const QString other = clip("other.mov", 1.0);
    const QStringList one = ids(runDevDriver({"wheel", "tools", movie}, home.path()), "tool.video.");
    EXPECT_EQ(one.size(), 13) << one.join(' ').toStdString();
    EXPECT_FALSE(one.contains("tool.video.merge"));
    const QStringList two = ids(runDevDriver({"wheel", "tools", movie, other}, home.path()), "tool.video.");
    EXPECT_TRUE(two.contains("tool.video.merge"));
    EXPECT_FALSE(two.contains("tool.video.trim"));

    const QString song = make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=1"});
    const QStringList sound = ids(runDevDriver({"wheel", "tools", song}, home.path()), "tool.audio.");
    for (const char* id : {"tool.audio.normalize", "tool.audio.fade", "tool.audio.mono", "tool.audio.ringtone",
                           "tool.audio.sampleRate", "tool.audio.compress"})
        EXPECT_TRUE(sound.contains(id)) << id;
}

TEST_F(MediaToolsRun, SigtermDuringAReverseLeavesNothing)
{
    const QString source = clip("long.mov", 30.0, "640x480");
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"run", "tool.video.reverse", source});
    ASSERT_TRUE(process.waitForStarted());
    // Wait until the first pieces exist, so the stop falls between or inside encodes.
    const QString temporary = home.filePath("cache/quorvenda/tmp");
    for (int i = 0; i < 200 && bytesBelow(temporary) + bytesBelow(folder) - QFileInfo(source).size() < 20000; ++i)
        process.waitForFinished(50);
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(lastJsonLine(process.readAllStandardOutput().trimmed()).value("state").toString(), "cancelled");
    EXPECT_EQ(leftovers({"long.mov"}), QStringList());
}

TEST_F(MediaToolsRun, ASplitThatFillsTheDiskLeavesNoHalfFilledFolder)
{
    SmallDisk disk(3 * 1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    folder = disk.path();
    const QString source = clip("long.mp4", 30.0);
    // Its pieces need as much room again as the disk has left.
    ASSERT_GT(QFileInfo(source).size(), 1536 * 1024);
    int code = -1;
    const QJsonObject result = run({"tool.video.split", "--options", R"({"split":{"parts":{"_0":3}}})", source}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(result.value("failure").toObject().value("message").toString(), "Not enough disk space");
    EXPECT_EQ(leftovers({"long.mp4"}), QStringList());
}

// FFmpeg ends with status 0 when only the MOV's index could not be written; the job must not.
TEST_F(MediaToolsRun, AConversionThatFillsTheDiskFailsAndLeavesNothing)
{
    SmallDisk disk(1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a tmpfs needs root";
    folder = disk.path();
    const QString source = make("clip.mp4", {"-f", "lavfi", "-i", "testsrc2=size=160x120:rate=10:duration=3", "-f",
                                             "lavfi", "-i", "sine=duration=3", "-c:v", "libx264", "-preset",
                                             "ultrafast", "-b:v", "300k", "-c:a", "aac", "-shortest"});
    ASSERT_GT(QFileInfo(source).size(), 128 * 1024);
    ASSERT_TRUE(disk.fillLeaving(96 * 1024));
    int code = -1;
    const QJsonObject result = run({"convert.video.mov", source}, &code);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(result.value("failure").toObject().value("message").toString(), "Not enough disk space");
    EXPECT_EQ(leftovers({"clip.mp4", "filler"}), QStringList());
}
