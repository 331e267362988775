#include "platform/files/LocalFileProbe.h"
#include "support/TestFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace qv;

// MPEG audio of layer I has no magic the MIME database knows: by its name it is sound, not
// unknown data nor text.
TEST(LocalFileProbe, LayerOneMpegAudioIsSound)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // Frames of silence: MPEG-1 layer I, 384 kb/s, 48 kHz, mono, each 384 bytes.
    QByteArray frames;
    for (int i = 0; i < 40; ++i)
        frames += QByteArray("\xFF\xFF\xC4\xC0", 4) + QByteArray(380, '\0');
    const QString mp1 = test::writeFile(dir.filePath("song.mp1"), frames);
    const QString mpa = test::writeFile(dir.filePath("song.mpa"), frames);
    const QString other = test::writeFile(dir.filePath("song.bin"), frames);
    const LocalFileProbe probe;
    EXPECT_EQ(probe.status(mp1)->contentType, QStringLiteral("audio/mpeg"));
    EXPECT_EQ(probe.status(mpa)->contentType, QStringLiteral("audio/mpeg"));
    EXPECT_NE(probe.status(other)->contentType, QStringLiteral("audio/mpeg"));
}
