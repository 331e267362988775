#include "engines/media/MediaRoutines.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

namespace {

FileInfo fileOfFormat(const std::optional<QString>& id, qint64 size = 0)
{
    FileInfo file;
    if (id) {
        file.format = FileFormat{};
        file.format->id = *id;
    }
    file.size = size;
    return file;
}

template <typename Call>
QString failure(Call call)
{
    try {
        call();
    } catch (const EngineError& error) {
        EXPECT_TRUE(error.log().isEmpty());
        return error.message();
    }
    return {};
}

} // namespace

TEST(MediaRoutines, StreamGuards)
{
    MediaInfo info;
    EXPECT_EQ(failure([&] { requireVideo(info); }), "This file has no video");
    EXPECT_EQ(failure([&] { requireAudio(info); }), "This file has no audio");
    info.video = VideoStreamInfo{};
    info.video->codec = QStringLiteral("h264");
    info.audio = AudioStreamInfo{};
    info.audio->codec = QStringLiteral("aac");
    EXPECT_EQ(requireVideo(info).codec, "h264");
    EXPECT_EQ(requireAudio(info).codec, "aac");
}

TEST(MediaRoutines, CompressionVerdict)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    OperationContext context;
    context.notes = std::make_shared<JobNotes>();
    const QUrl output = QUrl::fromLocalFile(test::writeFile(dir.filePath("out.mp4"), QByteArray(333, 'x')));

    checkCompressed(output, fileOfFormat("mp4", 1000), context);
    EXPECT_EQ(context.notes->messages(), QStringList{"66 % smaller"});

    // 340 of 1000 bytes is exactly 66 % smaller, where (1 - 0.34) x 100 in floating point gives 65.99...
    const QUrl exact = QUrl::fromLocalFile(test::writeFile(dir.filePath("exact.mp4"), QByteArray(340, 'x')));
    checkCompressed(exact, fileOfFormat("mp4", 1000), context);
    EXPECT_EQ(context.notes->messages(), (QStringList{"66 % smaller", "66 % smaller"}));

    EXPECT_EQ(failure([&] { checkCompressed(output, fileOfFormat("mp4", 333), context); }),
              "Already as small as it gets");
    EXPECT_EQ(failure([&] { checkCompressed(output, fileOfFormat("mp4", 200), context); }),
              "Already as small as it gets");
    const QUrl missing = QUrl::fromLocalFile(dir.filePath("none.mp4"));
    EXPECT_EQ(failure([&] { checkCompressed(missing, fileOfFormat("mp4", 1000), context); }),
              "Already as small as it gets");
    const QUrl empty = QUrl::fromLocalFile(test::writeFile(dir.filePath("empty.mp4"), QByteArray()));
    EXPECT_EQ(failure([&] { checkCompressed(empty, fileOfFormat("mp4", 1000), context); }),
              "Already as small as it gets");

    // An input of unknown size is accepted whatever came out, without a note.
    checkCompressed(missing, fileOfFormat("mp4", 0), context);
    checkCompressed(output, fileOfFormat("mp4", 0), context);
    EXPECT_EQ(context.notes->messages().size(), 2);
}

TEST(MediaRoutines, ReencodeLikeTheSource)
{
    MediaInfo info;
    info.video = VideoStreamInfo{};
    info.video->codec = QStringLiteral("h264");
    info.video->width = 1920;
    info.video->height = 1080;
    info.video->fps = 30.0;
    info.audio = AudioStreamInfo{};
    info.audio->codec = QStringLiteral("mp3");
    info.audio->bitrate = 320;
    EXPECT_EQ(encoderArgs(info),
              (QStringList{"-c:v", "libx264", "-preset", "fast", "-b:v", "7464k", "-profile:v", "high", "-tag:v",
                           "avc1", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k"}));
    info.audio->bitrate = 64;
    EXPECT_EQ(encoderArgs(info).mid(12), (QStringList{"-c:a", "aac", "-b:a", "96k"}));
    info.audio->bitrate = 128;
    EXPECT_EQ(encoderArgs(info).mid(12), (QStringList{"-c:a", "aac", "-b:a", "128k"}));
    info.audio->bitrate = std::nullopt;
    EXPECT_EQ(encoderArgs(info).mid(12), (QStringList{"-c:a", "aac", "-b:a", "192k"}));

    info.video->codec = QStringLiteral("hevc");
    info.video->pixelFormat = QStringLiteral("yuv420p10le");
    info.audio = std::nullopt;
    EXPECT_EQ(encoderArgs(info),
              (QStringList{"-c:v", "libx265", "-preset", "fast", "-crf", "24", "-x265-params", "log-level=error",
                           "-tag:v", "hvc1", "-pix_fmt", "yuv420p10le", "-profile:v", "main10", "-an"}));

    EXPECT_EQ(encoderArgs(MediaInfo{}),
              (QStringList{"-c:v", "libx264", "-preset", "fast", "-b:v", "4000k", "-profile:v", "high", "-tag:v",
                           "avc1", "-pix_fmt", "yuv420p", "-an"}));
}

TEST(MediaRoutines, TargetsThatKeepTheInputsFormat)
{
    const QList<std::pair<std::optional<QString>, AudioTarget>> targets{
        {"mp3", AudioTarget::mp3},  {"wav", AudioTarget::wav},   {"aiff", AudioTarget::aiff},
        {"flac", AudioTarget::flac}, {"ogg", AudioTarget::ogg},  {"opus", AudioTarget::opus},
        {"caf", AudioTarget::caf},  {"m4r", AudioTarget::m4r},   {"m4a", AudioTarget::m4a},
        {"alac", AudioTarget::m4a}, {"wma", AudioTarget::m4a},   {std::nullopt, AudioTarget::m4a},
    };
    for (const auto& [id, target] : targets)
        EXPECT_EQ(audioTargetForFile(fileOfFormat(id)), target) << id.value_or("none").toStdString();

    const QList<std::pair<std::optional<QString>, QString>> muxers{
        {"mov", "mov"},   {"mp4", "mp4"},       {"m4v", "mp4"},  {"3gp", "mp4"},   {"mkv", "matroska"},
        {"webm", "webm"}, {"avi", "avi"},       {"ts", "mpegts"}, {"flv", "flv"},  {"mpg", "mpeg"},
        {"m4a", "ipod"},  {"m4r", "ipod"},      {"mp3", "mp3"},  {"wav", "wav"},   {"aiff", "aiff"},
        {"flac", "flac"}, {"ogg", "ogg"},       {"opus", "opus"}, {"caf", "caf"},  {"wmv", "matroska"},
        {"png", "matroska"}, {std::nullopt, "matroska"}, {"wma", "asf"}, {"wv", "wv"}, {"aac", "adts"},
        {"mka", "matroska"}, {"ac3", "ac3"},
    };
    for (const auto& [id, muxer] : muxers)
        EXPECT_EQ(muxerForFile(fileOfFormat(id)), muxer) << id.value_or("none").toStdString();
    // Monkey's Audio, and a sound whose format is not known (Musepack, DSD), have no muxer to
    // copy their streams back into: Remove Meta is not offered for them.
    EXPECT_TRUE(soundContainerIsWritable(fileOfFormat("wma")));
    EXPECT_TRUE(soundContainerIsWritable(fileOfFormat("m4a")));
    EXPECT_FALSE(soundContainerIsWritable(fileOfFormat("ape")));
    EXPECT_FALSE(soundContainerIsWritable(fileOfFormat(std::nullopt)));
}
