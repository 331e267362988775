#include "editors/media/MediaPreviewArguments.h"
#include "editors/media/WaveformPeaks.h"
#include "engines/media/probe/MediaProbe.h"
#include "model/errors/CancellationError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdint>

using namespace qv;

namespace {

QString makeAudio(const QString& path, const QStringList& source)
{
    EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               QStringList{"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i"} + source
                                   + QStringList{"file:" + path}),
              0);
    return path;
}

} // namespace

TEST(WaveformPeaks, ASineGivesOneHundredEightyLevelsTheLoudestOne)
{
    QTemporaryDir dir;
    const QString sine = makeAudio(dir.filePath("-sine 'x'.wav"), {"sine=frequency=440:duration=2"});
    const QList<float> levels = readWaveformPeaks(QUrl::fromLocalFile(sine), std::nullopt, 2.0, 180, std::stop_token());
    ASSERT_EQ(levels.size(), 180);
    EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 1.0f);
    EXPECT_GT(*std::min_element(levels.begin(), levels.end()), 0.8f);

    const QString silence = makeAudio(dir.filePath("silence.wav"), {"anullsrc=r=8000:cl=mono", "-t", "1"});
    const QList<float> quiet = readWaveformPeaks(QUrl::fromLocalFile(silence), std::nullopt, 1.0, 180, std::stop_token());
    ASSERT_EQ(quiet.size(), 180);
    EXPECT_EQ(*std::max_element(quiet.begin(), quiet.end()), 0.0f);
}

TEST(WaveformPeaks, NoAudioOrNoMediaGivesNoLevelsAndAStopEndsTheRead)
{
    QTemporaryDir dir;
    const QString video = dir.filePath("mute.mp4");
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:duration=1",
                                "-c:v", "libx264", "file:" + video}),
              0);
    EXPECT_TRUE(readWaveformPeaks(QUrl::fromLocalFile(video), std::nullopt, 1.0, 180, std::stop_token()).isEmpty());
    const QString text = test::writeFile(dir.filePath("notes.mp3"), "not media at all");
    EXPECT_TRUE(readWaveformPeaks(QUrl::fromLocalFile(text), std::nullopt, 1.0, 180, std::stop_token()).isEmpty());

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(readWaveformPeaks(QUrl::fromLocalFile(video), std::nullopt, 1.0, 180, stop.get_token()), CancellationError);
}

TEST(WaveformBinner, SamplesCutBetweenChunksAndPastTheExpectedEndStillCount)
{
    // One second at 8000 Hz in 4 bins, the loud sample in the second bin split across chunks.
    WaveformBinner binner(1.0, 4);
    QByteArray samples(8000 * 2, '\0');
    const auto put = [&samples](int index, std::int16_t value) {
        samples[2 * index] = char(value & 0xff);
        samples[2 * index + 1] = char((value >> 8) & 0xff);
    };
    put(2500, -32768);
    put(500, 8192);
    put(7999, 16384);
    binner.add(QByteArrayView(samples).first(5001));
    binner.add(QByteArrayView(samples).sliced(5001));
    // Two samples beyond the expected total fall into the last bin.
    QByteArray extra(4, '\0');
    extra[2] = char(0x00);
    extra[3] = char(0x60); // 24576
    binner.add(extra);
    const QList<float> levels = binner.finish();
    ASSERT_EQ(levels.size(), 4);
    EXPECT_FLOAT_EQ(levels[0], 0.25f);
    EXPECT_FLOAT_EQ(levels[1], 1.0f);
    EXPECT_FLOAT_EQ(levels[2], 0.0f);
    EXPECT_FLOAT_EQ(levels[3], 0.75f);
}

TEST(MediaPreviewArguments, NamesReachFFmpegOnlyAsFileOperands)
{
    const QString odd = QStringLiteral("/tmp/-rf 'é x\".mkv");
    const QStringList proxy = proxyArguments(false, odd, std::nullopt, "/tmp/proxy-A.mp4");
    EXPECT_EQ(proxy.first(), "-i");
    EXPECT_EQ(proxy[1], "file:" + odd);
    EXPECT_EQ(proxy.last(), "file:/tmp/proxy-A.mp4");
    EXPECT_TRUE(proxy.contains("0:a:0?"));
    const QStringList audio = proxyArguments(true, odd, std::nullopt, "/tmp/proxy-B.m4a");
    EXPECT_EQ(audio.mid(audio.indexOf("-f"), 2), (QStringList{"-f", "ipod"}));
    EXPECT_FALSE(audio.contains("0:V:0"));
    const QStringList frame = frameArguments(2.5, odd, std::nullopt);
    EXPECT_LT(frame.indexOf("-ss"), frame.indexOf("-i")); // input seeking
    EXPECT_TRUE(frame.contains("file:" + odd));
    EXPECT_TRUE(waveformArguments(odd, std::nullopt).contains("file:" + odd));
}

TEST(MediaPreviewArguments, TheProbedDemuxerComesRightBeforeTheInput)
{
    const QString song = QStringLiteral("/tmp/song.mp3");
    const QStringList input{"-f", "mp3", "-i", "file:" + song};
    const auto readsAsProbed = [&input](const QStringList& arguments) {
        return arguments.mid(arguments.indexOf("-i") - 2, 4) == input;
    };
    EXPECT_TRUE(readsAsProbed(proxyArguments(true, song, QStringLiteral("mp3"), "/tmp/proxy-C.m4a")));
    EXPECT_TRUE(readsAsProbed(proxyArguments(false, song, QStringLiteral("mp3"), "/tmp/proxy-D.mp4")));
    const QStringList frame = frameArguments(1.0, song, QStringLiteral("mp3"));
    EXPECT_TRUE(readsAsProbed(frame));
    EXPECT_LT(frame.indexOf("-ss"), frame.indexOf("-f"));
    EXPECT_TRUE(readsAsProbed(waveformArguments(song, QStringLiteral("mp3"))));
}

TEST(WaveformPeaks, AnMp3BehindJunkIsReadAsItsProbeSaid)
{
    QTemporaryDir dir;
    const QString song = makeAudio(dir.filePath("plain.mp3"), {"sine=frequency=440:duration=6", "-c:a", "libmp3lame"});
    const QUrl junk = QUrl::fromLocalFile(
        test::writeFile(dir.filePath("junk.mp3"), test::amrLookingJunk(20000) + test::readFile(song)));
    const MediaInfo info = probeMediaInfo(junk, std::stop_token());
    ASSERT_EQ(info.demuxer, "mp3");
    const QList<float> levels = readWaveformPeaks(junk, info.demuxer, 6.0, 60, std::stop_token());
    ASSERT_EQ(levels.size(), 60);
    // A steady tone from start to end, not noise.
    const auto [quietest, loudest] = std::minmax_element(levels.begin() + 2, levels.end() - 2);
    EXPECT_EQ(*loudest, 1.0f);
    EXPECT_GT(*quietest, 0.8f);
}
