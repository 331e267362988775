#include "engines/media/operations/ImagesToVideo.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "model/operations/Progress.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUuid>

using namespace qv;

namespace {

class ImagesToVideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the tests need ffmpeg";
        ASSERT_TRUE(dir.isValid());
        for (const char* folder : {"in", "work", "out"})
            ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
        work.progress = &progress;
        work.workFile = [this](const QString& extension) {
            return QUrl::fromLocalFile(
                dir.filePath("work/" + QUuid::createUuid().toString(QUuid::WithoutBraces) + "." + extension));
        };
        work.workFolder = [this](const QString& name) {
            EXPECT_TRUE(QDir(dir.filePath("work")).mkpath(name));
            return QUrl::fromLocalFile(dir.filePath("work/" + name));
        };
        work.place = [this](const QUrl& file, const QString& extension) {
            const QString target = dir.filePath("out/anim." + extension);
            EXPECT_TRUE(QFile::rename(file.toLocalFile(), target));
            return QUrl::fromLocalFile(target);
        };
    }

    // FFmpeg's test pattern as an animation of `frames` frames, 40 ms each.
    QString animation(const QString& name, int frames = 12, const QString& size = "120x80")
    {
        const QString path = dir.filePath("in/" + name);
        const QString codec = name.endsWith(".gif") ? "gif" : "libwebp_anim";
        EXPECT_EQ(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                              "testsrc2=size=" + size + ":rate=25", "-frames:v",
                                              QString::number(frames), "-c:v", codec, "-loop", "0", "file:" + path}),
                  0);
        return path;
    }

    static FileInfo image(const QString& path)
    {
        FileInfo info;
        info.url = QUrl::fromLocalFile(path);
        info.category = FileCategory::image;
        info.ext = QFileInfo(path).suffix();
        info.format = formatForExtension(info.ext);
        return info;
    }

    static QString probe(const QString& path, const QString& entries)
    {
        QByteArray output;
        EXPECT_EQ(test::runProgram("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries", entries,
                                               "-of", "csv=p=0", "file:" + path},
                                   &output),
                  0);
        return QString::fromUtf8(output).trimmed();
    }

    QStringList placed() const { return QDir(dir.filePath("out")).entryList(QDir::Files); }

    QTemporaryDir dir;
    OperationContext context;
    Progress progress{100};
    MediaWork work;
};

} // namespace

TEST(ImagesToVideoArguments, EachTargetHasItsEncoder)
{
    const QStringList mp4 = imagesToVideoTargetArgs(VideoTarget::mp4, QSize(480, 270));
    EXPECT_TRUE(mp4.join(' ').contains("-c:v libx264")) << mp4.join(' ').toStdString();
    EXPECT_TRUE(mp4.join(' ').contains("-b:v 388k"));
    EXPECT_TRUE(mp4.join(' ').contains("scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)',format=yuv420p"));
    EXPECT_TRUE(mp4.join(' ').endsWith("-movflags +faststart -fps_mode vfr -f mp4"));
    EXPECT_TRUE(imagesToVideoTargetArgs(VideoTarget::mov, QSize(100, 100)).join(' ').contains("-b:v 300k"));
    EXPECT_TRUE(imagesToVideoTargetArgs(VideoTarget::mkv, QSize(100, 100)).join(' ').endsWith("-f matroska"));

    const QString hevc = imagesToVideoTargetArgs(VideoTarget::hevc, QSize(480, 270)).join(' ');
    EXPECT_TRUE(hevc.contains("-c:v libx265")) << hevc.toStdString();
    EXPECT_TRUE(hevc.contains("-tag:v hvc1"));
    EXPECT_TRUE(hevc.contains("-pix_fmt yuv420p"));
    EXPECT_TRUE(hevc.endsWith("-f mp4"));

    const QString prores = imagesToVideoTargetArgs(VideoTarget::prores, QSize(480, 270)).join(' ');
    EXPECT_TRUE(prores.contains("format=yuv422p10le")) << prores.toStdString();
    EXPECT_TRUE(prores.contains("-c:v prores_ks -profile:v standard"));
    EXPECT_TRUE(prores.endsWith("-f mov"));

    EXPECT_EQ(imagesToVideoTargetArgs(VideoTarget::webm, QSize(10, 10)),
              (QStringList{"-an", "-vf", "scale='max(2,trunc(iw/2)*2)':'max(2,trunc(ih/2)*2)'", "-c:v", "libvpx-vp9", "-crf", "32",
                           "-b:v", "0", "-row-mt", "1", "-deadline", "good", "-cpu-used", "3", "-pix_fmt",
                           "yuv420p", "-f", "webm"}));
    EXPECT_EQ(imagesToVideoTargetArgs(VideoTarget::webp, QSize(10, 10)),
              (QStringList{"-an", "-c:v", "libwebp_anim", "-quality", "80", "-loop", "0", "-f", "webp"}));
}

TEST_F(ImagesToVideoTest, AnAnimatedGIFBecomesH264AndWithTheHEVCTargetHEVC)
{
    const QString gif = animation("anim.gif", 12, "121x81");
    const QString mp4 = imagesToVideo(image(gif), VideoTarget::mp4, context, work).toLocalFile();
    EXPECT_TRUE(mp4.endsWith("/anim.mp4"));
    EXPECT_EQ(probe(mp4, "stream=codec_name,width,height,pix_fmt"), "h264,120,80,yuv420p");
    EXPECT_EQ(progress.fractionCompleted(), 1.0);
    QFile::remove(mp4);

    const QString hevc = imagesToVideo(image(gif), VideoTarget::hevc, context, work).toLocalFile();
    EXPECT_TRUE(hevc.endsWith("/anim.mp4"));
    EXPECT_EQ(probe(hevc, "stream=codec_name,codec_tag_string,pix_fmt"), "hevc,hvc1,yuv420p");
    // FFmpeg read the GIF itself: no frame folder.
    EXPECT_FALSE(QFile::exists(dir.filePath("work/frames")));
}

TEST_F(ImagesToVideoTest, AnAnimatedWebPGoesThroughFramesIntoWebMWithItsTiming)
{
    const QString webp = animation("anim.webp", 25);
    const QString webm = imagesToVideo(image(webp), VideoTarget::webm, context, work).toLocalFile();
    EXPECT_TRUE(webm.endsWith("/anim.webm"));
    EXPECT_EQ(probe(webm, "stream=codec_name,width,height"), "vp9,120,80");
    QByteArray duration;
    ASSERT_EQ(test::runProgram("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0",
                                           "file:" + webm},
                               &duration),
              0);
    EXPECT_NEAR(duration.trimmed().toDouble(), 1.0, 0.05);
    EXPECT_TRUE(QFile::exists(dir.filePath("work/frames/frames.ffconcat")));
    EXPECT_TRUE(QFile::exists(dir.filePath("work/frames/frame00024.png")));
}

TEST_F(ImagesToVideoTest, ProResIsTenBit422)
{
    // Without a folder maker the frames go beside the work files.
    work.workFolder = nullptr;
    const QString webp = animation("anim.webp", 5);
    const QString mov = imagesToVideo(image(webp), VideoTarget::prores, context, work).toLocalFile();
    EXPECT_TRUE(mov.endsWith("/anim.mov"));
    EXPECT_EQ(probe(mov, "stream=codec_name,profile,pix_fmt"), "prores,Standard,yuv422p10le");
    const QStringList folders = QDir(dir.filePath("work")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(folders.size(), 1);
    EXPECT_TRUE(QFile::exists(dir.filePath("work/" + folders.first() + "/frame00004.png")));
}

TEST_F(ImagesToVideoTest, TheGIFTargetNeedsNoFFmpeg)
{
    work.ffmpeg = std::optional<QUrl>();
    const QString webp = animation("anim.webp", 3);
    const QString gif = imagesToVideo(image(webp), VideoTarget::gif, context, work).toLocalFile();
    EXPECT_TRUE(gif.endsWith("/anim.gif"));
    QByteArray pages;
    ASSERT_EQ(test::runProgram("vipsheader", {"-f", "n-pages", gif}, &pages), 0);
    EXPECT_EQ(pages.trimmed(), "3");

    try {
        imagesToVideo(image(webp), VideoTarget::mp4, context, work);
        FAIL() << "ran without FFmpeg";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "FFmpeg is missing from this copy of Quorvenda");
    }
    EXPECT_EQ(placed(), QStringList{"anim.gif"});
}

TEST_F(ImagesToVideoTest, ConvertVideoHandsImagesOver)
{
    const QString gif = animation("anim.gif", 6);
    const QString mkv = convertVideo(image(gif), VideoTarget::mkv, context, work).toLocalFile();
    EXPECT_TRUE(mkv.endsWith("/anim.mkv"));
    EXPECT_EQ(probe(mkv, "stream=codec_name"), "h264");
}

TEST_F(ImagesToVideoTest, BadInputAndStopsPlaceNothing)
{
    const QString junk = test::writeFile(dir.filePath("in/junk.webp"), "RIFF....WEBPVP8 broken");
    try {
        imagesToVideo(image(junk), VideoTarget::mp4, context, work);
        FAIL() << "a broken image was encoded";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file is damaged or not in a supported format");
    }

    std::stop_source stop;
    stop.request_stop();
    context.stopToken = stop.get_token();
    EXPECT_THROW(imagesToVideo(image(animation("anim.webp", 3)), VideoTarget::mp4, context, work),
                 CancellationError);
    EXPECT_THROW(imagesToVideo(image(animation("anim.gif", 3)), VideoTarget::mp4, context, work),
                 CancellationError);
    EXPECT_TRUE(placed().isEmpty());
}
