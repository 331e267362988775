#include "engines/media/probe/MpegAudioFrames.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

namespace {

// MPEG-1 layer III frames at 128 kbit/s and 44.1 kHz: 417 bytes each, a header and silence.
QByteArray frames(int count)
{
    QByteArray frame("\xFF\xFB\x90\x00", 4);
    frame += QByteArray(417 - 4, '\0');
    return frame.repeated(count);
}

} // namespace

// Where the frames end and something else follows (a tag, junk), the trailer starts; a damaged
// frame in the middle or a last frame cut short is no trailer, so nothing of the sound is cut.
TEST(MpegAudioFrames, TheTrailerStartsWhereNoMoreFramesFollow)
{
    QTemporaryDir dir;
    const auto trailer = [&](const QByteArray& bytes) {
        return MpegAudioFrames::trailerStart(test::writeFile(dir.filePath("sound.mp3"), bytes));
    };
    EXPECT_EQ(trailer(frames(20)), std::nullopt);
    EXPECT_EQ(trailer(frames(20) + "junk and more junk" + "TAG" + QByteArray(125, 'x')), 20 * 417);
    EXPECT_EQ(trailer(QByteArray("ID3\x03\0\0\0\0\0\x02zz", 12) + frames(20) + "TAG"), 12 + 20 * 417);
    EXPECT_EQ(trailer(frames(20) + QByteArray(500, '\0') + frames(10)), std::nullopt);
    EXPECT_EQ(trailer(frames(20) + QByteArray(500, '\0') + frames(10) + "APETAGEX"), 30 * 417 + 500);
    EXPECT_EQ(trailer(frames(20).chopped(100)), std::nullopt);
    EXPECT_EQ(trailer("no frames at all"), std::nullopt);
}
