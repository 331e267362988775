#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaMerge.h"
#include "engines/media/probe/IsoMediaFile.h"
#include "model/errors/EngineError.h"
#include "platform/files/TemporaryRoot.h"
#include "support/FlacFixtures.h"

using namespace qv;

namespace {

class MediaMerge : public test::MediaTool {
protected:
    QList<FileInfo> inputs(const QStringList& paths)
    {
        QList<FileInfo> files;
        for (const QString& path : paths)
            files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
        work.baseName = files.first().baseName;
        return files;
    }

    // Mean luma of an 8x8 block at (x, y) of the frame at `seconds`.
    static int luma(const QString& path, double seconds, int x, int y)
    {
        QByteArray raw;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                                   {"-nostdin", "-v", "error", "-ss", QString::number(seconds), "-i", "file:" + path,
                                    "-frames:v", "1", "-vf", QString("crop=8:8:%1:%2,format=gray").arg(x).arg(y),
                                    "-f", "rawvideo", "-"},
                                   &raw),
                  0);
        if (raw.isEmpty())
            return -1;
        int sum = 0;
        for (char c : raw)
            sum += quint8(c);
        return sum / int(raw.size());
    }
};

} // namespace

TEST(MediaMergeLayout, RotationCountsAsLayout)
{
    MediaInfo upright;
    upright.video = VideoStreamInfo{};
    upright.video->codec = "h264";
    upright.video->width = 160;
    upright.video->height = 120;
    upright.audio = AudioStreamInfo{};
    upright.audio->codec = "aac";
    upright.audio->sampleRate = 44100;
    upright.audio->channels = 1;
    MediaInfo turned = upright;
    turned.video->rotation = 90;
    MediaInfo faster = upright;
    faster.video->fps = 60.0;
    EXPECT_TRUE(streamsMatchFirst(faster, {upright, faster}));
    EXPECT_FALSE(streamsMatchFirst(turned, {upright, turned}));
    MediaInfo silent = upright;
    silent.audio.reset();
    EXPECT_FALSE(streamsMatchFirst(silent, {upright, silent}));
}

TEST_F(MediaMerge, ClipsOfOneLayoutJoinByCopyEvenWithAwkwardNames)
{
    const QString a = clip("it's a\nclip.mp4", 1.0);
    const QString b = clip("b.mp4", 2.0);
    const QString placed = mergeMedia(inputs({a, b}), context, work).toLocalFile();
    EXPECT_EQ(placed, out("it's a\nclip (merged).mp4"));
    EXPECT_NEAR(duration(placed), 3.0, 0.15);
    EXPECT_EQ(stream(placed, "v", "codec_name,profile,width,height"), stream(a, "v", "codec_name,profile,width,height"));
    EXPECT_EQ(stream(placed, "a", "codec_name,sample_rate,channels"), stream(a, "a", "codec_name,sample_rate,channels"));
    // Copied, not encoded: the clips' packets follow each other unchanged.
    const auto sizes = [](const QString& path) {
        return probe({"-select_streams", "v", "-show_entries", "packet=size", "-of", "csv=p=0", "file:" + path})
            .split('\n');
    };
    // The first packet of each may gain its parameter sets.
    const QList<QByteArray> first = sizes(a);
    const QList<QByteArray> joined = sizes(placed);
    ASSERT_EQ(joined.size(), first.size() + sizes(b).size());
    EXPECT_EQ(joined.mid(1, first.size() - 1), first.mid(1));
}

// Each packet's size and checksum, in order.
static QByteArrayList videoPackets(const QString& path)
{
    QByteArray listed;
    EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + path, "-map", "0:v",
                                                          "-c", "copy", "-f", "framemd5", "-"},
                               &listed),
              0);
    QByteArrayList packets;
    for (const QByteArray& line : listed.split('\n')) {
        const QByteArrayList fields = line.split(',');
        if (!line.startsWith('#') && fields.size() == 6)
            packets.append(fields[4].trimmed() + ' ' + fields[5].trimmed());
    }
    return packets;
}

TEST_F(MediaMerge, ClipsWithTheFirstOnesParameterSetsJoinPacketForPacket)
{
    const QString a = clip("a.mp4", 1.0);
    const QString b = clip("b.mp4", 2.0);
    ASSERT_EQ(IsoMediaFile::videoDecoderConfig(a), IsoMediaFile::videoDecoderConfig(b));
    ASSERT_TRUE(IsoMediaFile::videoDecoderConfig(a));
    const QString placed = mergeMedia(inputs({a, b}), context, work).toLocalFile();
    const QByteArrayList joined = videoPackets(placed);
    ASSERT_FALSE(joined.isEmpty());
    EXPECT_EQ(joined, videoPackets(a) + videoPackets(b));
    EXPECT_NEAR(duration(placed), 3.0, 0.15);
}

// A clip of other parameter sets brings them along: its pictures decode as they were.
TEST_F(MediaMerge, AClipOfOtherParameterSetsCarriesThemIntoTheJoin)
{
    const QString a = clip("a.mp4", 1.0);
    const QString b = clip("b.mp4", 1.0, "160x120", {"-x264-params", "cabac=1"});
    ASSERT_TRUE(IsoMediaFile::videoDecoderConfig(b));
    ASSERT_NE(IsoMediaFile::videoDecoderConfig(a), IsoMediaFile::videoDecoderConfig(b));
    const QString placed = mergeMedia(inputs({a, b}), context, work).toLocalFile();
    const QByteArrayList joined = videoPackets(placed);
    const QByteArrayList first = videoPackets(a);
    const QByteArrayList second = videoPackets(b);
    ASSERT_EQ(joined.size(), first.size() + second.size());
    EXPECT_NE(joined[first.size()], second.first()) << "the second clip's first packet holds its sets";
    EXPECT_EQ(joined.mid(first.size() + 1), second.mid(1));
    // Its last picture decodes to what it did alone.
    const auto lastFrame = [](const QString& path) {
        QByteArray listed;
        EXPECT_EQ(test::runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-i", "file:" + path, "-map",
                                                              "0:v", "-f", "framemd5", "-"},
                                   &listed),
                  0);
        return listed.trimmed().split('\n').last().split(',').last().trimmed();
    };
    EXPECT_EQ(lastFrame(placed), lastFrame(b));
}

TEST_F(MediaMerge, ATurnedClipJoinsUprightBetweenBars)
{
    const QString upright = clip("upright.mp4", 1.0);
    const QString encoded = clip("raw.mp4", 1.0);
    const QString turned = make("phone.mp4", {"-i", "file:" + encoded, "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    ASSERT_TRUE(stream(turned, "v", "width").startsWith("160"));
    const QString placed = mergeMedia(inputs({upright, turned}), context, work).toLocalFile();
    EXPECT_EQ(placed, out("upright (merged).mp4"));
    EXPECT_EQ(stream(placed, "v", "codec_name,profile,width,height,r_frame_rate"), "h264,High,160,120,30/1");
    EXPECT_EQ(stream(placed, "a", "codec_name,sample_rate,channels"), "aac,48000,2");
    EXPECT_NEAR(duration(placed), 2.0, 0.15);
    // The turned clip stands 90 wide in 160: black bars left and right, picture in the middle.
    EXPECT_LT(luma(placed, 1.5, 0, 56), 24);
    EXPECT_LT(luma(placed, 1.5, 152, 56), 24);
    EXPECT_GT(luma(placed, 0.5, 0, 56), 24);
}

TEST_F(MediaMerge, SoundsOfTwoFormatsBecomeTheFirstOnesAt48kHzStereo)
{
    const QString mp3 = tone("first.mp3", 1.0, {"-ar", "44100"});
    const QString wav = tone("second.wav", 1.0, {"-ar", "22050"});
    const QString placed = mergeMedia(inputs({mp3, wav}), context, work).toLocalFile();
    EXPECT_EQ(placed, out("first (merged).mp3"));
    EXPECT_EQ(stream(placed, "a", "codec_name,sample_rate,channels"), "mp3,48000,2");
    EXPECT_NEAR(duration(placed), 2.0, 0.15);
}

TEST_F(MediaMerge, AWorkFolderWithUrlCharactersStillJoins)
{
    const QString odd = dir.filePath("odd?name#1");
    ASSERT_TRUE(QDir().mkpath(odd));
    work.workFolder = [odd](const QString& name) {
        EXPECT_TRUE(QDir(odd).mkpath(name));
        return QUrl::fromLocalFile(odd + "/" + name);
    };
    const QString a = clip("a.mp4", 1.0);
    const QString placed = mergeMedia(inputs({a, clip("b.mp4", 1.0)}), context, work).toLocalFile();
    EXPECT_NEAR(duration(placed), 2.0, 0.15);
    // The link that reached the list is gone again.
    EXPECT_EQ(QDir(appTemporaryRoot().toLocalFile()).entryList({"concat-*"}, QDir::AllEntries | QDir::System),
              QStringList());
}

// FLACs of one layout join by copying their packets, which are never decoded: each is decoded
// and held to its checksum first.
TEST_F(MediaMerge, SoundsJoinedByCopyAreDecodedFirst)
{
    const QByteArray whole = test::verbatimFlac(16);
    QByteArray wrong = whole;
    wrong[test::flacMd5Offset] = char(wrong[test::flacMd5Offset] ^ 0x01);
    const QString first = test::writeFile(dir.filePath("in/first.flac"), whole);
    const QString second = test::writeFile(dir.filePath("in/second.flac"), whole);
    const QString damaged = test::writeFile(dir.filePath("in/damaged.flac"), wrong);
    try {
        mergeMedia(inputs({first, damaged}), context, work);
        ADD_FAILURE() << "a FLAC whose samples differ from its MD5 was joined";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("This file is damaged or not in a supported format"));
    }
    EXPECT_EQ(outputs(), QStringList());
    QString placed;
    try {
        placed = mergeMedia(inputs({first, second}), context, work).toLocalFile();
    } catch (const EngineError& error) {
        FAIL() << error.log().toStdString();
    }
    EXPECT_EQ(placed, out("first (merged).flac"));
    EXPECT_NEAR(duration(placed), 4096.0 / 8000.0, 0.01);
}

// A FLAC's and a WavPack's frames count their own place, and a Vorbis stream brings its own
// codebooks: their packets joined by copy decode to the first sound alone, or to noise after it.
// Each pair joins whole, in its own format, and its second half is the second sound.
TEST_F(MediaMerge, SoundsWhosePacketsDoNotJoinAreJoinedThroughTheDecoder)
{
    struct Pair {
        const char* extension;
        QStringList first, second;
    };
    const QList<Pair> pairs{{"flac", {"-c:a", "flac"}, {"-c:a", "flac"}},
                            {"wv", {"-c:a", "wavpack"}, {"-c:a", "wavpack"}},
                            {"ogg", {"-c:a", "libvorbis", "-q:a", "2"}, {"-c:a", "libvorbis", "-q:a", "8"}}};
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.extension);
        const QString ext = QString::fromLatin1(pair.extension);
        const QString a = tone("a." + ext, 1.0, pair.first);
        const QString b = make("b." + ext, QStringList{"-f", "lavfi", "-i", "sine=frequency=880:duration=1"} + pair.second);
        const QString placed = mergeMedia(inputs({a, b}), context, work).toLocalFile();
        // WavPack joined through the decoder becomes the app's lossless sound, as any merge of it.
        EXPECT_EQ(QFileInfo(placed).completeBaseName(), QStringLiteral("a (merged)"));
        if (ext != QLatin1String("wv")) {
            EXPECT_EQ(QFileInfo(placed).suffix(), ext);
        }
        QByteArray log;
        test::runProgram(QStringLiteral("bash"),
                         {"-c", "ffmpeg -nostdin -v warning -i 'file:" + placed + "' -f null - 2>&1"}, &log);
        EXPECT_EQ(log.trimmed(), QByteArray());
        // As a player times it: by its frames' times, not only by its samples.
        QByteArray decoded;
        test::runProgram(QStringLiteral("bash"),
                         {"-c", "ffmpeg -nostdin -i 'file:" + placed + "' -f null - 2>&1 | grep -o 'time=00:00:[0-9.]*' | tail -1"},
                         &decoded);
        EXPECT_NEAR(decoded.trimmed().mid(11).toDouble(), 2.0, 0.1) << decoded.toStdString();
        QByteArray volume;
        test::runProgram(QStringLiteral("bash"),
                         {"-c", "ffmpeg -nostdin -ss 1.2 -t 0.5 -i 'file:" + placed
                                    + "' -af volumedetect -f null - 2>&1 | sed -n 's/.*mean_volume: \\(.*\\) dB/\\1/p'"},
                         &volume);
        EXPECT_GT(volume.trimmed().toDouble(), -30.0) << volume.toStdString();
        QFile::remove(placed);
    }
    // Sounds whose packets do join are still joined by copy: at their own rate, not at 48 kHz.
    // (AAC's priming overlaps the sound before it, so M4A joins through the decoder too.)
    for (const char* ext : {"mp3", "wav", "opus"}) {
        SCOPED_TRACE(ext);
        const QStringList layout{"-ar", QString::fromLatin1(ext) == "opus" ? "24000" : "22050"};
        const QString a = tone(QStringLiteral("c.") + ext, 1.0, layout);
        const QString b = tone(QStringLiteral("d.") + ext, 1.0, layout);
        const QString placed = mergeMedia(inputs({a, b}), context, work).toLocalFile();
        EXPECT_EQ(stream(placed, "a", "sample_rate"), stream(a, "a", "sample_rate"));
        EXPECT_NEAR(duration(placed), 2.0, 0.2);
    }
}
