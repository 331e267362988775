#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaCrop.h"
#include "model/errors/EngineError.h"
#include "model/errors/FFmpegError.h"

using namespace qv;

namespace {
class MediaCrop : public test::MediaTool {};
} // namespace

TEST_F(MediaCrop, AnOddRectangleComesOutEven)
{
    context.options.cropRect = QRectF(10, 10, 101, 75);
    const QString placed = cropVideo(input(clip("clip.mov", 1.0)), context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (cropped).mov"));
    EXPECT_EQ(stream(placed, "v", "width,height"), "100,74");
    EXPECT_EQ(stream(placed, "a", "codec_name"), "aac");
}

TEST_F(MediaCrop, NoRectangleOrOneOutsideThePictureLeavesNothing)
{
    const FileInfo file = input(clip("clip.mp4", 1.0));
    context.options.cropRect = QRectF(0, 0, 1, 50);
    try {
        cropVideo(file, context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "The crop area is empty");
    }
    context.options.cropRect = QRectF(0, 0, 400, 300);
    EXPECT_THROW(cropVideo(file, context, work), FFmpegError);
    EXPECT_TRUE(outputs().isEmpty());
}
