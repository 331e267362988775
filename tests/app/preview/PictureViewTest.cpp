#include "app/preview/PictureView.h"
#include "app/preview/PreviewContent.h"
#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "jobs/WorkerPool.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QWidget>

#include <memory>

using namespace qv;
using namespace qv::test;

namespace {

QImage filled(QColor color)
{
    QImage image(20, 10, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

IsolatedPictureReading::Animation threeFrames(int loopCount)
{
    return {{filled(Qt::red), filled(Qt::green), filled(Qt::blue)}, {30, 30, 30}, loopCount};
}

// A GIF of 24 moving frames of 160 x 120, 0.1 s each, looping forever.
QString movingGif(const QString& path)
{
    EXPECT_EQ(runProgram(QStringLiteral("ffmpeg"), {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                                                    "-frames:v", "24", path}),
              0);
    return path;
}

} // namespace

TEST(PictureView, FramesPlayForTheirDelaysAndStopOnTheLastWhenTheLoopsAreDone)
{
    PictureView once;
    once.setAnimation(threeFrames(0));
    EXPECT_TRUE(once.isAnimated());
    EXPECT_EQ(once.frameIndex(), 0);
    EXPECT_EQ(once.image().pixelColor(0, 0), QColor(Qt::red));
    ASSERT_TRUE(waitFor([&] { return once.frameIndex() == 2; }, 10000));
    EXPECT_EQ(once.image().pixelColor(0, 0), QColor(Qt::blue));
    waitFor([] { return false; }, 300);
    EXPECT_EQ(once.frameIndex(), 2);

    PictureView forever;
    forever.setAnimation(threeFrames(-1));
    ASSERT_TRUE(waitFor([&] { return forever.frameIndex() == 2; }, 10000));
    ASSERT_TRUE(waitFor([&] { return forever.frameIndex() == 0; }, 10000));

    // Frames of another size and count are refused when they do not pair with their delays.
    PictureView broken;
    broken.setAnimation({{filled(Qt::red)}, {}, -1});
    EXPECT_FALSE(broken.isAnimated());
    EXPECT_FALSE(broken.hasPicture());
}

// The preview shows the first frame at once and plays the animation once it is read, in this
// process and in a worker.
class PreviewAnimation : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
        qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
        IsolatedReading::setEnabled(GetParam());
    }
    void TearDown() override { IsolatedReading::setEnabled(false); }
};

TEST_P(PreviewAnimation, AnAnimatedGifShowsItsFirstFrameThenPlays)
{
    QTemporaryDir dir;
    const QString gif = movingGif(dir.filePath(QStringLiteral("moving.gif")));
    QWidget parent;
    const PreviewContent content = makePreviewContent(QUrl::fromLocalFile(gif), 1.0, &parent);
    auto* view = qobject_cast<PictureView*>(content.view);
    ASSERT_TRUE(view);
    EXPECT_EQ(content.kind, PreviewContent::Kind::image);
    EXPECT_TRUE(view->hasPicture());
    ASSERT_TRUE(waitFor([&] { return view->isAnimated(); }, 30000));
    EXPECT_EQ(view->image().size(), QSize(160, 120));
    const QImage first = view->image();
    ASSERT_TRUE(waitFor([&] { return view->frameIndex() >= 3; }, 10000));
    EXPECT_NE(view->image(), first);

    // A still picture stays still; one cut short plays what it has or stays on its picture.
    QImage still(64, 48, QImage::Format_RGB32);
    still.fill(Qt::darkCyan);
    ASSERT_TRUE(still.save(dir.filePath(QStringLiteral("still.png"))));
    const PreviewContent stillContent =
        makePreviewContent(QUrl::fromLocalFile(dir.filePath(QStringLiteral("still.png"))), 1.0, &parent);
    auto* stillView = qobject_cast<PictureView*>(stillContent.view);
    ASSERT_TRUE(stillView);
    EXPECT_TRUE(stillView->hasPicture());
    const QByteArray whole = readFile(gif);
    const QString cut = writeFile(dir.filePath(QStringLiteral("cut.gif")), whole.left(whole.size() * 2 / 3));
    const PreviewContent cutContent = makePreviewContent(QUrl::fromLocalFile(cut), 1.0, &parent);
    waitFor([] { return false; }, 500);
    EXPECT_FALSE(stillView->isAnimated());
    ASSERT_TRUE(cutContent.view);
}

TEST_P(PreviewAnimation, AViewClosedWhileItsFramesAreReadIsNoTrouble)
{
    QTemporaryDir dir;
    const QString gif = movingGif(dir.filePath(QStringLiteral("moving.gif")));
    for (int round = 0; round < 3; ++round) {
        auto parent = std::make_unique<QWidget>();
        makePreviewContent(QUrl::fromLocalFile(gif), 2.0, parent.get());
    }
    waitFor([] { return false; }, 500);
    // The worker pool still answers.
    QWidget parent;
    auto* view = qobject_cast<PictureView*>(makePreviewContent(QUrl::fromLocalFile(gif), 1.0, &parent).view);
    ASSERT_TRUE(view);
    EXPECT_TRUE(waitFor([&] { return view->isAnimated(); }, 30000));
}

INSTANTIATE_TEST_SUITE_P(Roads, PreviewAnimation, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "InAWorker" : "InThisProcess");
                         });
