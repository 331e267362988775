#include "editors/media/FilmstripLoader.h"

#include "editors/EditorActivity.h"
#include "editors/media/MediaPreviewArguments.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/ThreadCall.h"

#include <atomic>
#include <memory>

#include <utility>

namespace qv {

namespace {

constexpr int parallelRuns = 3;

struct FilmstripRun {
    QUrl program;
    QString file;
    std::optional<QString> demuxer;
    double duration;
    int count;
    std::stop_token stop;
    std::function<void(int, const QImage&)> onFrame;
    std::function<void()> onDone; // main thread only, as workersLeft
    int workersLeft = 0;
    std::atomic<int> next{0};
};

QImage frameAt(const FilmstripRun& run, int slot)
{
    const double seconds = run.duration * (slot + 0.5) / run.count;
    const ProcessRunner::Output output =
        ProcessRunner::run(run.program, frameArguments(seconds, run.file, run.demuxer), run.stop, QHash<QString, QString>{},
                           QUrl::fromLocalFile(TemporaryRoot::path()));
    if (output.status != 0 || output.terminatedBySignal)
        return {};
    return QImage::fromData(output.stdoutData, "PPM");
}

} // namespace

void loadFilmstrip(const QUrl& file, const std::optional<QString>& demuxer, double duration, int count,
                   std::stop_token stop,
                   std::function<void(int slot, const QImage& frame)> onFrame,
                   std::function<void()> onDone)
{
    const auto giveUp = [&onDone] {
        if (onDone)
            postToMainThread(std::move(onDone));
    };
    const std::optional<QUrl>& program = Capabilities::shared().ffmpegURL();
    if (!program || count < 1) {
        giveUp();
        return;
    }
    try {
        TemporaryRoot::secure();
    } catch (const std::exception& error) {
        qCWarning(enginesLog) << "No filmstrip:" << error.what();
        giveUp();
        return;
    }
    auto run = std::make_shared<FilmstripRun>();
    run->program = *program;
    run->file = file.toLocalFile();
    run->demuxer = demuxer;
    run->duration = duration;
    run->count = count;
    run->stop = stop;
    run->onFrame = std::move(onFrame);
    run->onDone = std::move(onDone);
    const int workers = std::min(parallelRuns, count);
    run->workersLeft = workers;
    for (int worker = 0; worker < workers; ++worker) {
        EditorActivity::begin();
        runInBackground(
            [run] {
                for (int slot = run->next++; slot < run->count && !run->stop.stop_requested(); slot = run->next++) {
                    QImage frame;
                    try {
                        frame = frameAt(*run, slot);
                    } catch (const std::exception& error) {
                        if (!run->stop.stop_requested())
                            qCInfo(enginesLog) << "No filmstrip frame" << slot << ":" << error.what();
                        break;
                    }
                    if (frame.isNull())
                        continue;
                    postToMainThread([run, slot, frame] {
                        if (!run->stop.stop_requested())
                            run->onFrame(slot, frame);
                    });
                }
                postToMainThread([run] {
                    EditorActivity::end();
                    // Frames were posted before this, so they are all handed over by now.
                    if (--run->workersLeft == 0 && run->onDone)
                        std::exchange(run->onDone, {})();
                });
            },
            1);
    }
}

} // namespace qv
