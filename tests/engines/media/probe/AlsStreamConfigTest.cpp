#include "engines/media/probe/AlsStreamConfig.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv;

namespace {

const QString sounds = QStringLiteral(QV_SOURCE_DIR "/tests/files/sounds/");

std::optional<AlsStreamConfig> alsOf(const QString& path)
{
    const std::optional<QByteArray> config = IsoMediaFile::soundDecoderConfig(path);
    return config ? AlsStreamConfig::read(*config) : std::nullopt;
}

} // namespace

// FFmpeg's probe calls both files 16-bit ALS; their own configuration tells the floating one.
TEST(AlsStreamConfig, ReadFromTheSoundTrackOfAnMp4)
{
    const std::optional<AlsStreamConfig> integer = alsOf(sounds + "als-integer.mp4");
    ASSERT_TRUE(integer);
    EXPECT_FALSE(integer->floating);
    EXPECT_TRUE(integer->ffmpegDecodes());
    const std::optional<AlsStreamConfig> floating = alsOf(sounds + "als-float.mp4");
    ASSERT_TRUE(floating);
    EXPECT_TRUE(floating->floating);
    EXPECT_FALSE(floating->ffmpegDecodes());

    // A file cut before its movie box, and one that is no MP4, say nothing.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray whole = test::readFile(sounds + "als-float.mp4");
    const qsizetype movie = whole.indexOf("moov") - 4;
    ASSERT_GT(movie, 0);
    EXPECT_FALSE(IsoMediaFile::soundDecoderConfig(test::writeFile(dir.filePath("cut.mp4"), whole.left(movie + 300))));
    EXPECT_FALSE(IsoMediaFile::soundDecoderConfig(test::writeFile(dir.filePath("text.mp4"), "not a movie")));
}

TEST(AlsStreamConfig, OnlyAnAlsConfigurationIsRead)
{
    const QByteArray integer = *IsoMediaFile::soundDecoderConfig(sounds + "als-integer.mp4");
    // The flag bits from the stored configuration: RLS-LMS, which FFmpeg refuses.
    QByteArray rlsLms = integer;
    const qsizetype id = rlsLms.indexOf(QByteArray("ALS\0", 4));
    ASSERT_GT(id, 0);
    rlsLms[id + 21] = char(uchar(rlsLms[id + 21]) | 0x40);
    const std::optional<AlsStreamConfig> refused = AlsStreamConfig::read(rlsLms);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->rlsLms);
    EXPECT_FALSE(refused->ffmpegDecodes());

    EXPECT_FALSE(AlsStreamConfig::read(integer.left(id + 20))) << "cut short";
    // AAC-LC at 44.1 kHz, stereo.
    EXPECT_FALSE(AlsStreamConfig::read(QByteArray::fromHex("1210")));
    EXPECT_FALSE(AlsStreamConfig::read({}));

    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString aac = dir.filePath("tone.m4a");
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                                          "sine=duration=1", "-c:a", "aac", "file:" + aac}),
              0);
    const std::optional<QByteArray> config = IsoMediaFile::soundDecoderConfig(aac);
    ASSERT_TRUE(config) << "an AAC track's configuration";
    EXPECT_FALSE(AlsStreamConfig::read(*config));
}
