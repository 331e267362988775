// The in-process player on a movie made here: what the trim editor sees with
// QUORVENDA_IN_PROCESS=1.
#include "editors/media/QtMediaPlayer.h"

#include "editors/media/PlayerSurface.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <QWidget>

using namespace qv;
using qv::test::runProgram;
using qv::test::waitFor;

namespace {

// The second a picture of a clip shows whose grey lightens by 35 each second from 30.
int secondShown(QWidget* surface)
{
    const QImage picture = surface->grab().toImage();
    return int(std::lround((qGray(picture.pixel(picture.width() / 2, picture.height() / 2)) - 30) / 35.0));
}

} // namespace

TEST(QtMediaPlayer, ASeekIsDoneOnlyOnceItsPictureIsThere)
{
    QTemporaryDir folder;
    const QString clip = folder.filePath(QStringLiteral("steps.mp4"));
    if (runProgram(QStringLiteral("ffmpeg"),
                   {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "nullsrc=size=160x120:rate=25:duration=6,geq=lum='30+35*floor(T)':cb=128:cr=128", "-c:v",
                    "libx264", "-g", "250", "-pix_fmt", "yuv420p", clip})
        != 0)
        GTEST_SKIP() << "FFmpeg cannot make a clip here";
    QtMediaPlayer player{QUrl::fromLocalFile(clip)};
    QWidget window;
    window.resize(160, 120);
    QWidget* surface = player.makeSurface(&window);
    surface->resize(160, 120);
    if (!waitFor([&] { return secondShown(surface) == 0; }, 20000))
        GTEST_SKIP() << "The media framework here cannot play H.264 in this process";

    // A seek given while the pipeline still settles after opening may bring no picture: the
    // editor's first one (to where it opens) is done by the timeout then.
    bool settled = false;
    player.seek(0.5, [&] { settled = true; });
    ASSERT_TRUE(waitFor([&] { return settled; }, 20000));

    // The editor seeks again as soon as the last seek is done, as a dragged handle does: each
    // done comes with its picture, and the next seek never overtakes it.
    for (const double seconds : {2.5, 4.5, 1.5, 5.5, 3.5}) {
        bool done = false;
        player.seek(seconds, [&] { done = true; });
        ASSERT_TRUE(waitFor([&] { return done; }, 20000));
        EXPECT_EQ(secondShown(surface), int(seconds)) << "done seeking to " << seconds << " s";

    }
}
