#include "catalogue/lists/AnimatedImageCatalogue.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/operations/FileOperation.h"
#include "model/operations/JobNotes.h"
#include "model/operations/Progress.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace qv;

namespace {

FileInfo imageFile(const QString& ext, int frames)
{
    FileInfo file;
    file.category = FileCategory::image;
    file.ext = ext;
    file.format = formatForExtension(ext);
    file.frameCount = frames;
    return file;
}

class AnimatedImageCatalogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        savedCache = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("cache")));
        ASSERT_TRUE(QDir().mkpath(dir.filePath("in")));
    }

    void TearDown() override { qputenv("XDG_CACHE_HOME", savedCache); }

    QString animation(const QString& name)
    {
        const QString path = dir.filePath("in/" + name);
        const QString codec = name.endsWith(".gif") ? "gif" : "libwebp_anim";
        EXPECT_EQ(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                              "testsrc2=size=96x64:rate=25", "-frames:v", "10", "-c:v", codec,
                                              "-loop", "0", "file:" + path}),
                  0);
        return path;
    }

    FileInfo info(const QString& path) const
    {
        FileInfo file = imageFile(QFileInfo(path).suffix(), 10);
        file.url = QUrl::fromLocalFile(path);
        file.name = QFileInfo(path).fileName();
        file.baseName = QFileInfo(path).completeBaseName();
        return file;
    }

    // Runs a descriptor's operation on one file as the job engine does: made with the item's
    // context, run with the item's planner; the work directory goes when the item ends.
    QList<QUrl> run(const OperationDescriptor& descriptor, const QString& path)
    {
        OperationContext context;
        context.files = {info(path)};
        context.notes = std::make_shared<JobNotes>();
        OutputPlanner planner(QUrl::fromLocalFile(path), settings, context.notes);
        Progress progress(100);
        workDirectory = planner.workDirectory().toLocalFile();
        const QList<QUrl> results = descriptor.make(context)->run({QUrl::fromLocalFile(path)}, planner, progress);
        EXPECT_EQ(progress.fractionCompleted(), 1.0);
        planner.removeWorkDirectory();
        return results;
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

    QTemporaryDir dir;
    QByteArray savedCache;
    SettingsSnapshot settings;
    QString workDirectory;
};

} // namespace

TEST(AnimatedImageCatalogue, TheVideoRowsAreOfferedForAnimationsOnly)
{
    const QList<OperationDescriptor> rows = animatedImageVideoConversions();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0].id, "convert.image.mp4");
    EXPECT_EQ(rows[1].id, "convert.image.webm");
    for (const OperationDescriptor& row : rows) {
        EXPECT_EQ(row.wheel, WheelKind::convert);
        EXPECT_EQ(row.categories, QSet<FileCategory>{FileCategory::image});
        EXPECT_EQ(row.engine, EngineID::of(EngineID::Kind::ffmpeg));
        EXPECT_EQ(row.lane, JobLane::cpu);
        EXPECT_EQ(row.multiFile, MultiFileMode::each);
        EXPECT_TRUE(row.optionFields.isEmpty());
        EXPECT_TRUE(row.make);
        EXPECT_TRUE(row.accepts(imageFile("gif", 2)));
        EXPECT_TRUE(row.accepts(imageFile("webp", 30)));
        EXPECT_FALSE(row.accepts(imageFile("gif", 1)));
        EXPECT_FALSE(row.accepts(imageFile("jpg", 1)));
    }
    EXPECT_EQ(rows[0].title, "MP4");
    EXPECT_EQ(rows[0].verb, "Converting to MP4");
    EXPECT_EQ(rows[0].outputExtension, "mp4");
    EXPECT_EQ(rows[1].title, "WEBM");
    EXPECT_EQ(rows[1].outputExtension, "webm");
}

TEST(AnimatedImageCatalogue, OnlyAnAnimatedGIFTakesTheVideoRoadToWebP)
{
    EXPECT_TRUE(takesAnimatedWebPRoad(imageFile("gif", 2)));
    EXPECT_FALSE(takesAnimatedWebPRoad(imageFile("gif", 1)));
    EXPECT_FALSE(takesAnimatedWebPRoad(imageFile("png", 5)));
    FileInfo unknown = imageFile("gif", 4);
    unknown.format.reset();
    EXPECT_FALSE(takesAnimatedWebPRoad(unknown));
}

TEST_F(AnimatedImageCatalogueTest, TheRowsPlaceVideosBesideTheAnimation)
{
    const QList<OperationDescriptor> rows = animatedImageVideoConversions();
    const QString gif = animation("party.gif");
    const QList<QUrl> mp4 = run(rows[0], gif);
    ASSERT_EQ(mp4.size(), 1);
    EXPECT_EQ(mp4.first().toLocalFile(), dir.filePath("in/party.mp4"));
    EXPECT_EQ(probe(mp4.first().toLocalFile(), "stream=codec_name,width,height"), "h264,96,64");
    EXPECT_FALSE(QFileInfo::exists(workDirectory));

    const QString webp = animation("party.webp");
    const QList<QUrl> webm = run(rows[1], webp);
    ASSERT_EQ(webm.size(), 1);
    EXPECT_EQ(webm.first().toLocalFile(), dir.filePath("in/party.webm"));
    EXPECT_EQ(probe(webm.first().toLocalFile(), "stream=codec_name"), "vp9");
    EXPECT_FALSE(QFileInfo::exists(workDirectory));

    // A second run never overwrites the first.
    const QList<QUrl> again = run(rows[0], gif);
    ASSERT_EQ(again.size(), 1);
    EXPECT_NE(again.first(), mp4.first());
    EXPECT_TRUE(QFile::exists(mp4.first().toLocalFile()));
}

TEST_F(AnimatedImageCatalogueTest, AnAnimatedGIFBecomesAnAnimatedWebP)
{
    const QString gif = animation("loop.gif");
    OperationContext context;
    context.files = {info(gif)};
    OutputPlanner planner(QUrl::fromLocalFile(gif), settings);
    Progress progress(100);
    const QString webp = convertAnimatedGIFToWebP(info(gif), context, planner, progress).toLocalFile();
    planner.removeWorkDirectory();
    EXPECT_EQ(webp, dir.filePath("in/loop.webp"));
    QByteArray pages;
    ASSERT_EQ(test::runProgram("vipsheader", {"-f", "n-pages", webp}, &pages), 0);
    EXPECT_EQ(pages.trimmed(), "10");
}

TEST_F(AnimatedImageCatalogueTest, ADamagedAnimationPlacesNothing)
{
    const QString path = test::writeFile(dir.filePath("in/broken.webp"), "RIFF....WEBPVP8X broken");
    EXPECT_THROW(run(animatedImageVideoConversions()[1], path), EngineError);
    EXPECT_EQ(QDir(dir.filePath("in")).entryList(QDir::Files), QStringList{"broken.webp"});
    EXPECT_FALSE(QFileInfo::exists(workDirectory));
}
