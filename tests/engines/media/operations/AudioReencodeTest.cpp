#include "engines/media/MediaToolFixture.h"

#include "engines/media/arguments/MediaFilters.h"
#include "engines/media/operations/AudioReencode.h"
#include "engines/media/operations/MediaRingtone.h"
#include "engines/media/operations/MediaSplit.h"
#include "model/errors/EngineError.h"
#include "support/FlacFixtures.h"

using namespace qv;

namespace {

class AudioReencode : public test::MediaTool {
protected:
    // An MP3 with a PNG cover picture.
    QString songWithCover()
    {
        const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=c=red:s=32x32", "-frames:v", "1"});
        return make("song.mp3", {"-f", "lavfi", "-i", "sine=duration=2", "-i", "file:" + cover, "-map", "0:a",
                                 "-map", "1:v", "-c:v", "png", "-disposition:v", "attached_pic", "-id3v2_version",
                                 "4"});
    }

    static double meanVolume(const QString& path, double at)
    {
        QByteArray output;
        test::runProgram(QStringLiteral("bash"),
                         {"-c", "ffmpeg -nostdin -hide_banner -ss " + QString::number(at) + " -t 0.5 -i 'file:" + path
                                    + "' -af volumedetect -f null - 2>&1 | sed -n 's/.*mean_volume: \\(.*\\) dB/\\1/p'"},
                         &output);
        return output.trimmed().isEmpty() ? -999 : output.trimmed().toDouble();
    }
};

} // namespace

TEST_F(AudioReencode, NormalizeKeepsAnMp3sCoverAndWritesId3v23)
{
    const QString placed = normalizeLoudness(input(songWithCover()), "normalized", context, work).toLocalFile();
    EXPECT_EQ(placed, out("song (normalized).mp3"));
    EXPECT_EQ(stream(placed, "v", "codec_name"), "png");
    EXPECT_EQ(stream(placed, "a", "sample_rate"), "44100");
    EXPECT_TRUE(test::readFile(placed).startsWith(QByteArray("ID3\x03", 4)));
}

TEST_F(AudioReencode, NormalizeKeepsTheSourcesRateWhateverTheRateSettingSays)
{
    context.settings.sampleRate = 44100;
    const FileInfo file = input(tone("tone.wav", 1.0, {"-ar", "22050"}));
    const QString placed = normalizeLoudness(file, "normalized", context, work).toLocalFile();
    EXPECT_EQ(placed, out("tone (normalized).wav"));
    EXPECT_EQ(stream(placed, "a", "sample_rate"), "22050");
}

TEST_F(AudioReencode, AFadeWithoutALengthStaysAudible)
{
    // Matroska written live carries no duration.
    const QString source = tone("tone.mka", 10.0, {"-c:a", "flac", "-live", "1"});
    ASSERT_EQ(format(source, "duration"), "N/A");
    const FileInfo file = input(source);
    const QString placed = fadeAudio(file, "faded", context, work, [](const MediaInfo& info) {
                               return QStringList{fadeFilter(info.duration.value_or(0.0), 2.0, 3.0)};
                           }).toLocalFile();
    // Matroska sound is written as M4A, the format of unknown kinds.
    EXPECT_EQ(placed, out("tone (faded).m4a"));
    EXPECT_GT(meanVolume(placed, 6.0), -30.0);
    EXPECT_LT(meanVolume(placed, 0.0), meanVolume(placed, 6.0) - 3);
}

TEST_F(AudioReencode, MonoAndSampleRateChangeWhatTheySay)
{
    const FileInfo file = input(tone("stereo.wav", 1.0, {"-ac", "2", "-ar", "44100"}));
    EXPECT_EQ(stream(makeMono(file, "mono", context, work).toLocalFile(), "a", "channels"), "1");
    const QString resampled = changeSampleRate(file, "48 kHz", context, work, 48000).toLocalFile();
    EXPECT_EQ(resampled, out("stereo (48 kHz).wav"));
    EXPECT_EQ(stream(resampled, "a", "sample_rate"), "48000");
}

TEST_F(AudioReencode, CompressingFlacGivesAnM4aWithItsSaving)
{
    const FileInfo file = input(make("song.flac", {"-f", "lavfi", "-i", "anoisesrc=duration=3:amplitude=0.3"}));
    const QString placed = compressAudio(file, context, work).toLocalFile();
    EXPECT_EQ(placed, out("song (compressed).m4a"));
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
    ASSERT_EQ(notes().size(), 1);
    EXPECT_TRUE(notes().first().endsWith(" % smaller"));
}

TEST_F(AudioReencode, ACompressionThatGrowsIsNeverPlaced)
{
    const FileInfo file = input(tone("small.mp3", 2.0, {"-b:a", "32k"}));
    try {
        compressAudio(file, context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Already as small as it gets");
    }
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(AudioReencode, ARingtoneIsAtMostFortySeconds)
{
    context.options.trimStart = 10.0;
    const QString placed = makeRingtone(input(tone("song60.mp3", 60.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out("song60.m4r"));
    EXPECT_NEAR(duration(placed), 40.0, 0.1);
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
}

TEST_F(AudioReencode, SilenceOfAVideoIsRefused)
{
    try {
        makeMono(input(clip("silent.mp4", 1.0, "160x120", {"-an"})), "mono", context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file has no audio");
    }
}


// A DSD file decodes at 352.8 kHz, which the filter's own rate then asked of the AAC encoder
// ("Specified sample rate 352800 is not supported"): it goes to the nearest rate the encoder
// takes and lasts what the source does.
TEST_F(AudioReencode, NormalizeOfADsdFileFinishesAtARateItsEncoderTakes)
{
    const QString source = test::writeFile(dir.filePath("in/tone.dsf"), dsfTone(2.0));
    ASSERT_EQ(stream(source, "a", "sample_rate"), "352800");
    const QString placed = normalizeLoudness(input(source), "normalized", context, work).toLocalFile();
    EXPECT_EQ(placed, out("tone (normalized).m4a"));
    EXPECT_EQ(stream(placed, "a", "sample_rate"), "96000");
    EXPECT_NEAR(format(placed, "duration").toDouble(), 2.0, 0.1);
    EXPECT_GT(meanVolume(placed, 0.5), -30.0);
}

// A span flipped in the middle of a FLAC leaves frames its parser still takes: of a second's
// tone, it loses a third of the sound without a word; of three seconds, its time runs backwards.
// Every sound target and the tools that read it fail, never a shorter or a jumbled result.
TEST_F(AudioReencode, AFlacWithDamagedFramesFailsForEveryTarget)
{
    const QString damage = QStringLiteral("This file is damaged or not in a supported format");
    const auto failure = [](const auto& call) {
        try {
            call();
        } catch (const EngineError& error) {
            return error.message();
        }
        return QStringLiteral("<finished>");
    };
    for (const double seconds : {1.0, 3.0}) {
        SCOPED_TRACE(seconds);
        const QString whole = tone(QStringLiteral("whole-%1.flac").arg(seconds), seconds, {"-c:a", "flac"});
        QByteArray bytes = test::readFile(whole);
        const qsizetype middle = bytes.size() / 2;
        for (qsizetype i = middle; i < middle + std::min<qsizetype>(4096, bytes.size() / 8); ++i)
            bytes[i] = char(bytes[i] ^ 0x5A);
        const FileInfo file =
            input(test::writeFile(dir.filePath(QStringLiteral("in/damaged-%1.flac").arg(seconds)), bytes));
        for (const AudioTarget target : allAudioTargets()) {
            EXPECT_EQ(failure([&] { convertAudio(file, target, context, work); }), damage)
                << audioTargetRawValue(target).toStdString();
        }
        EXPECT_EQ(failure([&] { normalizeLoudness(file, QStringLiteral("normalized"), context, work); }), damage);
        EXPECT_EQ(failure([&] { splitMedia(file, context, work); }), damage);
    }
    EXPECT_EQ(outputs(), QStringList());
}

// A FLAC cut from its header (a stream that starts at a frame) has no checksum to hold its
// samples to: damage that sends its time backwards is found by decoding it, where Normalize's
// filter hid it and the result finished.
TEST_F(AudioReencode, AFlacWithoutItsHeaderIsHeldToTheOrderOfItsFrames)
{
    const QString whole = tone(QStringLiteral("whole.flac"), 3.0, {"-c:a", "flac"});
    QByteArray bytes = test::readFile(whole);
    // Past "fLaC" and every metadata block, to the first frame.
    qsizetype at = 4;
    for (bool last = false; !last && at + 4 <= bytes.size();) {
        last = (quint8(bytes[at]) & 0x80) != 0;
        at += 4 + ((quint8(bytes[at + 1]) << 16) | (quint8(bytes[at + 2]) << 8) | quint8(bytes[at + 3]));
    }
    ASSERT_LT(at, bytes.size());
    ASSERT_EQ(quint8(bytes[at]), 0xFF);
    const QByteArray frames = bytes.mid(at);
    const FileInfo headless = input(test::writeFile(dir.filePath(QStringLiteral("in/headless.flac")), frames));
    QByteArray flipped = frames;
    const qsizetype middle = flipped.size() / 2;
    for (qsizetype i = middle; i < middle + std::min<qsizetype>(4096, flipped.size() / 8); ++i)
        flipped[i] = char(flipped[i] ^ 0x5A);
    const FileInfo damaged = input(test::writeFile(dir.filePath(QStringLiteral("in/flipped.flac")), flipped));
    // The oracle: FFmpeg's own muxer sees its time go backwards.
    QByteArray said;
    test::runProgram("ffmpeg", {"-v", "error", "-i", damaged.path(), "-f", "null", "-"}, &said);
    ASSERT_TRUE(said.contains("non monotonically increasing dts")) << said.constData();

    EXPECT_EQ(test::failureOf([&] { normalizeLoudness(damaged, QStringLiteral("normalized"), context, work); }),
              QStringLiteral("This file is damaged or not in a supported format"));
    EXPECT_EQ(outputs(), QStringList());
    const QString placed = normalizeLoudness(headless, QStringLiteral("normalized"), context, work).toLocalFile();
    EXPECT_NEAR(duration(placed), 3.0, 0.1);
}

// FFmpeg decodes 12 and 20 bits shifted to 16 and 32, and 8 bits into 16: every depth is held
// to its own checksum, not only 16 and 24. One wrong byte in it is damage; right, it converts.
TEST_F(AudioReencode, FlacsOfEveryDepthAreHeldToTheirChecksum)
{
    for (const int bits : {8, 12, 16, 20, 24}) {
        SCOPED_TRACE(bits);
        const QByteArray whole = test::verbatimFlac(bits);
        QByteArray wrong = whole;
        wrong[test::flacMd5Offset + 7] = char(wrong[test::flacMd5Offset + 7] ^ 0x01);
        const FileInfo intact =
            input(test::writeFile(dir.filePath(QStringLiteral("in/depth-%1.flac").arg(bits)), whole));
        const QString placed = convertAudio(intact, AudioTarget::wav, context, work).toLocalFile();
        EXPECT_NEAR(duration(placed), 2048.0 / 8000.0, 0.01);
        const FileInfo damaged =
            input(test::writeFile(dir.filePath(QStringLiteral("in/wrong-%1.flac").arg(bits)), wrong));
        try {
            convertAudio(damaged, AudioTarget::wav, context, work);
            ADD_FAILURE() << "a FLAC whose samples differ from its MD5 converted";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), QStringLiteral("This file is damaged or not in a supported format"));
        }
    }
    EXPECT_EQ(outputs().size(), 5);
}

// Opus takes more than two channels only in the layouts its mapping family names: a 5.0 or
// 5.1 whose surrounds are at the sides goes to the back, channel for channel; Mono of the
// result is one channel, whatever layout the target would have named for the source.
TEST_F(AudioReencode, SurroundSoundKeepsItsChannelsInOpusAndMonoMakesOne)
{
    for (const auto& [layout, channels] : {std::pair{"5.0(side)", "5"}, std::pair{"5.1(side)", "6"}}) {
        SCOPED_TRACE(layout);
        const QString expression = QString::fromLatin1(channels) == "5" ? "0|0|0|sin(2*PI*440*t)|0"
                                                                        : "0|0|0|0|sin(2*PI*440*t)|0";
        const QString source = make(QStringLiteral("surround-%1.wav").arg(channels),
                                    {"-f", "lavfi", "-i", "aevalsrc=" + expression + ":c=" + layout + ":s=48000:d=1"});
        const QString opus = convertAudio(input(source), AudioTarget::opus, context, work).toLocalFile();
        EXPECT_EQ(stream(opus, "a", "channels"), QByteArray(channels));
        QByteArray volume;
        test::runProgram(QStringLiteral("bash"),
                         {"-c", "ffmpeg -nostdin -i 'file:" + opus
                                    + "' -af 'pan=mono|c0=BL,volumedetect' -f null - 2>&1 | sed -n 's/.*mean_volume: \\(.*\\) dB/\\1/p'"},
                         &volume);
        EXPECT_GT(volume.trimmed().toDouble(), -10.0) << "the side's tone is at the back";
        const QString mono = makeMono(input(opus), "mono", context, work).toLocalFile();
        EXPECT_EQ(stream(mono, "a", "channels"), "1");
    }
}

// MP4 and FLAC hold JPEG and PNG covers only: a GIF cover becomes a PNG, never a failure, in
// every sound a conversion or a tool writes.
TEST_F(AudioReencode, ACoverOfAnotherPictureFormatIsKeptAsAPng)
{
    const QString gif = make("cover.gif", {"-f", "lavfi", "-i", "color=c=red:s=16x16", "-frames:v", "1"});
    const QString song = make("gif-cover.mp3", {"-f", "lavfi", "-i", "sine=duration=1", "-i", "file:" + gif, "-map",
                                                "0:a", "-map", "1:v", "-c:v", "copy", "-disposition:v", "attached_pic",
                                                "-id3v2_version", "3"});
    ASSERT_EQ(stream(song, "v", "codec_name"), "gif");
    for (const AudioTarget target : {AudioTarget::m4a, AudioTarget::alac, AudioTarget::flac}) {
        SCOPED_TRACE(audioTargetRawValue(target).toStdString());
        const QString placed = convertAudio(input(song), target, context, work).toLocalFile();
        EXPECT_EQ(stream(placed, "v", "codec_name"), "png");
        QFile::remove(placed);
    }
    const QString faded = fadeAudio(input(song), "faded", context, work, {}).toLocalFile();
    EXPECT_EQ(stream(faded, "v", "codec_name"), "png");
}

// A cover is copied, never decoded by the run: one whose picture is damaged is left out, with
// a note, rather than carried into every result; the sound is whole and converts.
TEST_F(AudioReencode, ADamagedCoverIsLeftOutWithANote)
{
    const QString jpeg = make("cover.jpg", {"-f", "lavfi", "-i", "testsrc2=s=64x64", "-frames:v", "1"});
    QByteArray bytes = test::readFile(jpeg);
    for (qsizetype i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i)
        bytes[i] = char(bytes[i] ^ 0x5A);
    test::writeFile(jpeg, bytes);
    const QString song = make("damaged-cover.mp3", {"-f", "lavfi", "-i", "sine=duration=1", "-i", "file:" + jpeg, "-map",
                                                    "0:a", "-map", "1:v", "-c:v", "copy", "-disposition:v",
                                                    "attached_pic", "-id3v2_version", "3"});
    const QString placed = convertAudio(input(song), AudioTarget::m4a, context, work).toLocalFile();
    EXPECT_EQ(stream(placed, "v", "codec_name"), QByteArray());
    EXPECT_NEAR(duration(placed), 1.0, 0.1);
    EXPECT_EQ(notes(), QStringList{"The cover picture of \u201Cdamaged-cover.mp3\u201D is damaged and was left out"});
    const QString faded = fadeAudio(input(song), "faded", context, work, {}).toLocalFile();
    EXPECT_EQ(stream(faded, "v", "codec_name"), QByteArray());
}
