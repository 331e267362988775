#include "support/DevDriver.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qv;
using namespace qv::test;

namespace {

// quorvenda-dev with arguments a shell makes from printf formats, so names that are not UTF-8
// reach it as their bytes (QProcess would pass text). Run in folder, as user when given.
QJsonObject runWithRawNames(const QString& folder, const QString& home, const QString& arguments,
                            const QString& user = {})
{
    QString command = QStringLiteral("cd \"$1\" && exec \"$0\" ") + arguments;
    QStringList args{QStringLiteral("-c"), command, QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), folder};
    QString program = QStringLiteral("sh");
    if (!user.isEmpty()) {
        args.prepend(QStringLiteral("sh"));
        args = QStringList{QStringLiteral("-u"), user, QStringLiteral("--"), QStringLiteral("env"),
                           QStringLiteral("HOME=") + home, QStringLiteral("TMPDIR=") + home}
            + args;
        program = QStringLiteral("runuser");
    }
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    process.waitForFinished(120000);
    return lastJsonLine(process.readAllStandardOutput().trimmed());
}

QString failureOf(const QJsonObject& run)
{
    return run.value(QStringLiteral("failure")).toObject().value(QStringLiteral("message")).toString();
}

void writePicture(const QByteArray& path, QRgb colour)
{
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(colour);
    const QString temporary = QFile::decodeName(path.left(path.lastIndexOf('/'))) + QStringLiteral("/tmp.jpg");
    ASSERT_TRUE(image.save(temporary));
    ASSERT_EQ(::rename(QFile::encodeName(temporary).constData(), path.constData()), 0);
}

QByteArray contents(const QByteArray& path)
{
    QByteArray bytes;
    const int fd = ::open(path.constData(), O_RDONLY);
    if (fd < 0)
        return {};
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, n);
    ::close(fd);
    return bytes;
}

} // namespace

// "x\xff.jpg" beside its twin "x\xef\xbf\xbd.jpg", which is what Qt's text of the first names.
TEST(FileRefusalsRun, ANameThatIsNotUtf8IsRefusedAndItsTwinNeverTouched)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray odd = folder + "/x\xff.jpg";
    const QByteArray twin = folder + "/x\xef\xbf\xbd.jpg";
    writePicture(odd, qRgb(255, 0, 0));
    writePicture(twin, qRgb(0, 0, 255));
    const QByteArray oddBytes = contents(odd);
    const QByteArray twinBytes = contents(twin);
    const QString dest = dir.filePath(QStringLiteral("dest"));
    ASSERT_TRUE(QDir().mkpath(dest));

    const QJsonObject converted = runWithRawNames(dir.path(), home.path(), QStringLiteral("run convert.image.png \"$(printf 'x\\377.jpg')\""));
    EXPECT_EQ(converted.value(QStringLiteral("state")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(failureOf(converted), QStringLiteral("Quorvenda can't read this file's name"));
    EXPECT_FALSE(QFile::exists(dir.filePath(QString::fromUtf8("x\xef\xbf\xbd.png"))));

    // Move, as the Actions wheel would run it: nothing moves, the toast says why.
    const QJsonObject moved = runWithRawNames(
        dir.path(), home.path(), QStringLiteral("action action.move --folder \"$2\" \"$(printf 'x\\377.jpg')\"").replace(QStringLiteral("$2"), dest));
    EXPECT_EQ(moved.value(QStringLiteral("toast")).toString(), QStringLiteral("Quorvenda can't read this file's name"));
    EXPECT_TRUE(QDir(dest).isEmpty());
    EXPECT_EQ(contents(odd), oddBytes);
    EXPECT_EQ(contents(twin), twinBytes);

    // The twin itself is an ordinary file and converts as one: its own blue, not the red.
    const DriverRun own = runDriverJob({QStringLiteral("convert.image.png"), QFile::decodeName(twin)}, home.path());
    ASSERT_EQ(own.code, 0) << own.failure().toStdString();
    ASSERT_EQ(own.outputs().size(), 1);
    const QImage result(own.outputs().first());
    EXPECT_EQ(result.pixelColor(4, 4).blue() > 200 && result.pixelColor(4, 4).red() < 50, true);
}

TEST(FileRefusalsRun, PipesDevicesSocketsAndLoopsAreRefusedAtOnce)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.jpg"))).constData(), 0600), 0);
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero.jpg"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("b.png")), dir.filePath(QStringLiteral("a.png"))));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("a.png")), dir.filePath(QStringLiteral("b.png"))));

    const struct {
        const char* name;
        const char* sentence;
    } cases[] = {
        {"fifo.jpg", "This is a pipe, not a file Quorvenda can read"},
        {"zero.jpg", "This is a device, not a file Quorvenda can read"},
        {"a.png", "This link goes round in a circle and leads to no file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const DriverRun run = runDriverJob({QStringLiteral("convert.image.tiff"), dir.filePath(QString::fromLatin1(c.name))}, home.path());
        EXPECT_EQ(run.failure(), QString::fromLatin1(c.sentence));
        EXPECT_TRUE(run.outputs().isEmpty());
    }
    // The wheel offers the pipe nothing, not even an action.
    for (const char* kind : {"convert", "tools", "actions"}) {
        const QJsonObject wheel = QJsonDocument::fromJson(
            runDevDriver({QStringLiteral("wheel"), QString::fromLatin1(kind), dir.filePath(QStringLiteral("fifo.jpg"))}, home.path())).object();
        EXPECT_TRUE(wheel.value(QStringLiteral("segments")).toArray().isEmpty()) << kind;
        EXPECT_EQ(wheel.value(QStringLiteral("message")).toString(), QStringLiteral("This is a pipe, not a file Quorvenda can read"));
    }
}

// Root reads every file: the run goes as the ordinary user when there is one.
TEST(FileRefusalsRun, AFileTheUserMayNotReadIsSaidSo)
{
    QString user;
    if (::geteuid() == 0) {
        if (runProgram(QStringLiteral("id"), {QStringLiteral("cloudsdk")}) != 0)
            GTEST_SKIP() << "no ordinary user to run as";
        user = QStringLiteral("cloudsdk");
        // A build inside a folder only root may enter leaves that user nothing to run.
        if (runProgram(QStringLiteral("runuser"), {QStringLiteral("-u"), user, QStringLiteral("--"), QStringLiteral("test"),
                                                   QStringLiteral("-x"), QStringLiteral(QV_BUILD_DIR "/quorvenda-dev")}) != 0)
            GTEST_SKIP() << "the ordinary user cannot reach this build";
    }
    QTemporaryDir dir(QStringLiteral("/tmp/qv-locked-XXXXXX"));
    QTemporaryDir home(QStringLiteral("/tmp/qv-home-XXXXXX"));
    ::chmod(QFile::encodeName(dir.path()).constData(), 0777);
    if (!user.isEmpty())
        runProgram(QStringLiteral("chown"), {user, home.path()});
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(Qt::red);
    const QString locked = dir.filePath(QStringLiteral("locked.png"));
    ASSERT_TRUE(image.save(locked));
    ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0200), 0);

    const QJsonObject run = runWithRawNames(dir.path(), home.path(), QStringLiteral("run convert.image.jpg locked.png"), user);
    EXPECT_EQ(failureOf(run), QStringLiteral("Quorvenda isn't allowed to read this file"));
    EXPECT_FALSE(run.value(QStringLiteral("failure")).toObject().value(QStringLiteral("details")).toString().contains(
        QStringLiteral("damaged")));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("locked.jpg"))));
}

TEST(FileRefusalsRun, AFullDiskSaysSo)
{
    SmallDisk disk(512 * 1024);
    if (!disk.isMounted())
        GTEST_SKIP() << "mounting a small disk needs root";
    QTemporaryDir home;
    QImage noise(600, 600, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb((x * 7 + y * 13) % 256, (x * y) % 256, (x ^ y) % 256));
    const QString source = disk.filePath(QStringLiteral("big.jpg"));
    ASSERT_TRUE(noise.save(source, "JPEG", 95));
    ASSERT_TRUE(disk.fillLeaving(40 * 1024));
    for (const char* target : {"png", "webp", "pdf"}) {
        SCOPED_TRACE(target);
        const DriverRun run = runDriverJob({QStringLiteral("convert.image.") + QLatin1String(target), source}, home.path());
        EXPECT_EQ(run.failure(), QStringLiteral("Not enough disk space"));
        EXPECT_TRUE(run.outputs().isEmpty());
    }
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2)
        << "the source and the filler, nothing left behind";
}

TEST(FileRefusalsRun, ExtractionSaysItLeftOutLinksThatLeadOut)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QString content = dir.filePath(QStringLiteral("content"));
    writeFile(content + QStringLiteral("/in.txt"), "inside");
    ASSERT_TRUE(QFile::link(QStringLiteral("/etc/passwd"), content + QStringLiteral("/out")));
    ASSERT_TRUE(QFile::link(QStringLiteral("../../etc/hostname"), content + QStringLiteral("/up")));
    ASSERT_TRUE(QFile::link(QStringLiteral("in.txt"), content + QStringLiteral("/ok")));
    const QString archive = dir.filePath(QStringLiteral("links.tar"));
    ASSERT_EQ(runProgram(QStringLiteral("tar"), {QStringLiteral("-C"), content, QStringLiteral("-cf"), archive,
                                                  QStringLiteral("in.txt"), QStringLiteral("out"), QStringLiteral("up"),
                                                  QStringLiteral("ok")}),
              0);
    const DriverRun run = runDriverJob({QStringLiteral("tool.archive.extract"), archive}, home.path());
    ASSERT_EQ(run.code, 0) << run.failure().toStdString();
    EXPECT_EQ(run.messages(), QStringList{QStringLiteral("2 links pointing outside the archive were left out")});
    ASSERT_EQ(run.outputs().size(), 1);
    const QString folder = run.outputs().first();
    EXPECT_TRUE(QFileInfo(folder + QStringLiteral("/ok")).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(folder + QStringLiteral("/out")) || QFileInfo(folder + QStringLiteral("/out")).isSymLink());
    EXPECT_FALSE(QFileInfo(folder + QStringLiteral("/up")).isSymLink());
}

// A line feed is a byte of a name like any other: the worker sees the file and its folder, and
// the result is placed beside it, named with a space where the input's name has the line feed.
TEST(FileRefusalsRun, NamesWithALineFeedAreReadByEveryEngine)
{
    QTemporaryDir home;
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("two\nlines"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString picture = folder + QStringLiteral("/holiday\nphoto.jpg");
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::red);
    ASSERT_TRUE(image.save(picture, "JPEG"));
    DriverRun run = runDriverJob({QStringLiteral("convert.image.png"), picture}, home.path());
    ASSERT_EQ(run.code, 0) << run.failure().toStdString();
    EXPECT_EQ(run.outputs(), QStringList{folder + QStringLiteral("/holiday photo.png")});
    EXPECT_FALSE(QImage(folder + QStringLiteral("/holiday photo.png")).isNull());

    // Two of them merged: each is read.
    const QString other = folder + QStringLiteral("/second\n.jpg");
    image.fill(Qt::blue);
    ASSERT_TRUE(image.save(other, "JPEG"));
    run = runDriverJob({QStringLiteral("tool.image.merge"), picture, other}, home.path());
    ASSERT_EQ(run.code, 0) << run.failure().toStdString();
    ASSERT_EQ(run.outputs().size(), 1);
    EXPECT_EQ(QImage(run.outputs().first()).width(), 32);

    // A movie, through FFmpeg.
    const QString movie = folder + QStringLiteral("/clip\n1.mp4");
    if (runProgram(QStringLiteral("ffmpeg"), {"-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=64x48:rate=10:duration=1",
                                              "-pix_fmt", "yuv420p", movie})
        != 0)
        GTEST_SKIP() << "no FFmpeg to make a movie";
    run = runDriverJob({QStringLiteral("convert.video.mkv"), movie}, home.path());
    ASSERT_EQ(run.code, 0) << run.failure().toStdString();
    EXPECT_EQ(run.outputs(), QStringList{folder + QStringLiteral("/clip 1.mkv")});
}
