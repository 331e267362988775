#include "app/float/FloatPanelLayout.h"
#include "app/preview/MovieDisplaySize.h"
#include "app/preview/PreviewContent.h"
#include "support/FakeScreens.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

TEST(FittedPanelSize, ShrinksToTheLongestSideNeverEnlargesAndKeepsTheMinimums)
{
    struct Case {
        double w, h;
        QSizeF expected;
    };
    const Case cases[] = {
        {4000, 3000, {520, 390}},
        {3000, 4000, {390, 520}},
        {400, 300, {400, 300}},
        {520, 520, {520, 520}},
        {200, 100, {200, 120}},   // too low: the height minimum
        {100, 50, {160, 120}},    // both minimums
        {5200, 100, {520, 120}},  // a strip keeps a usable height
        {612, 792, {612 * 520.0 / 792, 520}},
        {420, 560, {390, 520}},
        {0, 300, {480, 360}},
        {300, -1, {480, 360}},
        {0, 0, {480, 360}},
    };
    for (const Case& c : cases) {
        const QSizeF size = fittedPanelSize(c.w, c.h, 520);
        EXPECT_NEAR(size.width(), c.expected.width(), 1e-9) << c.w << "x" << c.h;
        EXPECT_NEAR(size.height(), c.expected.height(), 1e-9) << c.w << "x" << c.h;
    }
    const QSizeF nan = fittedPanelSize(std::nan(""), 10, 520);
    EXPECT_EQ(nan, QSizeF(480, 360));
}

namespace {

// Two screens side by side in y-up coordinates: a 1920 x 1080 primary with a 40 px panel at the
// bottom, and a 1280 x 1024 one on its right, 56 px lower, with a 30 px panel at the top.
test::FakeScreens twoScreens()
{
    test::FakeScreens screens;
    screens.list = {
        {QRectF(0, 0, 1920, 1080), QRectF(0, 40, 1920, 1040), 1.0},
        {QRectF(1920, -56, 1280, 1024), QRectF(1920, -56, 1280, 994), 1.0},
    };
    return screens;
}

} // namespace

TEST(FloatPanelOrigin, CascadesFromThePointRightAndDown)
{
    const auto screens = twoScreens();
    const QSizeF size(400, 300);
    EXPECT_EQ(floatPanelOrigin({640, 680}, size, 0, screens), QPointF(440, 530));
    EXPECT_EQ(floatPanelOrigin({640, 680}, size, 1, screens), QPointF(468, 502));
    EXPECT_EQ(floatPanelOrigin({640, 680}, size, 5, screens), QPointF(580, 390));
}

TEST(FloatPanelOrigin, StaysEightPixelsInsideTheVisibleFrameOfTheScreenUnderThePoint)
{
    const auto screens = twoScreens();
    const QSizeF size(400, 300);
    // The primary's bottom-right corner: above its panel, left of the edge.
    EXPECT_EQ(floatPanelOrigin({1915, 5}, size, 0, screens), QPointF(1920 - 8 - 400, 48));
    // Its top-left corner.
    EXPECT_EQ(floatPanelOrigin({2, 1078}, size, 3, screens), QPointF(8, 1080 - 8 - 300));
    // The second screen: its own frame, not the primary's, and below the primary's bottom.
    EXPECT_EQ(floatPanelOrigin({3195, -50}, size, 0, screens), QPointF(3200 - 408, -48));
    EXPECT_EQ(floatPanelOrigin({1925, 960}, size, 0, screens), QPointF(1928, 938 - 8 - 300));
    // Too big for the frame: the right and top edges stay inside.
    const QSizeF huge(2000, 1200);
    EXPECT_EQ(floatPanelOrigin({900, 500}, huge, 0, screens), QPointF(1920 - 8 - 2000, 1080 - 8 - 1200));
}

TEST(FloatPanelOrigin, WithoutAScreenIsNotClamped)
{
    test::FakeScreens none;
    EXPECT_EQ(floatPanelOrigin({5, 5}, {400, 300}, 1, none), QPointF(5 - 200 + 28, 5 - 150 - 28));
}

TEST(ScrolledOpacity, StaysBetweenTwentyPercentAndOpaque)
{
    EXPECT_DOUBLE_EQ(scrolledOpacity(0.5, 10), 0.6);
    EXPECT_DOUBLE_EQ(scrolledOpacity(0.5, -10), 0.4);
    EXPECT_DOUBLE_EQ(scrolledOpacity(0.95, 30), 1.0);
    EXPECT_DOUBLE_EQ(scrolledOpacity(0.25, -30), 0.2);
    EXPECT_DOUBLE_EQ(scrolledOpacity(0.2, -1000), 0.2);
    EXPECT_DOUBLE_EQ(scrolledOpacity(1.0, 1000), 1.0);
}

TEST(MovieFittedFrame, KeepsTheTopLeftCornerAndTheLongestSideAtMost520)
{
    // y-up: the top edge is y + height = 700.
    const QRectF frame(100, 430, 480, 270);
    EXPECT_EQ(movieFittedFrame(frame, {320, 240}), QRectF(100, 460, 320, 240));
    EXPECT_EQ(movieFittedFrame(frame, {1080, 1920}), QRectF(100, 180, 292.5, 520));
    EXPECT_EQ(movieFittedFrame(frame, {0, 240}), std::nullopt);
    EXPECT_EQ(movieFittedFrame(frame, {std::nan(""), 240}), std::nullopt);
}

TEST(MovieDisplaySize, ExchangesWidthAndHeightForAQuarterTurn)
{
    QTemporaryDir dir;
    const auto make = [&dir](const QString& name, const QStringList& arguments) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(test::runProgram("ffmpeg", QStringList{"-nostdin", "-v", "error", "-y"} + arguments
                                                 + QStringList{"file:" + path}),
                  0);
        return path;
    };
    const QString clip = make("clip.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=5:duration=1", "-c:v",
                                           "libx264", "-pix_fmt", "yuv420p"});
    EXPECT_EQ(movieDisplaySize(clip), QSizeF(320, 240));
    const QString turned = make("turned.mp4", {"-i", "file:" + clip, "-c", "copy", "-metadata:s:v:0", "rotate=90"});
    EXPECT_EQ(movieDisplaySize(turned), QSizeF(240, 320));
    const QString upsideDown =
        make("upside down.mp4", {"-i", "file:" + clip, "-c", "copy", "-metadata:s:v:0", "rotate=180"});
    EXPECT_EQ(movieDisplaySize(upsideDown), QSizeF(320, 240));

    // A song's cover is no movie.
    const QString cover = make("cover.png", {"-f", "lavfi", "-i", "color=red:size=32x32", "-frames:v", "1"});
    const QString song = make("song.mp4", {"-f", "lavfi", "-i", "sine=duration=1", "-i", "file:" + cover, "-map", "0",
                                           "-map", "1", "-c:a", "aac", "-c:v", "png", "-disposition:v",
                                           "attached_pic"});
    EXPECT_EQ(movieDisplaySize(song), std::nullopt);
    EXPECT_EQ(movieDisplaySize(test::writeFile(dir.filePath("notes.mp4"), "not a movie")), std::nullopt);
    EXPECT_EQ(movieDisplaySize(dir.filePath("missing.mp4")), std::nullopt);
}

TEST(TextPreview, ReadsUtf8TextAndRefusesBinaryData)
{
    QTemporaryDir dir;
    EXPECT_EQ(textPreview(test::writeFile(dir.filePath("a.txt"), "café\nline 2\n")),
              QString("café\nline 2\n"));
    EXPECT_EQ(textPreview(test::writeFile(dir.filePath("b.bin"), QByteArray("ab\0cd", 5))), std::nullopt);
    EXPECT_EQ(textPreview(test::writeFile(dir.filePath("c.txt"), "\xff\xfe\xfa")), std::nullopt);
    EXPECT_EQ(textPreview(dir.filePath("missing.txt")), std::nullopt);
    // A long file is cut at a line end, so a character split by the limit does not count.
    QByteArray many;
    while (many.size() < 100)
        many += "é é é\n";
    EXPECT_TRUE(textPreview(test::writeFile(dir.filePath("d.txt"), many), 46).has_value());
}
