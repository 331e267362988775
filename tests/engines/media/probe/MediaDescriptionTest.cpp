#include "engines/media/probe/MediaProbe.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv;

TEST(MediaDescription, TheStreamChecksTextDescribesTheFileAsAProbeWouldUnlessTheNameDisagrees)
{
    if (QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed";
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("clip.mov"));
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=2",
                                "-f", "lavfi", "-i", "sine=duration=2", "-c:v", "libx264", "-preset", "ultrafast",
                                "-c:a", "aac", "-shortest", movie}),
              0);
    const QUrl url = QUrl::fromLocalFile(movie);
    const DescribedMedia described = describeMediaFile(Capabilities::shared().ffmpegURL(), url, {});
    ASSERT_TRUE(described.description);
    const std::optional<MediaInfo> again = mediaInfoFromDescription(*described.description, url);
    ASSERT_TRUE(again);
    EXPECT_EQ(*again, described.info);
    EXPECT_EQ(*again, probeMediaInfo(url, {}));
    ASSERT_TRUE(again->demuxer);

    // The same text for a file whose name says another format: the worker probes that file.
    EXPECT_FALSE(mediaInfoFromDescription(*described.description, QUrl::fromLocalFile(dir.filePath(QStringLiteral("clip.mp3")))));
    // Nothing FFmpeg could read.
    EXPECT_FALSE(mediaInfoFromDescription(QStringLiteral("clip.mov: Invalid data found when processing input"), url));
}
