#include "support/DevDriver.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace qv::test;

namespace {

const QString driver = QStringLiteral(QV_BUILD_DIR "/quorvenda-dev");

} // namespace

TEST(DevDriver, InfoPrintsOneJsonLinePerPath)
{
    QTemporaryDir dir;
    const QString folder = dir.path();
    QByteArray output;
    ASSERT_EQ(runProgram(driver, {QStringLiteral("info"), folder + QStringLiteral("/x.TAR.GZ"), folder},
                         &output),
              0);
    QList<QByteArray> lines = output.trimmed().split('\n');
    lines.removeIf([](const QByteArray& line) { return !line.startsWith('{'); });
    ASSERT_EQ(lines.size(), 2);

    const QJsonObject archive = QJsonDocument::fromJson(lines[0]).object();
    EXPECT_EQ(archive.size(), 13);
    EXPECT_EQ(archive.value(QStringLiteral("ext")).toString(), QStringLiteral("tar.gz"));
    EXPECT_EQ(archive.value(QStringLiteral("baseName")).toString(), QStringLiteral("x"));
    EXPECT_EQ(archive.value(QStringLiteral("category")).toString(), QStringLiteral("archive"));
    EXPECT_EQ(archive.value(QStringLiteral("format")).toString(), QStringLiteral("tar.gz"));
    EXPECT_TRUE(archive.value(QStringLiteral("contentType")).isNull());

    const QJsonObject dirInfo = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_TRUE(dirInfo.value(QStringLiteral("format")).isNull());
    EXPECT_TRUE(dirInfo.value(QStringLiteral("isDirectory")).toBool());
    EXPECT_EQ(dirInfo.value(QStringLiteral("category")).toString(), QStringLiteral("folder"));

    EXPECT_EQ(runProgram(driver, {QStringLiteral("no-such-command")}), 2);
}

TEST(DevDriver, CapabilitiesShowTextRecognitionAndSubjectLifting)
{
    QTemporaryDir home;
    int exitCode = -1;
    const QJsonObject caps =
        QJsonDocument::fromJson(runDevDriver({QStringLiteral("capabilities")}, home.path(), &exitCode)).object();
    EXPECT_EQ(exitCode, 0);
    // The English data and OpenCV's saliency module are installed on this machine.
    EXPECT_EQ(caps.value(QStringLiteral("textRecognition")), QJsonValue(true));
    EXPECT_EQ(caps.value(QStringLiteral("subjectLifting")), QJsonValue(true));
}

// A job on an archive reads no picture: the driver must not load the image library's format
// modules (ImageMagick, Poppler, HEIF, JPEG XL, OpenSlide), a fifth of a one-shot run's start.
TEST(DevDriver, AnArchiveJobLoadsNoPictureModules)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/files");
    ASSERT_TRUE(QDir().mkpath(folder));
    writeFile(folder + QStringLiteral("/note.txt"), "a note\n");
    ASSERT_EQ(runProgram(QStringLiteral("/usr/bin/python3"),
                         {QStringLiteral("-c"),
                          QStringLiteral("import zipfile, sys; z = zipfile.ZipFile(sys.argv[1], 'w');"
                                         " z.write(sys.argv[2], 'a/note.txt'); z.write(sys.argv[2], 'b/note.txt'); z.close()"),
                          folder + QStringLiteral("/notes.zip"), folder + QStringLiteral("/note.txt")}),
              0);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    process.setProcessEnvironment(env);
    process.start(driver, {QStringLiteral("run"), QStringLiteral("tool.archive.extract"),
                           folder + QStringLiteral("/notes.zip")});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QByteArray loaderLog = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/notes/b/note.txt"))) << process.readAllStandardOutput().constData();
    EXPECT_TRUE(loaderLog.contains("libarchive")) << "the loader's log was not seen";
    EXPECT_FALSE(loaderLog.contains("vips-modules"));
}
