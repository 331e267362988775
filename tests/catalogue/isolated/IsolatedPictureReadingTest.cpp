#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedPictureReading.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "engines/vision/VisionEngine.h"
#include "jobs/WorkerPool.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QImage>
#include <QPainter>
#include <QScopeGuard>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

QString ffmpegAnimation(const QString& path, const QString& source, int frames, const QStringList& extra = {})
{
    QStringList args{"-v", "error", "-f", "lavfi", "-i", source, "-frames:v", QString::number(frames)};
    args += extra;
    args.append(path);
    EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"), args), 0);
    return path;
}

// Picture files the worker left in the temporary root.
QStringList leftPictures(const QString& root)
{
    QStringList found;
    QDirIterator it(root, {QStringLiteral("picture-*")}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}

// Each test runs the same reading in this process and in a worker, with the test's own cache.
class IsolatedPictureReadingTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_saved = qgetenv("XDG_CACHE_HOME");
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
        qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
        IsolatedReading::setEnabled(GetParam());
        // Workers started from here on use this test's temporary root.
        catalogueWorkers().clear();
    }
    void TearDown() override
    {
        IsolatedReading::setEnabled(false);
        catalogueWorkers().clear();
        qputenv("XDG_CACHE_HOME", m_saved);
    }

    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString root() const { return m_dir.filePath(QStringLiteral("cache/quorvenda/tmp")); }

    QTemporaryDir m_dir;
    QByteArray m_saved;
};

} // namespace

TEST_P(IsolatedPictureReadingTest, AnimationsComeAsFramesFittedToTheBoxWithTheirDelays)
{
    const QString gif = ffmpegAnimation(file("clip.gif"), "testsrc=size=160x120:rate=10", 12);
    const std::optional<IsolatedPictureReading::Animation> animation =
        IsolatedPictureReading::animation(gif, QSize(80, 80));
    ASSERT_TRUE(animation);
    ASSERT_EQ(animation->frames.size(), 12);
    ASSERT_EQ(animation->delays.size(), 12);
    for (int index = 0; index < 12; ++index) {
        EXPECT_EQ(animation->frames[index].size(), QSize(80, 60));
        EXPECT_EQ(animation->delays[index], 100);
    }
    EXPECT_NE(animation->frames[0], animation->frames[6]); // testsrc moves
    EXPECT_EQ(animation->loopCount, -1);                   // ffmpeg's GIFs loop forever

    // Small ones are never enlarged; very short delays show for a tenth of a second.
    const QString fast = ffmpegAnimation(file("fast.gif"), "testsrc=size=40x30:rate=200", 4);
    const std::optional<IsolatedPictureReading::Animation> small = IsolatedPictureReading::animation(fast, QSize(400, 400));
    ASSERT_TRUE(small);
    ASSERT_EQ(small->frames.size(), 4);
    EXPECT_EQ(small->frames[0].size(), QSize(40, 30));
    EXPECT_EQ(small->delays[1], 100);
    EXPECT_TRUE(leftPictures(root()).isEmpty());
}

TEST_P(IsolatedPictureReadingTest, ALongLargeAnimationStaysWithinTheMemoryBound)
{
    // 400 frames of 600 x 600: 576 MB whole, shrunk to half and cut after what fits in 128 MB.
    const QString gif = ffmpegAnimation(file("long.gif"), "color=c=red:size=600x600:rate=25", 400);
    const std::optional<IsolatedPictureReading::Animation> animation =
        IsolatedPictureReading::animation(gif, QSize(600, 600));
    ASSERT_TRUE(animation);
    EXPECT_EQ(animation->frames[0].size(), QSize(300, 300));
    qint64 bytes = 0;
    for (const QImage& frame : animation->frames)
        bytes += frame.sizeInBytes();
    EXPECT_LE(bytes, IsolatedPictureReading::animationByteLimit);
    EXPECT_GT(animation->frames.size(), 300);
    EXPECT_LT(animation->frames.size(), 400);
    EXPECT_TRUE(leftPictures(root()).isEmpty());
}

TEST_P(IsolatedPictureReadingTest, StillDamagedAndMissingPicturesHaveNoAnimation)
{
    QImage still(50, 40, QImage::Format_RGB32);
    still.fill(Qt::blue);
    ASSERT_TRUE(still.save(file("still.png")));
    EXPECT_FALSE(IsolatedPictureReading::animation(file("still.png"), QSize(100, 100)));
    const QString oneFrame = ffmpegAnimation(file("one.gif"), "testsrc=size=40x30:rate=10", 1);
    EXPECT_FALSE(IsolatedPictureReading::animation(oneFrame, QSize(100, 100)));
    EXPECT_FALSE(IsolatedPictureReading::animation(file("missing.gif"), QSize(100, 100)));
    EXPECT_FALSE(IsolatedPictureReading::animation(writeFile(file("junk.gif"), "GIF89a and nothing else"), QSize(100, 100)));

    // Cut short: at most the frames before the cut, each whole.
    const QByteArray whole = readFile(ffmpegAnimation(file("clip.gif"), "testsrc=size=160x120:rate=10", 12));
    const QString cut = writeFile(file("cut.gif"), whole.left(whole.size() / 2));
    if (const auto animation = IsolatedPictureReading::animation(cut, QSize(160, 160))) {
        EXPECT_LT(animation->frames.size(), 12);
        for (const QImage& frame : animation->frames)
            EXPECT_EQ(frame.size(), QSize(160, 120));
    }
    EXPECT_TRUE(leftPictures(root()).isEmpty());
}

TEST_P(IsolatedPictureReadingTest, TheEditorsCutOutKeepsTheSubjectAndAFlatPictureHasNone)
{
    if (!VisionEngine::canLiftSubjects())
        GTEST_SKIP() << "the subject model is not installed";
    QImage disc(300, 200, QImage::Format_RGB32);
    disc.fill(QColor(235, 235, 230));
    {
        QPainter painter(&disc);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 30, 40));
        painter.drawEllipse(QPointF(150, 100), 60, 60);
    }
    const QImage cutout = IsolatedPictureReading::liftSubject(disc, {});
    ASSERT_EQ(cutout.size(), disc.size());
    EXPECT_EQ(qAlpha(cutout.pixel(150, 100)), 255);
    EXPECT_EQ(QColor(cutout.pixel(150, 100)).rgb(), QColor(30, 30, 40).rgb());
    EXPECT_EQ(qAlpha(cutout.pixel(2, 2)), 0);

    QImage flat(300, 200, QImage::Format_RGB32);
    flat.fill(QColor(128, 128, 128));
    try {
        IsolatedPictureReading::liftSubject(flat, {});
        ADD_FAILURE() << "a subject was found";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("No subject found in this image"));
    }
    EXPECT_TRUE(leftPictures(root()).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Roads, IsolatedPictureReadingTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "InAWorker" : "InThisProcess");
                         });
