// Moving a large file to another filesystem: our Move against mv, both timed in one run, the
// median of 3 rounds each, and the resident memory the move adds at its peak.
//   bench_move [--megabytes N] [--from DIR] [--to DIR]
// Defaults: 512 MB from the temporary folder to /dev/shm (a tmpfs: another filesystem).

#include "app/actions/QuickActionRules.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace qv;

namespace {

qint64 statusKilobytes(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Resets the peak so that VmHWM tells what comes after.
void resetPeak()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

bool mv(const QString& from, const QString& toFolder)
{
    return QProcess::execute(QStringLiteral("mv"), {QStringLiteral("-n"), from, toFolder + QLatin1Char('/')}) == 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

dev_t deviceOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_dev : dev_t(-1);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 megabytes = 512;
    QString fromRoot = QDir::tempPath();
    QString toRoot = QStringLiteral("/dev/shm");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--megabytes"))
            megabytes = args[i + 1].toLongLong();
        else if (args[i] == QLatin1String("--from"))
            fromRoot = args[i + 1];
        else if (args[i] == QLatin1String("--to"))
            toRoot = args[i + 1];
    }
    QTemporaryDir from(fromRoot + QStringLiteral("/bench-move-XXXXXX"));
    QTemporaryDir to(toRoot + QStringLiteral("/bench-move-XXXXXX"));
    if (!from.isValid() || !to.isValid() || megabytes <= 0) {
        std::fprintf(stderr, "cannot make the folders\n");
        return 1;
    }
    if (deviceOf(from.path()) == deviceOf(to.path())) {
        std::fprintf(stderr, "%s and %s are on the same filesystem\n", qPrintable(fromRoot), qPrintable(toRoot));
        return 1;
    }

    const QString name = QStringLiteral("big.bin");
    const QString source = from.filePath(name);
    const QString moved = to.filePath(name);
    {
        QFile file(source);
        QByteArray block(1 << 20, Qt::Uninitialized);
        QRandomGenerator(1).fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 i = 0; i < megabytes; ++i) {
            if (file.write(block) != block.size())
                return 1;
        }
        if (!file.flush())
            return 1;
    }
    const qint64 size = QFileInfo(source).size();

    std::vector<double> mvSeconds, ourSeconds;
    qint64 peakGrowthKb = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (!mv(source, to.path()))
            return 1;
        mvSeconds.push_back(timer.nsecsElapsed() / 1e9);
        if (!mv(moved, from.path()))
            return 1;

        const qint64 before = statusKilobytes("VmRSS:");
        resetPeak();
        timer.restart();
        try {
            const auto result = moveIntoFolder(QUrl::fromLocalFile(source), to.path());
            if (!result || result->toLocalFile() != moved)
                return 1;
        } catch (...) {
            std::fprintf(stderr, "the move failed\n");
            return 1;
        }
        ourSeconds.push_back(timer.nsecsElapsed() / 1e9);
        peakGrowthKb = std::max(peakGrowthKb, statusKilobytes("VmHWM:") - before);
        if (QFileInfo(moved).size() != size || QFile::exists(source))
            return 1;
        if (!mv(moved, from.path()))
            return 1;
    }

    const double ours = median(ourSeconds);
    const double theirs = median(mvSeconds);
    std::printf("| Move %lld MB to another filesystem | %.3f s | mv %.3f s | %.2f | 1.5 | %s |\n", megabytes,
                ours, theirs, ours / theirs, ours <= 1.5 * theirs ? "held" : "missed");
    std::printf("| memory Move adds for %lld MB | %lld KB | - | - | ≤ 65536 KB | %s |\n", megabytes,
                peakGrowthKb, peakGrowthKb < 64 * 1024 ? "held" : "missed");
    return ours <= 1.5 * theirs && peakGrowthKb < 64 * 1024 ? 0 : 3;
}
