#include "catalogue/isolated/CatalogueWorkers.h"
#include "catalogue/isolated/ContentAnswers.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "jobs/WorkerPool.h"
#include "support/TestFiles.h"
#include "support/WaitFor.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <chrono>
#include <thread>

using namespace qv;

TEST(IsolatedReading, PicturesAndHeadersComeFromAWorkerAndBadFilesGiveNothing)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    // Workers other tests left idle would answer without a start; a start counts once the
    // worker answers, which a loaded machine may take a while to see.
    catalogueWorkers().clear();
    const int startedBefore = catalogueWorkers().startedCount();

    QTemporaryDir dir;
    QImage made(400, 200, QImage::Format_ARGB32);
    made.fill(QColor(10, 200, 30, 128));
    const QString png = dir.filePath(QStringLiteral("wide.png"));
    ASSERT_TRUE(made.save(png));

    const std::optional<IsolatedReading::Header> header = IsolatedReading::header(png);
    ASSERT_TRUE(header);
    EXPECT_EQ(header->size, QSize(400, 200));
    EXPECT_TRUE(header->alpha);
    EXPECT_EQ(header->frames, 1);
    EXPECT_EQ(IsolatedReading::frameCount(png), 1);

    const std::optional<QImage> picture = IsolatedReading::picture(png, QSize(100, 100));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->size(), QSize(100, 50));
    const QColor middle = picture->pixelColor(50, 25);
    EXPECT_NEAR(middle.green(), 200, 3);
    EXPECT_NEAR(middle.alpha(), 128, 3);
    EXPECT_TRUE(test::waitFor([&] { return catalogueWorkers().startedCount() > startedBefore; }, 60000));

    const QString cut = test::writeFile(dir.filePath(QStringLiteral("cut.png")), test::readFile(png).left(60));
    EXPECT_FALSE(IsolatedReading::picture(cut, QSize(100, 100), true));
    const QString junk = test::writeFile(dir.filePath(QStringLiteral("junk.pdf")), "%PDF-1.4 nothing here");
    EXPECT_FALSE(IsolatedReading::pdfNeedsPassword(junk).value_or(false));
    EXPECT_FALSE(IsolatedReading::header(dir.filePath(QStringLiteral("missing.png"))));
}

TEST(IsolatedReading, AnOfficePackagesPreviewIsReadInAWorker)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    QTemporaryDir dir;
    QImage preview(300, 400, QImage::Format_RGB32);
    preview.fill(QColor(20, 40, 220));
    const QString png = dir.filePath(QStringLiteral("thumbnail.png"));
    ASSERT_TRUE(preview.save(png));
    const auto package = [&](const char* name, const char* entry) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        const QString script = QStringLiteral("import sys, zipfile\n"
                                              "z = zipfile.ZipFile(sys.argv[1], 'w')\n"
                                              "z.writestr('mimetype', 'application/vnd.oasis.opendocument.text')\n"
                                              "z.writestr('content.xml', '<x/>')\n"
                                              "if sys.argv[3]: z.write(sys.argv[2], sys.argv[3])\n");
        return test::runProgram(QStringLiteral("/usr/bin/python3"),
                                {QStringLiteral("-c"), script, path, png, QString::fromLatin1(entry)}) == 0
            ? path
            : QString();
    };
    const QString odt = package("notes.odt", "Thumbnails/thumbnail.png");
    const QString docx = package("plain.docx", "");
    if (odt.isEmpty() || docx.isEmpty())
        GTEST_SKIP() << "python3 cannot make the packages";
    const QString damaged = test::writeFile(dir.filePath(QStringLiteral("damaged.docx")), "PK\x03\x04 not really");

    for (const bool isolated : {false, true}) {
        SCOPED_TRACE(isolated ? "in a worker" : "in this process");
        IsolatedReading::setEnabled(isolated);
        const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
        const std::optional<QImage> picture = IsolatedReading::packagePicture(odt, QSize(96, 96));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->size(), QSize(72, 96));
        EXPECT_NEAR(picture->pixelColor(36, 48).blue(), 220, 3);
        EXPECT_FALSE(IsolatedReading::packagePicture(docx, QSize(96, 96)));
        EXPECT_FALSE(IsolatedReading::packagePicture(damaged, QSize(96, 96)));
        EXPECT_FALSE(IsolatedReading::packagePicture(dir.filePath(QStringLiteral("missing.odt")), QSize(96, 96)));
    }
}

TEST(IsolatedReading, AStopEndsAHeaderThatHangsItsLibrary)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    // A cut SVGZ keeps librsvg busy; a cancelled job's memory estimate must not wait for the
    // question's own time limit.
    QTemporaryDir dir;
    const QString cut = dir.filePath(QStringLiteral("cut.svgz"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QV_SOURCE_DIR "/tests/files/hostile/truncated.svgz"), cut));
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        stop.request_stop();
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(IsolatedReading::header(cut, false, stop.get_token()));
    const qint64 took = clock.elapsed();
    stopper.join();
    EXPECT_LT(took, WorkerPool::callLimit.count() - 5000) << "the question ran to its limit";
}

TEST(IsolatedReading, AMoviesStreamsAreReadInAWorker)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
    QTemporaryDir dir;
    const QString movie = dir.filePath(QStringLiteral("clip.mov"));
    ASSERT_EQ(test::runProgram(QStringLiteral("ffmpeg"),
                               {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:duration=0.4",
                                "-c:v", "mpeg4", "file:" + movie}),
              0);
    const std::chrono::milliseconds patient{20000};
    const std::optional<MediaStreams> streams = IsolatedReading::mediaStreams(movie, patient);
    ASSERT_TRUE(streams);
    EXPECT_TRUE(streams->video);
    EXPECT_FALSE(streams->audio);
    ASSERT_TRUE(streams->description);
    EXPECT_TRUE(streams->description->contains("Input #0, mov,mp4")) << streams->description->toStdString();

    const QString text = test::writeFile(dir.filePath(QStringLiteral("notes.mov")), "not a movie\n");
    EXPECT_FALSE(IsolatedReading::mediaStreams(text, patient));
}

namespace {

// Whether this process has mapped any of libvips' loadable modules.
bool vipsModulesLoaded()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/vips-modules-");
}

} // namespace

// Asking which picture types libvips handles loads all its modules: the worker asks, and its
// answer is the one this process would give.
TEST(IsolatedReading, PictureTypesAreAskedOfAWorkerWithoutLoadingModulesHere)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    const bool loadedBefore = vipsModulesLoaded();
    std::optional<QSet<QString>> readable, writable;
    {
        IsolatedReading::setEnabled(true);
        const auto off = qScopeGuard([] { IsolatedReading::setEnabled(false); });
        readable = IsolatedReading::imageFormatIds(false);
        writable = IsolatedReading::imageFormatIds(true);
    }
    ASSERT_TRUE(readable && writable);
    if (!loadedBefore) {
        EXPECT_FALSE(vipsModulesLoaded());
    }
    EXPECT_TRUE(readable->contains(QStringLiteral("jpg")) && writable->contains(QStringLiteral("png")));
    EXPECT_EQ(*readable, IsolatedReading::imageFormatIds(false).value());
    EXPECT_EQ(*writable, IsolatedReading::imageFormatIds(true).value());
}

TEST(IsolatedReading, ManyFilesAreAskedTogetherAndAFileChangedSinceIsAskedAgain)
{
    qputenv("QUORVENDA_WORKER", QV_BUILD_DIR "/quorvenda-worker");
    IsolatedReading::setEnabled(true);
    const auto off = qScopeGuard([] {
        IsolatedReading::setEnabled(false);
        ContentAnswers::shared().clear();
        catalogueWorkers().setWarmCount(2);
    });
    ContentAnswers::shared().clear();
    // No spare is started beside the one that answers: every start counted is one asked for.
    catalogueWorkers().setWarmCount(0);
    catalogueWorkers().clear();

    QTemporaryDir dir;
    QStringList pdfs;
    for (int i = 0; i < 4; ++i)
        pdfs.append(test::writePdf(dir.filePath(QStringLiteral("part%1.pdf").arg(i))));
    const QString locked = dir.filePath(QStringLiteral("locked.pdf"));
    if (test::runProgram(QStringLiteral("/usr/bin/qpdf"), {QStringLiteral("--encrypt"), QStringLiteral("u"), QStringLiteral("o"),
                                                  QStringLiteral("256"), QStringLiteral("--"), pdfs.first(), locked})
        != 0)
        GTEST_SKIP() << "qpdf could not lock a PDF";
    pdfs.append(locked);
    const QString junk = test::writeFile(dir.filePath(QStringLiteral("junk.pdf")), "%PDF-1.4 nothing here");
    pdfs.append(junk);
    QImage still(8, 8, QImage::Format_RGB32);
    still.fill(Qt::red);
    const QString png = dir.filePath(QStringLiteral("still.png"));
    ASSERT_TRUE(still.save(png));

    // A short film, where FFmpeg can make one.
    const QString film = dir.filePath(QStringLiteral("film.mp4"));
    const bool filmMade = test::runProgram(QStringLiteral("/usr/bin/ffmpeg"),
                                           {QStringLiteral("-v"), QStringLiteral("quiet"), QStringLiteral("-f"),
                                            QStringLiteral("lavfi"), QStringLiteral("-i"),
                                            QStringLiteral("testsrc=size=64x48:duration=0.2"), film})
        == 0;

    const int startedBefore = catalogueWorkers().startedCount();
    IsolatedReading::lookAhead({pdfs, {png}, filmMade ? QStringList{film} : QStringList{}});
    // Every answer is there before any file is asked alone, the absent ones too.
    for (const QString& pdf : pdfs)
        EXPECT_TRUE(ContentAnswers::shared().find(QStringLiteral("pdfNeedsPassword"), pdf)) << pdf.toStdString();
    EXPECT_TRUE(ContentAnswers::shared().find(QStringLiteral("frameCount"), png));
    EXPECT_EQ(IsolatedReading::pdfNeedsPassword(pdfs.first()), false);
    EXPECT_EQ(IsolatedReading::pdfNeedsPassword(locked), true);
    EXPECT_FALSE(IsolatedReading::pdfNeedsPassword(junk).value_or(false));
    EXPECT_EQ(IsolatedReading::frameCount(png), 1);
    if (filmMade) {
        EXPECT_TRUE(ContentAnswers::shared().find(QStringLiteral("mediaStreams"), film));
        const std::optional<MediaStreams> streams = IsolatedReading::mediaStreams(film, std::chrono::seconds(20));
        ASSERT_TRUE(streams);
        EXPECT_TRUE(streams->video);
        EXPECT_FALSE(streams->audio);
    }
    // One worker answered for all of them.
    EXPECT_EQ(catalogueWorkers().startedCount(), startedBefore + 1);

    // A file written since is not the one the answer was about.
    ASSERT_TRUE(QFile::remove(pdfs.first()));
    ASSERT_TRUE(QFile::copy(locked, pdfs.first()));
    EXPECT_FALSE(ContentAnswers::shared().find(QStringLiteral("pdfNeedsPassword"), pdfs.first()));
    EXPECT_EQ(IsolatedReading::pdfNeedsPassword(pdfs.first()), true);
    QFile grown(junk);
    ASSERT_TRUE(grown.open(QIODevice::Append));
    ASSERT_EQ(grown.write(" more"), 5);
    grown.close();
    EXPECT_FALSE(ContentAnswers::shared().find(QStringLiteral("pdfNeedsPassword"), junk));
}
