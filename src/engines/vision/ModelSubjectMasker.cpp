#include "engines/vision/ModelSubjectMasker.h"

#include "engines/vision/VisionModule.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qv {

namespace {

constexpr auto kModelName = "subject-mask.onnx";
// A converted model is about 176 MB; anything much smaller is a cut download.
constexpr qint64 kSmallestModel = 100LL * 1024 * 1024;

std::atomic<int> g_threads{0};

} // namespace

std::optional<QString> ModelSubjectMasker::modelPath()
{
    QStringList candidates;
    const QString chosen = qEnvironmentVariable("QUORVENDA_SUBJECT_MODEL");
    if (!chosen.isEmpty()) {
        candidates << chosen;
    } else {
        const QString programs = QCoreApplication::applicationDirPath();
        for (const QString& share : {QStringLiteral("/share/quorvenda/"), QStringLiteral("/../share/quorvenda/")})
            candidates << programs + share + QLatin1String(kModelName);
    }
    for (const QString& candidate : candidates) {
        const QFileInfo file(candidate);
        if (file.isFile() && file.isReadable() && file.size() >= kSmallestModel)
            return file.canonicalFilePath();
    }
    return std::nullopt;
}

void ModelSubjectMasker::setThreads(int threads)
{
    g_threads = std::max(1, threads);
}

int ModelSubjectMasker::threadsNow()
{
    const int cores = std::max(1, QThread::idealThreadCount());
    const int share = g_threads.load() > 0 ? g_threads.load() : cores;
    // The network's threads wait for each other at every layer: on a busy machine one that
    // gets no core holds up the rest, so they are never more than the cores the load leaves.
    // The minute's average lags a batch whose pictures have just started side by side; the
    // threads that can run now do not (less this one).
    double average = 0;
    int runnable = 0;
    if (FILE* loadavg = std::fopen("/proc/loadavg", "re")) {
        double five = 0, fifteen = 0;
        if (std::fscanf(loadavg, "%lf %lf %lf %d/", &average, &five, &fifteen, &runnable) != 4)
            runnable = 0;
        std::fclose(loadavg);
    } else if (::getloadavg(&average, 1) != 1) {
        return std::min(share, cores);
    }
    const int busy = std::max(int(std::lround(average)), runnable - 1);
    const int idle = std::max(1, cores - busy);
    return std::clamp(std::min(share, idle), 1, cores);
}

QImage ModelSubjectMasker::subjectMask(const QImage& picture, const std::stop_token& stop) const
{
    throwIfCancelled(stop);
    const std::optional<QString> path = modelPath();
    if (!path)
        throw EngineError(QStringLiteral("Couldn't find the subject of this image"),
                          QStringLiteral("The subject model is not installed"));
    return VisionModule::loaded().subjectMask(picture, *path, threadsNow(), stop);
}

} // namespace qv
