#pragma once

#include "editors/media/MediaEditorActions.h"
#include "editors/media/MediaPlayerPort.h"
#include "editors/media/MediaTimeline.h"
#include "editors/media/TrimEditor.h"
#include "model/files/FileInfo.h"

#include <QObject>
#include <QPointer>
#include <QSizeF>
#include <QUrl>

#include <memory>
#include <optional>
#include <stop_token>

class QTimer;

namespace qv {

class EditorWindow;

// Runs one open media editor: its window, playback and seeking, the loading of filmstrip frames
// or of the waveform, and the hand-back of the result. Main thread only.
class MediaEditorController : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(std::optional<OperationOptions>)>;

    // The preview is read with previewDemuxer, the demuxer its probe named.
    MediaEditorController(FileInfo file, TrimEditor::Mode mode, QUrl preview, std::optional<QString> previewDemuxer,
                          std::unique_ptr<MediaPlayerPort> player, double duration,
                          std::optional<QSizeF> videoSize, Completion completion, QObject* parent = nullptr);
    ~MediaEditorController() override;

    const FileInfo& file() const { return m_file; }
    TrimEditor::Mode mode() const { return m_mode; }
    MediaTimeline& timeline() { return *m_timeline; }
    MediaPlayerPort& player() { return *m_player; }
    EditorWindow* window() const;
    bool isFinished() const { return m_finished; }
    bool isSeeking() const { return m_seeking; }

    // Builds and shows the window at the point, then follows playback and loads the strip.
    void show(QPointF point);

    void togglePlay();
    void seek(double seconds);
    void apply();
    void windowDidCancel();
    // Ends the editor once; later calls do nothing.
    void finish(bool applied);
    // Follows the player's time t; the 33 ms timer calls it with the player's position.
    void handleTick(double t);
    void startLoading();

    MediaEditorActions actions();

    // Run once when the editor ends.
    std::function<void()> onClose;

private:
    void performPendingSeek();
    void seekDidFinish();
    void moveTo(double seconds);
    void loadThumbnails(int count);
    void loadPeaks();

    FileInfo m_file;
    TrimEditor::Mode m_mode;
    QUrl m_preview;
    std::optional<QString> m_previewDemuxer;
    std::unique_ptr<MediaPlayerPort> m_player;
    MediaTimeline* m_timeline;
    std::optional<QSizeF> m_videoSize;
    Completion m_completion;
    QPointer<EditorWindow> m_window;
    QTimer* m_ticker;
    std::stop_source m_loading;
    bool m_seeking = false;
    std::optional<double> m_pendingSeek;
    bool m_finished = false;
};

// The open media editors, oldest first; being listed keeps a controller alive.
QList<MediaEditorController*>& openMediaEditors();

} // namespace qv
