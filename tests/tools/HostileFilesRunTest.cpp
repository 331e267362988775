#include "jobs/WorkerPool.h"
#include "model/errors/EngineError.h"
#include "support/DevDriver.h"
#include "support/PdfFixtures.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>

using namespace qv;

namespace {

QString hostile(const char* name)
{
    return QStringLiteral(QV_SOURCE_DIR "/tests/files/hostile/") + QLatin1String(name);
}

// A picture that keeps librsvg busy for hours: noise of a hundred thousand octaves.
QString writeBusySvg(const QString& path)
{
    return test::writeFile(path, "<svg xmlns='http://www.w3.org/2000/svg' width='500' height='500'>"
                                 "<filter id='f' x='0' y='0' width='1' height='1'>"
                                 "<feTurbulence baseFrequency='0.01' numOctaves='100000'/></filter>"
                                 "<rect width='500' height='500' filter='url(#f)'/></svg>");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(HostileFilesRun, PicturesThatCrashTheirLibraryFailAloneAndTheRestConvert)
{
    QTemporaryDir home, dir;
    QImage picture(32, 16, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("a.png"))));
    ASSERT_TRUE(picture.save(dir.filePath(QStringLiteral("z.png"))));
    ASSERT_TRUE(QFile::copy(hostile("Bretagne2_4.j2k"), dir.filePath(QStringLiteral("m.j2k"))));
    ASSERT_TRUE(QFile::copy(hostile("issue412.jp2"), dir.filePath(QStringLiteral("n.jp2"))));

    const test::DriverRun run = test::runDriverJob(
        {QStringLiteral("convert.image.jpg"), dir.filePath(QStringLiteral("a.png")), dir.filePath(QStringLiteral("m.j2k")),
         dir.filePath(QStringLiteral("n.jp2")), dir.filePath(QStringLiteral("z.png"))},
        home.path());
    EXPECT_EQ(run.result.value(QStringLiteral("state")).toString(), QStringLiteral("finished"))
        << QJsonDocument(run.result).toJson().toStdString();
    // OpenJPEG's fault in the first file does not always end in a crash (it depends on what the
    // overrun meets), and pixels made of what it met are different at every decode: such a file
    // fails all the same. The second one always aborts.
    const int failed = run.result.value(QStringLiteral("failedCount")).toInt();
    EXPECT_EQ(failed, 2);
    EXPECT_EQ(run.failure(), QStringLiteral("This file couldn't be read"));
    EXPECT_TRUE(run.result.value(QStringLiteral("failure")).toObject().value(QStringLiteral("details")).toString()
                    .contains(QStringLiteral("signal")));
    EXPECT_TRUE(run.outputs().contains(dir.filePath(QStringLiteral("a.jpg"))));
    EXPECT_TRUE(run.outputs().contains(dir.filePath(QStringLiteral("z.jpg"))));
    EXPECT_EQ(run.outputs().size(), 2);
    const QStringList expected{QStringLiteral("a.jpg"), QStringLiteral("a.png"), QStringLiteral("m.j2k"),
                               QStringLiteral("n.jp2"), QStringLiteral("z.jpg"), QStringLiteral("z.png")};
    EXPECT_EQ(entries(dir.path()), expected);
}

TEST(HostileFilesRun, APictureThatHangsItsLibraryIsStoppedAtOnce)
{
    QTemporaryDir home, dir;
    const QString svgz = writeBusySvg(dir.filePath(QStringLiteral("noise.svg")));

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {QStringLiteral("run"), QStringLiteral("convert.image.png"), svgz});
    ASSERT_TRUE(run.waitForStarted(30000));
    // Its job under way (a busy machine may take longer than a moment to start it), then stuck
    // in the library, with nothing to ask it to stop.
    QByteArray said;
    ASSERT_TRUE(test::waitFor([&] {
        run.waitForReadyRead(100);
        said += run.readAllStandardError();
        return said.contains("Started ") || run.state() != QProcess::Running;
    }, 60000)) << said.constData();
    QThread::msleep(1500);
    ASSERT_EQ(run.state(), QProcess::Running) << said.constData();
    QElapsedTimer clock;
    clock.start();
    ::kill(pid_t(run.processId()), SIGTERM);
    ASSERT_TRUE(run.waitForFinished(30000));
    // At once on an idle machine; the bound only tells a stop from a wait for the library.
    EXPECT_LT(clock.elapsed(), 10000);
    const QByteArray output = run.readAllStandardOutput();
    const QJsonObject result = test::lastJsonLine(output.trimmed());
    EXPECT_EQ(result.value(QStringLiteral("state")).toString(), QStringLiteral("cancelled"))
        << output.toStdString() << run.readAllStandardError().toStdString();
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("noise.svg")});
    EXPECT_EQ(entries(home.filePath(QStringLiteral("cache/quorvenda/tmp"))), QStringList());
}

TEST(HostileFilesRun, APictureThatHangsItsLibraryEndsOnItsOwnWithASentence)
{
    QTemporaryDir home, dir;
    const QString svgz = writeBusySvg(dir.filePath(QStringLiteral("noise.svg")));
    // The patience a small file gets, shortened from 30 s for the test.
    test::writeFile(home.filePath(QStringLiteral("config/quorvenda/settings.json")),
                    R"({"quorvenda.advanced.workerPatience": 3})");

    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
    run.setProcessEnvironment(env);
    run.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), {QStringLiteral("run"), QStringLiteral("convert.image.png"), svgz});
    ASSERT_TRUE(run.waitForStarted(30000));
    // Nobody stops it: a guard against a hang, far above the three seconds it gets.
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray output = run.readAllStandardOutput();
    const QJsonObject result = test::lastJsonLine(output.trimmed());
    EXPECT_EQ(result.value(QStringLiteral("state")).toString(), QStringLiteral("failed")) << output.toStdString();
    EXPECT_EQ(result.value(QStringLiteral("failure")).toObject().value(QStringLiteral("message")).toString(),
              QStringLiteral("This file took too long and was stopped"));
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("noise.svg")});
    EXPECT_EQ(entries(home.filePath(QStringLiteral("cache/quorvenda/tmp"))), QStringList());
}

TEST(HostileFilesRun, PdfPagesMadeToBeEndlessEndOnTheirOwnWithASentence)
{
    QTemporaryDir home;
    // A patience shortened from 30 s: the budget of a page's work may outlast it on a busy
    // machine, and then the watch ends the item.
    test::writeFile(home.filePath(QStringLiteral("config/quorvenda/settings.json")),
                    R"({"quorvenda.advanced.workerPatience": 3})");
    const QStringList stopped{QStringLiteral("This file took too long and was stopped"),
                              QStringLiteral("This page is too complex to render"),
                              QStringLiteral("This page is too complex to read"),
                              QStringLiteral("This page is too complex to compress")};
    // Forms drawn by a Type3 glyph, which MuPDF draws while it loads the font, before any budget.
    const std::pair<const char*, test::HostilePage> runs[]{{"convert.pdf.png", test::HostilePage::laughs},
                                                          {"convert.pdf.txt", test::HostilePage::laughs},
                                                          {"tool.pdf.compress", test::HostilePage::laughs},
                                                          {"convert.pdf.txt", test::HostilePage::type3Laughs}};
    for (const auto& [operation, kind] : runs) {
        SCOPED_TRACE(operation);
        QTemporaryDir dir;
        const QString pdf = test::writeHostilePdf(dir.filePath(QStringLiteral("laughs.pdf")), kind);
        const test::DriverRun run = test::runDriverJob({QLatin1String(operation), pdf}, home.path());
        EXPECT_EQ(run.result.value(QStringLiteral("state")).toString(), QStringLiteral("failed"))
            << QJsonDocument(run.result).toJson().toStdString();
        EXPECT_TRUE(stopped.contains(run.failure())) << run.failure().toStdString();
        EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("laughs.pdf")});
        EXPECT_EQ(entries(home.filePath(QStringLiteral("cache/quorvenda/tmp"))), QStringList());
    }

    // A pattern of 5 x 10^13 tiles is refused before a tile is painted: with the usual patience,
    // which a busy machine's start of the worker could outlast at 3 s.
    QTemporaryDir dir, usualHome;
    const QString tiles = test::writeHostilePdf(dir.filePath(QStringLiteral("tiles.pdf")), test::HostilePage::tinyTiles);
    const test::DriverRun run = test::runDriverJob({QStringLiteral("convert.pdf.jpg"), tiles}, usualHome.path());
    EXPECT_EQ(run.failure(), QStringLiteral("This page is too complex to render"))
        << QJsonDocument(run.result).toJson().toStdString();
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("tiles.pdf")});
}

TEST(HostileFilesRun, ACompressedPictureThatHungLibrsvgByItsPathIsRefusedAtOnce)
{
    // librsvg spins on it when it opens the file itself; from its bytes, it finds no SVG.
    QTemporaryDir home, dir;
    const QString svgz = dir.filePath(QStringLiteral("cut.svgz"));
    ASSERT_TRUE(QFile::copy(hostile("truncated.svgz"), svgz));
    const test::DriverRun run = test::runDriverJob({QStringLiteral("convert.image.png"), svgz}, home.path());
    EXPECT_EQ(run.failure(), QStringLiteral("This file is damaged or not in a supported format"))
        << QJsonDocument(run.result).toJson().toStdString();
    EXPECT_EQ(entries(dir.path()), QStringList{QStringLiteral("cut.svgz")});
}

TEST(HostileFilesRun, AQuestionAboutAFileThatHangsIsGivenUpAtItsLimit)
{
    WorkerPool pool(QStringLiteral(QV_BUILD_DIR "/quorvenda-worker"), {}, 0);
    try {
        pool.call(QStringLiteral("picture"),
                  {{QStringLiteral("path"), hostile("truncated.svgz")}, {QStringLiteral("width"), 64},
                   {QStringLiteral("height"), 64}},
                  {}, qint64(4096) << 20, std::chrono::milliseconds(1500));
        FAIL() << "answered";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), QStringLiteral("This file couldn't be read"));
        EXPECT_TRUE(error.log().contains(QStringLiteral("did not answer in time")));
    }
}
