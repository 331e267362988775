#include "editors/media/MediaEditorController.h"

#include "editors/EditorActivity.h"
#include "editors/media/FilmstripLoader.h"
#include "editors/media/MediaEditorLayout.h"
#include "editors/media/MediaEditorView.h"
#include "editors/media/WaveformPeaks.h"
#include "model/errors/CancellationError.h"
#include "platform/processes/ThreadCall.h"
#include "platform/ui/EditorWindow.h"
#include "platform/ui/WindowPlacement.h"

#include <QTimer>

#include <cmath>

namespace qv {

namespace {

QString titleFor(TrimEditor::Mode mode, const QString& name)
{
    switch (mode) {
    case TrimEditor::Mode::split: return QStringLiteral("Split ") + name;
    case TrimEditor::Mode::ringtone: return QStringLiteral("Ringtone from ") + name;
    case TrimEditor::Mode::trim: break;
    }
    return QStringLiteral("Trim ") + name;
}

} // namespace

MediaEditorController::MediaEditorController(FileInfo file, TrimEditor::Mode mode, QUrl preview,
                                             std::optional<QString> previewDemuxer,
                                             std::unique_ptr<MediaPlayerPort> player, double duration,
                                             std::optional<QSizeF> videoSize, Completion completion,
                                             QObject* parent)
    : QObject(parent),
      m_file(std::move(file)),
      m_mode(mode),
      m_preview(std::move(preview)),
      m_previewDemuxer(std::move(previewDemuxer)),
      m_player(std::move(player)),
      m_timeline(new MediaTimeline(duration, videoSize.has_value(),
                                   mode == TrimEditor::Mode::ringtone ? std::optional<double>(40.0) : std::nullopt,
                                   this)),
      m_videoSize(videoSize),
      m_completion(std::move(completion)),
      m_ticker(new QTimer(this))
{
    m_ticker->setInterval(33);
    connect(m_ticker, &QTimer::timeout, this, [this] { handleTick(m_player->position()); });
}

MediaEditorController::~MediaEditorController()
{
    m_loading.request_stop();
    openMediaEditors().removeAll(this);
}

EditorWindow* MediaEditorController::window() const
{
    return m_window.data();
}

MediaEditorActions MediaEditorController::actions()
{
    QPointer<MediaEditorController> self(this);
    return {
        [self] {
            if (self)
                self->togglePlay();
        },
        [self](double seconds) {
            if (self)
                self->seek(seconds);
        },
        [self] {
            if (self)
                self->apply();
        },
    };
}

void MediaEditorController::show(QPointF point)
{
    const MediaEditorLayout layout = MediaEditorLayout::forPicture(m_videoSize);
    QPointer<MediaEditorController> self(this);
    // Cancel ends the editor as closing its window does: nothing handed back, no job.
    auto cancel = [self] {
        if (self && self->m_window)
            self->m_window->close();
        else if (self)
            self->windowDidCancel();
    };
    auto* view = new MediaEditorView(m_timeline, m_player.get(), m_mode, layout, actions(), cancel);
    m_window = presentInEditorWindow(titleFor(m_mode, m_file.name), false,
                                     [self] {
                                         if (self)
                                             self->windowDidCancel();
                                     },
                                     view, point);
    m_ticker->start();
    startLoading();
    // The player shows a picture once it has been somewhere; until then the view is busy.
    if (m_videoSize && !m_seeking && !m_pendingSeek)
        moveTo(m_timeline->time());
}

void MediaEditorController::togglePlay()
{
    if (m_finished)
        return;
    if (m_player->rate() != 0) {
        m_player->pause();
        m_timeline->setPlaying(false);
        return;
    }
    const double time = m_timeline->time();
    if (m_mode == TrimEditor::Mode::split) {
        if (time >= m_timeline->duration - 0.05)
            moveTo(0.0);
    } else if (time < m_timeline->start() || time >= m_timeline->end() - 0.05) {
        moveTo(m_timeline->start());
    }
    m_player->play();
    m_timeline->setPlaying(true);
}

void MediaEditorController::moveTo(double seconds)
{
    m_timeline->setTime(seconds);
    m_pendingSeek = seconds;
    if (!m_seeking)
        performPendingSeek();
}

void MediaEditorController::seek(double seconds)
{
    if (m_finished)
        return;
    moveTo(seconds);
}

void MediaEditorController::performPendingSeek()
{
    if (!m_pendingSeek)
        return;
    const double target = *std::exchange(m_pendingSeek, std::nullopt);
    m_seeking = true;
    QPointer<MediaEditorController> self(this);
    m_player->seek(target, [self] {
        if (self)
            self->seekDidFinish();
    });
}

void MediaEditorController::seekDidFinish()
{
    m_seeking = false;
    if (!m_timeline->isPictureWatched())
        m_timeline->setPictureShown(true);
    if (m_pendingSeek)
        performPendingSeek();
}

void MediaEditorController::handleTick(double t)
{
    if (m_finished || !std::isfinite(t))
        return;
    if (!m_seeking && !m_pendingSeek)
        m_timeline->setTime(t);
    const bool running = m_player->rate() != 0;
    if (m_mode != TrimEditor::Mode::split && running && t >= m_timeline->end()) {
        m_player->pause();
        moveTo(m_timeline->end());
    }
    const bool nowRunning = m_player->rate() != 0;
    if (nowRunning != m_timeline->isPlaying())
        m_timeline->setPlaying(nowRunning);
}

void MediaEditorController::apply()
{
    if (m_finished)
        return;
    const OperationOptions result =
        m_mode == TrimEditor::Mode::split ? m_timeline->splitOptions() : m_timeline->trimOptions();
    finishEditor(m_window);
    finish(true);
    if (m_completion)
        std::exchange(m_completion, {})(result);
}

void MediaEditorController::windowDidCancel()
{
    finish(false);
}

void MediaEditorController::finish(bool applied)
{
    if (m_finished)
        return;
    m_finished = true;
    m_player->pause();
    m_ticker->stop();
    m_loading.request_stop();
    if (!applied && m_completion)
        std::exchange(m_completion, {})(std::nullopt);
    if (auto close = std::exchange(onClose, {}))
        close();
}

void MediaEditorController::startLoading()
{
    const MediaEditorLayout layout = MediaEditorLayout::forPicture(m_videoSize);
    if (layout.pictureSize)
        loadThumbnails(layout.thumbnailCount);
    else
        loadPeaks();
}

void MediaEditorController::loadThumbnails(int count)
{
    m_timeline->setThumbnailCount(count);
    m_timeline->setFramesLoading(true);
    QPointer<MediaTimeline> timeline(m_timeline);
    loadFilmstrip(
        m_preview, m_previewDemuxer, m_timeline->duration, count, m_loading.get_token(),
        [timeline](int slot, const QImage& image) {
            if (timeline)
                timeline->setThumbnail(slot, image);
        },
        [timeline] {
            if (timeline)
                timeline->setFramesLoading(false);
        });
}

void MediaEditorController::loadPeaks()
{
    QPointer<MediaTimeline> timeline(m_timeline);
    const QUrl preview = m_preview;
    const std::optional<QString> demuxer = m_previewDemuxer;
    const double duration = m_timeline->duration;
    const std::stop_token stop = m_loading.get_token();
    m_timeline->setFramesLoading(true);
    EditorActivity::begin();
    runInBackground(
        [timeline, preview, demuxer, duration, stop] {
            QList<float> peaks;
            try {
                peaks = readWaveformPeaks(preview, demuxer, duration, 180, stop);
            } catch (const CancellationError&) {
            }
            postToMainThread([timeline, peaks = std::move(peaks), stop] {
                EditorActivity::end();
                if (timeline && !stop.stop_requested())
                    timeline->setPeaks(peaks);
                if (timeline)
                    timeline->setFramesLoading(false);
            });
        },
        1);
}

QList<MediaEditorController*>& openMediaEditors()
{
    static QList<MediaEditorController*> editors;
    return editors;
}

} // namespace qv
