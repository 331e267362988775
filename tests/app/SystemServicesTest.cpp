// The services start-up installs, on this machine's real libraries and files.
#include "model/files/FileInfo.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace qv;
using namespace qv::test;

namespace {

FileInfo fileInfoFor(const QString& path)
{
    return fileInfoForURL(QUrl::fromLocalFile(path));
}

} // namespace

TEST(SystemServices, CountsFramesAndDetectsLockedPdfs)
{
    QTemporaryDir dir;
    const QString gif = dir.filePath(QStringLiteral("anim.gif"));
    ASSERT_EQ(runProgram(QStringLiteral("ffmpeg"),
                         {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                          QStringLiteral("lavfi"), QStringLiteral("-i"),
                          QStringLiteral("testsrc=size=32x32:rate=10"), QStringLiteral("-frames:v"),
                          QStringLiteral("12"), gif}),
              0);
    EXPECT_EQ(fileInfoFor(gif).frameCount, 12);

    const QString png = dir.filePath(QStringLiteral("still.png"));
    QImage(8, 8, QImage::Format_RGB32).save(png);
    EXPECT_EQ(fileInfoFor(png).frameCount, 1);

    // A JPEG is never opened: even garbage keeps one frame.
    EXPECT_EQ(fileInfoFor(writeFile(dir.filePath(QStringLiteral("broken.jpg")), "nope")).frameCount, 1);
    EXPECT_EQ(fileInfoFor(writeFile(dir.filePath(QStringLiteral("broken.gif")), "nope")).frameCount, 1);

    const QString open = writePdf(dir.filePath(QStringLiteral("open.pdf")));
    const QString locked = dir.filePath(QStringLiteral("locked.pdf"));
    ASSERT_EQ(runProgram(QStringLiteral("qpdf"),
                         {QStringLiteral("--encrypt"), QStringLiteral("secret"),
                          QStringLiteral("owner"), QStringLiteral("256"), QStringLiteral("--"), open,
                          locked}),
              0);
    EXPECT_FALSE(fileInfoFor(open).isEncrypted);
    EXPECT_TRUE(fileInfoFor(locked).isEncrypted);
    EXPECT_FALSE(fileInfoFor(writeFile(dir.filePath(QStringLiteral("fake.pdf")), "%PDF-garbage"))
                     .isEncrypted);
}

TEST(SystemServices, CapabilitiesOnThisMachine)
{
    std::vector<std::thread> threads;
    std::vector<Capabilities*> seen(4, nullptr);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&seen, i] { seen[i] = &Capabilities::shared(); });
    for (auto& thread : threads)
        thread.join();
    for (Capabilities* caps : seen)
        EXPECT_EQ(caps, &Capabilities::shared());

    const Capabilities& caps = Capabilities::shared();
    EXPECT_TRUE(caps.imageIOReadable().contains("public.jpeg"));
    EXPECT_TRUE(caps.imageIOReadable().contains("public.png"));
    EXPECT_TRUE(caps.imageIOWritable().contains("public.jpeg"));
    EXPECT_TRUE(caps.imageIOWritable().contains("com.microsoft.ico"));
    EXPECT_FALSE(caps.imageIOWritable().contains("public.svg-image"));
    EXPECT_TRUE(caps.isAvailable(EngineID::of(EngineID::Kind::imageIO)));
    // The English data and OpenCV's saliency module are installed here.
    EXPECT_TRUE(caps.isAvailable(EngineID::of(EngineID::Kind::vision)));
    EXPECT_TRUE(caps.subjectLifting());
}
