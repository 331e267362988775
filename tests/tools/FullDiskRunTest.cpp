// A destination without room, through the same road the application takes: the worker, its
// work folder on the destination's disk, and the sentence the user reads.
#include "support/DevDriver.h"
#include "support/PdfFixtures.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace qv::test;

// A stick or a second disk: the work folder lies hidden beside the input, below what the
// worker's view shows read-only, and the item is still made there.
TEST(FullDiskRun, APictureOnADiskOfItsOwnTurnsWithRoomToSpare)
{
    SmallDisk disk(4 * 1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    QImage red(60, 40, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString photo = disk.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(red.save(photo, "JPEG", 95));

    QTemporaryDir home;
    const DriverRun turned = runDriverJob({QStringLiteral("tool.image.rotate"), photo}, home.path());
    EXPECT_EQ(turned.code, 0) << turned.failure().toStdString();
    EXPECT_TRUE(QFileInfo::exists(disk.filePath(QStringLiteral("photo (rotated).jpg"))));
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              QStringList({QStringLiteral("photo (rotated).jpg"), QStringLiteral("photo.jpg")}));
}

TEST(FullDiskRun, TurningAJpegSaysTheDiskIsFullAndLeavesNothing)
{
    SmallDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    // Noise keeps the file large: a copy of it cannot fit in what is left.
    QImage noise(600, 600, QImage::Format_RGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb(int(random.bounded(256)), int(random.bounded(256)), int(random.bounded(256))));
    }
    const QString photo = disk.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(noise.save(photo, "JPEG", 95));
    ASSERT_TRUE(disk.fillLeaving(16 * 1024));
    const QStringList before = QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);

    QTemporaryDir home;
    const DriverRun turned = runDriverJob({QStringLiteral("tool.image.rotate"), photo}, home.path());
    EXPECT_EQ(turned.code, 1);
    EXPECT_EQ(turned.failure(), QStringLiteral("Not enough disk space"));
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), before);
}

// Every entry the wheels offer for a photo, a PNG, a PDF, a sound, a Word file and a zip, run
// on a disk left with 16 KB: each finishes with a result its format's tool takes, or fails
// with the disk's sentence (or the one it gives with room, for a failure of another kind), and
// leaves nothing behind; none hangs. scripts/sweep-files.py runs and judges them.
TEST(FullDiskRun, EveryEntrySaysTheDiskIsFullOrFinishes)
{
    SmallDisk disk(64 * 1024 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "needs root for a tmpfs";
    for (const char* tool : {"ffmpeg", "pandoc", "zip"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            GTEST_SKIP() << "needs " << tool;
    }
    QTemporaryDir samples;
    QImage noise(300, 200, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb(int(random.bounded(256)), x % 256, y % 256));
    }
    ASSERT_TRUE(noise.save(samples.filePath("photo.jpg"), "JPEG", 92));
    ASSERT_TRUE(noise.save(samples.filePath("picture.png")));
    FixtureDocument document;
    document.pages = {FixturePage{"Wombat report", 612, 792, 0, photoImage(600, 600)}, FixturePage{"Second page"}};
    writeFixturePdf(samples.filePath("report.pdf"), document);
    ASSERT_EQ(runProgram("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "sine=duration=2", "-metadata",
                                    "artist=Jane Roe", samples.filePath("tone.mp3")}),
              0);
    QTemporaryDir scratch;
    const QString markdown = writeFile(scratch.filePath("notes.md"), "# Notes\n\nSome words for a document.\n");
    ASSERT_EQ(runProgram("pandoc", {markdown, "-o", samples.filePath("notes.docx")}), 0);
    ASSERT_EQ(runProgram("zip", {"-j", "-q", samples.filePath("bundle.zip"), markdown}), 0);

    QProcess sweep;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QV_DEV", QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"));
    environment.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    sweep.setProcessEnvironment(environment);
    sweep.start("/usr/bin/python3", {QStringLiteral(QV_SOURCE_DIR "/scripts/sweep-files.py"), samples.path(),
                                     "--variants", "orig", "--disk", disk.path(), "--leave", "16384", "--jobs", "3",
                                     "--timeout", "240"});
    // A ceiling, not a measure: some hundred runs, each given four minutes before it counts as hung.
    ASSERT_TRUE(sweep.waitForFinished(40 * 60 * 1000));
    const QByteArray errors = sweep.readAllStandardError();
    ASSERT_EQ(sweep.exitCode(), 0) << errors.toStdString();
    int runs = 0;
    int full = 0;
    for (const QByteArray& text : sweep.readAllStandardOutput().split('\n')) {
        if (text.trimmed().isEmpty())
            continue;
        const QJsonObject line = QJsonDocument::fromJson(text).object();
        ++runs;
        if (line.value("message").toString() == "Not enough disk space")
            ++full;
        EXPECT_TRUE(line.value("flags").toArray().isEmpty()) << text.toStdString();
    }
    // Every file was offered its entries, and most of them found no room.
    EXPECT_GT(runs, 80) << errors.toStdString();
    EXPECT_GT(full, runs / 2);
}
