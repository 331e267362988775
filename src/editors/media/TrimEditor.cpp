#include "editors/media/TrimEditor.h"

#include "editors/EditorActivity.h"
#include "editors/media/MediaEditorController.h"
#include "editors/media/MediaPreviewArguments.h"
#include "editors/media/ProcessMediaPlayer.h"
#include "engines/media/probe/MediaProbe.h"
#include "jobs/Toasts.h"
#include "model/errors/EngineError.h"
#include "model/Log.h"
#include "model/operations/Capabilities.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/FFmpegInvocation.h"
#include "platform/processes/ProcessRunner.h"
#include "platform/processes/ThreadCall.h"
#include "platform/sandbox/PlayerProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <cmath>
#include <memory>

namespace qv {

namespace {

bool assumeUnplayable = false;

// Playable means the player reaches LoadedMedia within this time.
constexpr int playabilityTimeoutMs = 5000;
// An opening that takes longer than this says so.
constexpr int openingWordMs = 500;

// Proxies still being made stop when the application quits.
std::stop_source& quitStop()
{
    static std::stop_source source;
    static const bool connected = [] {
        if (auto* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, [] { source.request_stop(); });
        return true;
    }();
    Q_UNUSED(connected);
    return source;
}

void couldNotOpen(const FileInfo& file)
{
    showToast(QStringLiteral("Couldn't open %1 for editing").arg(file.name),
              QStringLiteral("exclamationmark.triangle"), 3.0);
}

// Asks the player whether it can play the file; the answer arrives on the main thread.
void checkPlayable(const QUrl& url, std::function<void(bool)> done)
{
    if (assumeUnplayable) {
        QTimer::singleShot(0, [done = std::move(done)] { done(false); });
        return;
    }
    // Asked of a player process, like the playing itself: opening the file is decoding it.
    auto* player = new PlayerProcess(url, QSize());
    auto* timer = new QTimer(player);
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto settle = [player, answer](bool playable) {
        if (!*answer)
            return;
        const auto callback = std::exchange(*answer, {});
        player->end();
        player->deleteLater();
        callback(playable);
    };
    QObject::connect(player, &PlayerProcess::loaded, player, [settle] { settle(true); });
    QObject::connect(player, &PlayerProcess::failed, player, [settle] { settle(false); });
    QObject::connect(player, &PlayerProcess::died, player, [settle] { settle(false); });
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, player, [settle] { settle(false); });
    timer->start(playabilityTimeoutMs);
}

struct PreviewFacts {
    double duration = 0.0;
    std::optional<QSizeF> videoSize;
    std::optional<QString> demuxer;
};

// The duration, the displayed picture size (a ±90° rotation swapping the sides) and how FFmpeg
// must read the file.
std::optional<PreviewFacts> probePreview(const QUrl& preview)
{
    try {
        const MediaInfo info = probeMediaInfo(preview, std::stop_token());
        if (!info.duration || !std::isfinite(*info.duration) || !(*info.duration > 0))
            return std::nullopt;
        PreviewFacts facts;
        facts.duration = *info.duration;
        facts.demuxer = info.demuxer;
        if (info.video && info.video->width > 0 && info.video->height > 0) {
            const bool quarter = info.video->rotation % 180 == 90;
            facts.videoSize = quarter ? QSizeF(info.video->height, info.video->width)
                                      : QSizeF(info.video->width, info.video->height);
        }
        return facts;
    } catch (const std::exception& error) {
        qCInfo(appLog) << "Cannot probe" << preview << ":" << error.what();
        return std::nullopt;
    }
}

} // namespace

void TrimEditor::setAssumeUnplayable(bool unplayable)
{
    assumeUnplayable = unplayable;
}

void TrimEditor::previewURL(const FileInfo& file, PreviewDone done)
{
    quitStop();
    checkPlayable(file.url, [file, done = std::move(done)](bool playable) mutable {
        if (playable) {
            done(file.url, std::nullopt);
            return;
        }
        showToast(QStringLiteral("Preparing a preview of %1…").arg(file.name), QStringLiteral("hourglass"), 10.0);
        const std::optional<QUrl>& ffmpeg = Capabilities::shared().ffmpegURL();
        QString root;
        try {
            root = TemporaryRoot::secure();
        } catch (const std::exception& error) {
            qCWarning(appLog) << "No preview:" << error.what();
        }
        if (!ffmpeg || root.isEmpty()) {
            done(std::nullopt, std::nullopt);
            return;
        }
        const bool audio = file.category == FileCategory::audio;
        const QString proxy = root + QStringLiteral("/proxy-")
                              + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                              + (audio ? QStringLiteral(".m4a") : QStringLiteral(".mp4"));
        WorkFolderRegistry::add(proxy);
        const std::stop_token stop = quitStop().get_token();
        runInBackground([program = *ffmpeg, audio, source = file.url, root, proxy, stop,
                         done = std::move(done)]() mutable {
            bool made = false;
            try {
                // Read as the job will read it: a file FFmpeg would misjudge is named its demuxer.
                std::optional<QString> demuxer;
                try {
                    demuxer = probeMediaInfo(program, source, stop).demuxer;
                } catch (const EngineError&) {
                    // Unreadable as probed: FFmpeg's own guess is all there is.
                }
                const QStringList arguments =
                    ffmpegArgumentPrefix() + proxyArguments(audio, source.toLocalFile(), demuxer, proxy);
                const ProcessRunner::Output output =
                    ProcessRunner::run(program, arguments, stop, QHash<QString, QString>{}, QUrl::fromLocalFile(root));
                made = output.status == 0 && !output.terminatedBySignal;
                if (!made)
                    qCInfo(appLog).noquote() << "No preview:" << output.stderrText().trimmed();
            } catch (const std::exception& error) {
                qCInfo(appLog) << "No preview:" << error.what();
            }
            if (!made) {
                QFile::remove(proxy);
                WorkFolderRegistry::remove(proxy);
            }
            postToMainThread([made, proxy, done = std::move(done)] {
                if (made)
                    done(QUrl::fromLocalFile(proxy), proxy);
                else
                    done(std::nullopt, std::nullopt);
            });
        });
    });
}

void TrimEditor::open(const FileInfo& file, Mode mode, QPointF point, Completion completion)
{
    EditorActivity::begin();
    // The window waits for the player's answer; a slow one gets a word, so the drop is seen.
    QPointer<QTimer> slow = new QTimer;
    slow->setSingleShot(true);
    QObject::connect(slow, &QTimer::timeout, slow, [name = file.name, slow] {
        showToast(QStringLiteral("Opening %1…").arg(name), QStringLiteral("hourglass"), 3.0);
        slow->deleteLater();
    });
    slow->start(openingWordMs);
    previewURL(file, [file, mode, point, slow, completion = std::move(completion)](std::optional<QUrl> preview,
                                                                                  std::optional<QString> proxy) mutable {
        if (slow) {
            slow->stop();
            slow->deleteLater();
        }
        if (!preview) {
            couldNotOpen(file);
            EditorActivity::end();
            return;
        }
        runInBackground([file, mode, point, completion = std::move(completion), preview = *preview, proxy]() mutable {
            const std::optional<PreviewFacts> facts = probePreview(preview);
            postToMainThread([file, mode, point, completion = std::move(completion), preview, proxy, facts]() mutable {
                EditorActivity::end();
                const auto releaseProxy = [proxy] {
                    if (proxy)
                        WorkFolderRegistry::remove(*proxy);
                };
                if (!facts) {
                    couldNotOpen(file);
                    releaseProxy();
                    return;
                }
                auto* controller = new MediaEditorController(
                    file, mode, preview, facts->demuxer, ProcessMediaPlayer::make(preview), facts->duration, facts->videoSize,
                    [completion = std::move(completion)](std::optional<OperationOptions> options) {
                        if (options && completion)
                            completion(*options);
                    });
                openMediaEditors().append(controller);
                QPointer<MediaEditorController> weak(controller);
                controller->onClose = [weak, releaseProxy] {
                    releaseProxy();
                    if (weak) {
                        openMediaEditors().removeAll(weak.data());
                        weak->deleteLater();
                    }
                };
                controller->show(point);
            });
        });
    });
}

} // namespace qv
