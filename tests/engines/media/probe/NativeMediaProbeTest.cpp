#include "engines/media/probe/NativeMediaProbe.h"

#include "engines/media/probe/FFmpegProbeParser.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/operations/Capabilities.h"
#include "platform/processes/FFmpegInvocation.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cmath>

using namespace qv;

namespace {

class NativeMediaProbe : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
        setNativeProbeAllowed(true);
    }
    void TearDown() override { setNativeProbeAllowed(false); }

    QString make(const QString& name, const QStringList& arguments)
    {
        const QString path = dir.filePath(name);
        const int status = test::runProgram(QStringLiteral("ffmpeg"),
                                            QStringList{"-nostdin", "-hide_banner", "-loglevel", "error", "-y"}
                                                + arguments + QStringList{"file:" + path});
        EXPECT_EQ(status, 0) << name.toStdString();
        return path;
    }

    QString copied(const QString& name)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/") + name, path));
        return path;
    }

    QTemporaryDir dir;
};

// What ffprobe says of a file, for the fields both probes give.
struct Oracle {
    double duration = 0;
    int width = 0, height = 0, rotation = 0, audioStreams = 0, subtitleStreams = 0;
    bool video = false;
};

Oracle ffprobe(const QString& path)
{
    QByteArray json;
    EXPECT_EQ(test::runProgram(QStringLiteral("ffprobe"),
                               {"-v", "error", "-show_entries",
                                "format=duration:stream=codec_type,width,height:stream_disposition=attached_pic:"
                                "stream_side_data=rotation",
                                "-of", "json", "file:" + path},
                               &json),
              0);
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    Oracle o;
    o.duration = root["format"].toObject()["duration"].toString().toDouble();
    for (const QJsonValue& value : root["streams"].toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream["codec_type"].toString();
        if (type == "audio")
            ++o.audioStreams;
        if (type == "subtitle")
            ++o.subtitleStreams;
        if (type == "video" && !o.video && stream["disposition"].toObject()["attached_pic"].toInt() == 0) {
            o.video = true;
            o.width = stream["width"].toInt();
            o.height = stream["height"].toInt();
            for (const QJsonValue& side : stream["side_data_list"].toArray()) {
                if (side.toObject().contains("rotation"))
                    o.rotation = (360 - side.toObject()["rotation"].toInt() % 360) % 360;
            }
        }
    }
    return o;
}

} // namespace

// The files in-process reading meets: movies turned on their side, several sounds and subtitles,
// sounds of every native extension, and the real files the project keeps. Each is described
// as the FFmpeg program describes it, and as ffprobe counts it.
TEST_F(NativeMediaProbe, DescribesFilesAsTheProgramAndFfprobeDo)
{
    const QStringList video{"-f", "lavfi", "-i", "testsrc=size=96x64:rate=25:duration=1.2"};
    const QStringList sound{"-f", "lavfi", "-i", "sine=frequency=330:duration=1.2"};
    QStringList files{
        make("portrait.mov", video + sound + QStringList{"-c:v", "libx264", "-c:a", "aac", "-metadata:s:v:0", "rotate=90"}),
        make("upside.mp4", video + QStringList{"-c:v", "mpeg4", "-metadata:s:v:0", "rotate=180"}),
        make("two sounds.m4v", video + sound + sound + QStringList{"-map", "0", "-map", "1", "-map", "2", "-c:v",
                                                                  "libx264", "-c:a", "aac"}),
        make("tones.m4a", sound + QStringList{"-c:a", "aac"}),
        make("tones.mp3", sound + QStringList{"-c:a", "libmp3lame"}),
        make("tones.wav", sound),
        make("tones.aiff", sound),
        make("tones.caf", sound + QStringList{"-c:a", "alac"}),
        make("tones.aac", sound + QStringList{"-c:a", "aac"}),
        make("phone.3gp", QStringList{"-f", "lavfi", "-i", "testsrc=size=176x144:rate=15:duration=1"}
                              + QStringList{"-f", "lavfi", "-i", "sine=sample_rate=8000:duration=1", "-c:v", "h263",
                                            "-c:a", "aac"}),
        copied("chapters-without-data.m4b"),
        copied("itunes-encoder-delay.mp3"),
        copied("als-integer.mp4"),
    };
    for (const QString& path : std::as_const(files)) {
        SCOPED_TRACE(path.toStdString());
        const QUrl url = QUrl::fromLocalFile(path);
        const std::optional<QString> native = describeNatively(url, {});
        ASSERT_TRUE(native);
        const MediaInfo info = parseFFmpegProbeOutput(*native);
        EXPECT_EQ(info, parseFFmpegProbeOutput(probeWithFFmpeg(url, {})));

        const Oracle o = ffprobe(path);
        ASSERT_TRUE(info.duration);
        EXPECT_NEAR(*info.duration, o.duration, 0.011);
        EXPECT_EQ(info.video.has_value(), o.video);
        if (info.video) {
            EXPECT_EQ(info.video->width, o.width);
            EXPECT_EQ(info.video->height, o.height);
            EXPECT_EQ(info.video->rotation, o.rotation);
        }
        EXPECT_EQ(info.audioStreamCount, o.audioStreams);
        EXPECT_EQ(info.subtitleCodecs.size(), o.subtitleStreams);
    }
}

TEST_F(NativeMediaProbe, GivesNothingWhereTheProgramMustSpeak)
{
    const QString clip = make("clip.mp4", {"-f", "lavfi", "-i", "sine=duration=0.3", "-c:a", "aac"});
    const QUrl url = QUrl::fromLocalFile(clip);
    const QString text = test::writeFile(dir.filePath("notes.mp4"), "not a movie at all\n");

    EXPECT_FALSE(describeNatively(QUrl::fromLocalFile(text), {}));
    EXPECT_FALSE(describeNatively(url, {}, {"-f", "no-such-demuxer"}));
    EXPECT_FALSE(describeNatively(url, {}, {"-analyzeduration", "1"}));
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_FALSE(describeNatively(url, stopped.get_token()));
    // The guess's score, which the probe weighs, comes at the debug level only.
    const std::optional<QString> debug = describeNatively(url, {}, {"-loglevel", "debug"});
    ASSERT_TRUE(debug);
    EXPECT_TRUE(debug->contains("probed with size=")) << debug->toStdString();
    EXPECT_FALSE(describeNatively(url, {})->contains("probed with size="));
    EXPECT_TRUE(describeNatively(url, {}, {"-f", "mov"}));

    // Outside a worker nothing is read in process.
    setNativeProbeAllowed(false);
    EXPECT_FALSE(describeNatively(url, {}));
    EXPECT_FALSE(probeNatively(url));
}

// Without the FFmpeg program a native type is still described; any other type needs the program.
TEST_F(NativeMediaProbe, TheProgramIsNeededOnlyForOtherTypes)
{
    const QStringList sound{"-f", "lavfi", "-i", "sine=duration=0.4"};
    const QString m4a = make("tone.m4a", sound + QStringList{"-c:a", "aac"});
    const QString mka = make("tone.mka", sound + QStringList{"-c:a", "aac"});
    const MediaInfo info = probeMediaInfo(std::nullopt, QUrl::fromLocalFile(m4a), {});
    ASSERT_TRUE(info.audio);
    EXPECT_EQ(info.audio->codec, "aac");
    EXPECT_EQ(info.demuxer, "mov");
    EXPECT_THROW(probeMediaInfo(std::nullopt, QUrl::fromLocalFile(mka), {}), std::exception);
}
