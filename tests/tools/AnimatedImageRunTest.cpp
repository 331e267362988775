#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

QString animation(const QString& path)
{
    const QString codec = path.endsWith(".gif") ? "gif" : "libwebp_anim";
    EXPECT_EQ(runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                    "testsrc2=size=96x64:rate=25", "-frames:v", "10", "-c:v", codec, "-loop", "0",
                                    "file:" + path}),
              0);
    return path;
}

QString videoStream(const QString& path)
{
    QByteArray output;
    EXPECT_EQ(runProgram("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                     "stream=codec_name,codec_tag_string", "-of", "csv=p=0", "file:" + path},
                         &output),
              0);
    return QString::fromUtf8(output).trimmed();
}

// Runs one conversion; the path of its one result.
QString run(const QString& operation, const QString& file, const QString& home)
{
    int code = -1;
    const QJsonObject result = lastJsonLine(runDevDriver({"run", operation, file}, home, &code));
    EXPECT_EQ(code, 0) << operation.toStdString();
    EXPECT_EQ(result.value("state").toString(), "finished");
    return result.value("outputs").toArray().first().toString();
}

} // namespace

// Animations dropped on the video conversions are encoded from their frames.
TEST(AnimatedImageRun, AnimationsBecomeVideosOfTheirTarget)
{
    QTemporaryDir dir;
    const QString gif = animation(dir.filePath("party.gif"));
    const QString mp4 = run("convert.video.mp4", gif, dir.path());
    EXPECT_EQ(mp4, dir.filePath("party.mp4"));
    EXPECT_EQ(videoStream(mp4), "h264,avc1");
    QFile::remove(mp4);

    const QString hevc = run("convert.video.hevc", gif, dir.path());
    EXPECT_EQ(hevc, dir.filePath("party.mp4"));
    EXPECT_EQ(videoStream(hevc), "hevc,hvc1");

    const QString webp = animation(dir.filePath("wave.webp"));
    const QString webm = run("convert.video.webm", webp, dir.path());
    EXPECT_EQ(webm, dir.filePath("wave.webm"));
    EXPECT_EQ(videoStream(webm).section(',', 0, 0), "vp9");

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
              (QStringList{"party.gif", "party.mp4", "wave.webm", "wave.webp"}));
}
