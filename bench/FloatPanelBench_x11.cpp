// Float against vipsthumbnail, both in one run, median of 3: the time from floatFiles to six
// panels on screen with their pictures for six 24-megapixel JPEGs, against
// `vipsthumbnail -s 520` making the same six thumbnails; then the peak resident memory of a
// process floating one 100-megapixel JPEG. Needs an X server: DISPLAY=:n bench_float_panel_x11

#include "app/float/FloatPanel.h"
#include "app/preview/PictureView.h"
#include "catalogue/isolated/IsolatedReading.h"
#include "catalogue/SystemServices.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace qv;

namespace {

bool waitFor(const std::function<bool()>& condition, int limitMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess process;
    process.start(program, args);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

bool makeJpeg(const QString& path, int width, int height)
{
    return run("ffmpeg", {"-v", "error", "-y", "-f", "lavfi", "-i",
                          QString("testsrc2=size=%1x%2").arg(width).arg(height), "-frames:v", "1",
                          "-q:v", "3", path});
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool allShowing(int count)
{
    const auto& panels = openFloatPanels();
    if (panels.size() != count)
        return false;
    for (FloatPanel* panel : panels) {
        auto* view = qobject_cast<PictureView*>(panel->contentView());
        if (!panel->isVisible() || !view || !view->hasPicture())
            return false;
    }
    return true;
}

void closeAll()
{
    for (FloatPanel* panel : QList<FloatPanel*>(openFloatPanels()))
        panel->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

long peakResidentKilobytes()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The child: floats one file and prints its peak resident memory in kilobytes.
int floatOne(const QString& path)
{
    floatFiles({QUrl::fromLocalFile(path)}, {800, 500});
    if (!waitFor([] { return allShowing(1); }))
        return 1;
    std::printf("%ld\n", peakResidentKilobytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    installSystemServices();
    // Pictures are read as the app reads them: in a worker (QV_IN_PROCESS=1 reads them here).
    if (qEnvironmentVariableIsEmpty("QUORVENDA_WORKER"))
        qputenv("QUORVENDA_WORKER", QFile::encodeName(QCoreApplication::applicationDirPath() + "/../quorvenda-worker"));
    IsolatedReading::setEnabled(qgetenv("QV_IN_PROCESS") != "1");
    if (argc == 3 && QByteArray(argv[1]) == "--float-one")
        return floatOne(QString::fromLocal8Bit(argv[2]));

    QTemporaryDir dir;
    QList<QUrl> urls;
    QStringList paths;
    for (int i = 0; i < 6; ++i) {
        const QString path = dir.filePath(QString("photo%1.jpg").arg(i));
        if (!makeJpeg(path, 6000, 4000)) {
            std::fprintf(stderr, "cannot make the test pictures (ffmpeg)\n");
            return 1;
        }
        paths << path;
        urls << QUrl::fromLocalFile(path);
    }
    QDir().mkpath(dir.filePath("thumbs"));

    QList<double> floatTimes, vipsTimes;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        floatFiles(urls, {900, 600});
        if (!waitFor([] { return allShowing(6); })) {
            std::fprintf(stderr, "the panels did not show their pictures\n");
            return 1;
        }
        floatTimes << timer.nsecsElapsed() / 1e6;
        closeAll();

        timer.restart();
        if (!run("vipsthumbnail", QStringList{"-s", "520", "-o", dir.filePath("thumbs/%s.jpg")} + paths)) {
            std::fprintf(stderr, "vipsthumbnail failed\n");
            return 1;
        }
        vipsTimes << timer.nsecsElapsed() / 1e6;
    }
    const double floatMs = median(floatTimes);
    const double vipsMs = median(vipsTimes);
    std::printf("| float six 24 MP JPEGs with their pictures | %.0f ms | vipsthumbnail -s 520 %.0f ms | %.2f | 1.5 | %s |\n",
                floatMs, vipsMs, floatMs / vipsMs, floatMs <= 1.5 * vipsMs ? "held" : "missed");

    const QString huge = dir.filePath("huge.jpg");
    if (!makeJpeg(huge, 10000, 10000)) {
        std::fprintf(stderr, "cannot make the 100-megapixel picture\n");
        return 1;
    }
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--float-one", huge});
    if (!child.waitForFinished(120000) || child.exitCode() != 0) {
        std::fprintf(stderr, "the 100-megapixel float failed\n");
        return 1;
    }
    const long kilobytes = child.readAllStandardOutput().trimmed().toLong();
    std::printf("| peak memory, float one 100 MP JPEG | %.0f MB | - | - | ≤ 250 MB | %s |\n", kilobytes / 1024.0,
                kilobytes < 250 * 1024 ? "held" : "missed");
    return floatMs <= 1.5 * vipsMs && kilobytes < 250 * 1024 ? 0 : 2;
}
