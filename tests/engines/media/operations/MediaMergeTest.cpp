#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaMerge.h"
#include "platform/files/TemporaryRoot.h"

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
