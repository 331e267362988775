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

namespace {

// A run of the driver of its own, settings and caches in the test's home, with the loader's
// log of what it opens on standard error.
QProcessEnvironment loggedDriverEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("LD_DEBUG"), QStringLiteral("files"));
    return env;
}

} // namespace

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
    process.setProcessEnvironment(loggedDriverEnvironment(home.path()));
    process.start(driver, {QStringLiteral("run"), QStringLiteral("tool.archive.extract"),
                           folder + QStringLiteral("/notes.zip")});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QByteArray loaderLog = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/notes/b/note.txt"))) << process.readAllStandardOutput().constData();
    EXPECT_TRUE(loaderLog.contains("libarchive")) << "the loader's log was not seen";
    EXPECT_FALSE(loaderLog.contains("vips-modules"));
}

// libvips and the libraries it brings are opened by the first picture a process touches: a PDF
// merge maps them in neither the driver nor its worker, a JPEG converted to PNG does in its worker.
// That worker starts libvips while it starts, still without its format modules, which a HEIC then
// loads.
TEST(DevDriver, OnlyAPictureJobOpensThePictureLibrary)
{
    QTemporaryDir home;
    const QString folder = home.path() + QStringLiteral("/files");
    const QString logs = home.path() + QStringLiteral("/logs");
    ASSERT_TRUE(QDir().mkpath(folder) && QDir().mkpath(logs));
    writePdf(folder + QStringLiteral("/a.pdf"));
    writePdf(folder + QStringLiteral("/b.pdf"));
    ASSERT_EQ(runProgram(QStringLiteral("/usr/bin/convert"),
                         {QStringLiteral("-size"), QStringLiteral("16x16"), QStringLiteral("xc:red"),
                          folder + QStringLiteral("/tiny.jpg")}),
              0);
    // The worker's environment is cleared; the loader writes its log once it is told where.
    const QString wrapper = writeFile(home.path() + QStringLiteral("/worker.sh"),
        "#!/bin/sh\nLD_DEBUG=files LD_DEBUG_OUTPUT=\"$QUORVENDA_LOADER_LOGS/worker\" exec " QV_BUILD_DIR
        "/quorvenda-worker \"$@\"\n");
    ASSERT_TRUE(QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));

    const auto run = [&](const QStringList& args) {
        for (const QString& name : QDir(logs).entryList(QDir::Files))
            QFile::remove(logs + u'/' + name);
        QProcess process;
        QProcessEnvironment env = loggedDriverEnvironment(home.path());
        env.insert(QStringLiteral("QUORVENDA_WORKER"), wrapper);
        env.insert(QStringLiteral("QUORVENDA_LOADER_LOGS"), logs);
        process.setProcessEnvironment(env);
        process.start(driver, QStringList{QStringLiteral("run")} + args);
        EXPECT_TRUE(process.waitForFinished(240000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardOutput().constData();
        QByteArray workers;
        for (const QString& name : QDir(logs).entryList(QDir::Files))
            workers += readFile(logs + u'/' + name);
        return std::pair{process.readAllStandardError(), workers};
    };

    const auto [driverMerging, workersMerging] = run({QStringLiteral("tool.pdf.merge"), folder + QStringLiteral("/a.pdf"),
                                                      folder + QStringLiteral("/b.pdf")});
    EXPECT_TRUE(workersMerging.contains("libqpdf")) << "the workers' loader logs were not seen";
    EXPECT_FALSE(driverMerging.contains("libvips"));
    EXPECT_FALSE(workersMerging.contains("libvips"));

    const auto [driverConverting, workersConverting] = run({QStringLiteral("convert.image.png"), folder + QStringLiteral("/tiny.jpg")});
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/tiny.png")));
    EXPECT_FALSE(driverConverting.contains("libvips"));
    EXPECT_TRUE(workersConverting.contains("file=libvips.so"));
    EXPECT_FALSE(workersConverting.contains("vips-modules"));

    if (runProgram(QStringLiteral("vips"), {QStringLiteral("heifsave"), folder + QStringLiteral("/tiny.jpg"),
                                            folder + QStringLiteral("/photo.heic")})
        != 0)
        GTEST_SKIP() << "libvips here writes no HEIC";
    const auto [driverHeic, workersHeic] = run({QStringLiteral("convert.image.png"), folder + QStringLiteral("/photo.heic")});
    EXPECT_TRUE(workersHeic.contains("vips-modules"));
    QProcess header;
    header.start(QStringLiteral("vipsheader"), {folder + QStringLiteral("/photo.png")});
    ASSERT_TRUE(header.waitForFinished(60000));
    EXPECT_TRUE(header.readAllStandardOutput().contains("16x16")) << header.readAllStandardError().constData();
}
