#include "engines/image/ImageToolFixture.h"

#include "engines/image/resample/ImageResize.h"
#include "model/errors/EngineError.h"
#include "model/errors/JobFailure.h"

using namespace qv;
using namespace qv::test;

namespace {

class ImageResizeTest : public ImageToolFixture {
protected:
    QString resize(const QString& path)
    {
        return ImageResize::resize(input(path), context, work).toLocalFile();
    }
    QSize sizeOf(const QString& path) { return ImageDecoder::pixelSize(path); }
};

} // namespace

TEST_F(ImageResizeTest, TargetComesFromTheLengthOrTheScale)
{
    OperationOptions options;
    EXPECT_EQ(ImageResize::targetLength({4000, 3000}, options), 2000);
    options.maxDimension = 0;
    EXPECT_EQ(ImageResize::targetLength({4000, 3000}, options), 2000);
    options.maxDimension = 1200;
    EXPECT_EQ(ImageResize::targetLength({800, 600}, options), 1200);
    options = {};
    options.resizeScale = 0.0001;
    EXPECT_EQ(ImageResize::targetLength({100, 50}, options), 1);
}

TEST_F(ImageResizeTest, ShrinksEnlargesAndScales)
{
    const QString big = in("big.jpg");
    ASSERT_TRUE(noise(4000, 3000).save(big, "JPEG", 80));
    const QString half = resize(big);
    EXPECT_EQ(QFileInfo(half).fileName(), "big (resized).jpg");
    EXPECT_EQ(sizeOf(half), QSize(2000, 1500));

    const QString small = in("small.jpg");
    ASSERT_TRUE(noise(800, 600).save(small, "JPEG", 80));
    context.options.maxDimension = 1200;
    EXPECT_EQ(sizeOf(resize(small)), QSize(1200, 900));

    context.options = {};
    context.options.resizeScale = 2.0;
    const QString wide = in("wide.png");
    ASSERT_TRUE(noise(1000, 500).save(wide));
    EXPECT_EQ(sizeOf(resize(wide)), QSize(2000, 1000));
    EXPECT_TRUE(leftovers().isEmpty());
}

TEST_F(ImageResizeTest, TransparentPngKeepsItsAlpha)
{
    const QString png = writeHalfTransparentPng(in("half.png"));
    const QString resized = resize(png);
    EXPECT_EQ(sizeOf(resized), QSize(200, 150));
    const QImage image = ImageDecoder::decode(resized).toQImage();
    EXPECT_TRUE(image.hasAlphaChannel());
    EXPECT_EQ(image.pixelColor(180, 75).alpha(), 0);
    EXPECT_EQ(image.pixelColor(20, 75).alpha(), 255);
}

TEST_F(ImageResizeTest, AnimatedWebPKeepsEveryFrame)
{
    const QString gif = in("anim.gif");
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=200x100:rate=10:duration=0.3",
                                    "-loop", "0", gif}),
              0);
    const QString webp = in("anim.webp");
    ASSERT_EQ(runProgram("vips", {"copy", gif + "[n=-1]", webp}), 0);
    const QString resized = resize(webp);
    EXPECT_EQ(QFileInfo(resized).fileName(), "anim (resized).webp");
    EXPECT_EQ(vipsField(resized, "n-pages"), "3");
    EXPECT_EQ(vipsField(resized, "width"), "100");
    EXPECT_EQ(vipsField(resized, "height"), "50"); // the first frame
}

TEST_F(ImageResizeTest, FullDiskFailsAndLeavesNoWorkFile)
{
    const QString source = in("noise.png");
    ASSERT_TRUE(noise(1500, 1000).save(source));
    const QString workFolder = dir.filePath("work");
    if (runProgram("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", workFolder}) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        QString folder;
        ~Unmount() { runProgram("umount", {folder}); }
    } unmount{workFolder};
    context.options.resizeScale = 1.0;
    try {
        resize(source);
        ADD_FAILURE() << "resized";
    } catch (...) {
        EXPECT_EQ(jobFailure(std::current_exception()).message, "Not enough disk space");
    }
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(leftovers().isEmpty());
}
