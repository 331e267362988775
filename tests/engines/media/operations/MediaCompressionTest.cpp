#include "engines/media/MediaToolFixture.h"

#include "engines/media/operations/MediaCompression.h"
#include "model/errors/EngineError.h"

using namespace qv;

namespace {
class MediaCompression : public test::MediaTool {};
} // namespace

TEST_F(MediaCompression, ABigClipComesOutSmallerWithItsSaving)
{
    const QString source = clip("clip.mov", 2.0, "320x240", {"-b:v", "4M"});
    const FileInfo file = input(source);
    const QString placed = compressVideo(file, context, work).toLocalFile();
    EXPECT_EQ(placed, out("clip (compressed).mov"));
    EXPECT_LT(QFileInfo(placed).size(), file.size);
    EXPECT_EQ(stream(placed, "v", "codec_name,width,height"), "h264,320,240");
    ASSERT_EQ(notes().size(), 1);
    EXPECT_TRUE(notes().first().endsWith(" % smaller")) << notes().first().toStdString();
}

TEST_F(MediaCompression, AClipThatCannotShrinkIsRefusedAndNothingIsPlaced)
{
    const QString source = clip("tiny.mp4", 1.0, "160x120", {"-crf", "51"});
    try {
        compressVideo(input(source), context, work);
        FAIL() << "a bigger result was accepted";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "Already as small as it gets");
    }
    EXPECT_TRUE(outputs().isEmpty());
    EXPECT_TRUE(notes().isEmpty());
}

TEST_F(MediaCompression, SoundAloneIsRefusedBeforeAnyEncode)
{
    try {
        compressVideo(input(tone("tone.mp3")), context, work);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This file has no video");
    }
    EXPECT_TRUE(QDir(dir.filePath("work")).isEmpty());
}
