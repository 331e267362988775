#include "app/preview/PreviewContent.h"
#include "engines/media/MediaCategory.h"
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QWidget>

#include <memory>

using namespace qv;

TEST(PreviewContent, SoundInAVideoContainerShowsAsSoundWithoutWaitingOnFFmpeg)
{
    ASSERT_TRUE(Capabilities::shared().ffmpegURL()) << "the test needs ffmpeg";
    QTemporaryDir dir;
    const auto make = [&dir](const QString& name) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(test::runProgram("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                              "sine=duration=1", "-c:a", "libopus", "file:" + path}),
                  0);
        return QUrl::fromLocalFile(path);
    };
    QWidget parent;
    const auto kindOf = [&parent](const QUrl& url) {
        const PreviewContent content = makePreviewContent(url, 1.0, &parent);
        std::unique_ptr<QWidget> view(content.view);
        return content.kind;
    };

    // Looked into before, as the wheel does for the files it opens for.
    const QUrl looked = make("looked.webm");
    EXPECT_EQ(fileInfoForURL(looked).category, FileCategory::audio);
    EXPECT_EQ(kindOf(looked), PreviewContent::Kind::audio);

    // Never looked into: the name decides at once, and a look for next time starts.
    const QUrl fresh = make("fresh.webm");
    EXPECT_EQ(kindOf(fresh), PreviewContent::Kind::video);
    ASSERT_TRUE(test::waitFor([&] { return rememberedMediaStreams(fresh.toLocalFile()).has_value(); }));
    EXPECT_EQ(kindOf(fresh), PreviewContent::Kind::audio);
}
