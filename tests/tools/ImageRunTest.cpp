#include "support/DevDriver.h"
#include "support/ImageTestImages.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <signal.h>

using namespace qv::test;

namespace {

QSet<QString> offered(const QString& file, const QString& home)
{
    const QString text = QString::fromUtf8(runDevDriver({"wheel", "convert", file}, home));
    QSet<QString> targets;
    static const QRegularExpression id(QStringLiteral("\"convert\\.image\\.([a-z0-9]+)\""));
    for (auto it = id.globalMatch(text); it.hasNext();)
        targets.insert(it.next().captured(1));
    return targets;
}

} // namespace

TEST(ImageRun, TheConvertWheelOffersEveryImageTarget)
{
    QTemporaryDir dir;
    const QString photo = writeHalfTransparentPng(dir.filePath("photo.png"));
    EXPECT_EQ(offered(photo, dir.path()),
              (QSet<QString>{"jpg", "heic", "webp", "avif", "pdf", "tiff", "gif", "bmp", "ico", "icns", "jp2",
                             "psd", "tga", "docx"}));
}

TEST(ImageRun, EachTargetIsWrittenBesideThePhoto)
{
    QTemporaryDir dir;
    const QString photo = writeHalfTransparentPng(dir.filePath("photo.png"));
    for (const QString ext : {"jpg", "webp", "ico", "pdf", "tga"}) {
        int code = -1;
        const QJsonObject result =
            lastJsonLine(runDevDriver({"run", "convert.image." + ext, photo}, dir.path(), &code));
        EXPECT_EQ(code, 0) << ext.toStdString();
        EXPECT_EQ(result.value("state").toString(), "finished") << ext.toStdString();
        EXPECT_EQ(result.value("outputs").toArray().first().toString(), dir.filePath("photo." + ext));
    }
    EXPECT_EQ(vipsField(dir.filePath("photo.jpg"), "width"), "400");
    EXPECT_EQ(runProgram("qpdf", {"--check", dir.filePath("photo.pdf")}), 0);
}

// A worker starts libvips without its modules and loads them on the first file that needs one:
// a JPEG written as AVIF (the saver is a module's), the AVIF read back (so is the loader, and
// libheif's strict check opens libheif then), and a JPEG written as BMP through ImageMagick's.
TEST(ImageRun, PicturesOfLibvipsModulesConvertInWorkersStartedWithoutThem)
{
    QTemporaryDir dir;
    const QString photo = writeOpaqueImage(dir.filePath("photo.jpg"), 64, 48);
    int code = -1;
    QJsonObject result = lastJsonLine(runDevDriver({"run", "convert.image.avif", photo}, dir.path(), &code));
    ASSERT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    const QString avif = dir.filePath("photo.avif");
    EXPECT_EQ(result.value("outputs").toArray().first().toString(), avif);
    EXPECT_EQ(vipsField(avif, "width"), "64");

    result = lastJsonLine(runDevDriver({"run", "convert.image.png", avif}, dir.path(), &code));
    EXPECT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    EXPECT_EQ(vipsField(dir.filePath("photo.png"), "height"), "48");

    result = lastJsonLine(runDevDriver({"run", "convert.image.bmp", photo}, dir.path(), &code));
    EXPECT_EQ(code, 0) << QJsonDocument(result).toJson().toStdString();
    EXPECT_EQ(vipsField(dir.filePath("photo.bmp"), "width"), "64");
}

TEST(ImageRun, ADamagedPngFailsAndLeavesNothingBesideIt)
{
    QTemporaryDir dir;
    const QByteArray bytes = "\x89PNG\r\n\x1a\n this is not the rest of a picture";
    const QString damaged = writeFile(dir.filePath("damaged.png"), bytes);
    int code = -1;
    const QJsonObject result = lastJsonLine(runDevDriver({"run", "convert.image.jpg", damaged}, dir.path(), &code));
    EXPECT_NE(code, 0);
    EXPECT_TRUE(QJsonDocument(result).toJson().contains("This file is damaged or not in a supported format"));
    QStringList names = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(names, QStringList{"damaged.png"});
    EXPECT_EQ(readFile(damaged), bytes);
}

TEST(ImageRun, SigtermMidWriteCancelsAndPlacesNothing)
{
    QTemporaryDir dir;
    // PNG is written row by row, so the stop is seen between rows (libwebp, by contrast, encodes
    // the whole picture in one call that nothing interrupts).
    const QString source = dir.filePath("noise.tiff");
    ASSERT_EQ(runProgram("vips", {"gaussnoise", source, "8000", "8000"}), 0);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), dir.path() + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {"run", "convert.image.png", source});
    ASSERT_TRUE(process.waitForStarted());
    // Compressing 64 megapixels of noise takes seconds; stop it well inside.
    process.waitForFinished(1000);
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(lastJsonLine(process.readAllStandardOutput().trimmed()).value("state").toString(), "cancelled");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"noise.tiff"});
}
