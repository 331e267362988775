#pragma once

#include "platform/sandbox/FrameRing.h"
#include "platform/sandbox/PlayerProtocol.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QImage>
#include <QMediaPlayer>
#include <QObject>
#include <QVideoFrame>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QAudioOutput;
class QSocketNotifier;
class QTimer;
class QVideoSink;

namespace qv {

// The player process's side: one QMediaPlayer driven by the application's commands, its
// pictures fitted to the application's view and laid into the frame ring, its state reported
// back. Pictures are converted and fitted on a thread of their own, so the main thread hands
// the decoder's next frame over at once (the media framework's sink waits for it); pictures
// that come while every slot is still the application's, or that a newer one overtakes, are
// dropped: the player never gets ahead of the view by more than the ring.
class PlayerServer : public QObject {
    Q_OBJECT
public:
    // framesFd: the inherited frame ring, mapped once "open" gives its geometry. first: the
    // command read before the walls went up ("open"), rest: what came with it.
    PlayerServer(int input, int output, int framesFd, const QJsonObject& first, WorkerProtocol::FrameReader rest);
    ~PlayerServer() override;

private:
    void readCommands();
    void take(const QJsonObject& message);
    void open(const PlayerProtocol::OpenRequest& request);
    void reply(const QString& type, QJsonObject fields = {});
    // id: the command's number, answered by "seeked"; none for a seek of our own.
    void seek(qint64 ms, std::optional<qint64> id);
    void startSeek(qint64 ms, std::optional<qint64> id);
    void completeSeek();
    // A picture came; count: pictures so far.
    void pictureArrived(qint64 count);
    void positionChanged(qint64 ms);
    void frameArrived(const QVideoFrame& frame);
    void paintFrames();

    int m_input;
    int m_output;
    int m_framesFd;
    std::optional<FrameRing> m_ring;
    WorkerProtocol::FrameReader m_reader;
    QSocketNotifier* m_notifier;
    QMediaPlayer* m_player;
    QAudioOutput* m_audio = nullptr;
    QVideoSink* m_sink = nullptr;
    QTimer* m_seekTimer;
    std::atomic<qint64> m_seen = 0;
    bool m_opened = false;
    bool m_loaded = false;
    struct QueuedSeek {
        qint64 ms = 0;
        std::optional<qint64> id;
    };
    bool m_seekInFlight = false;
    std::optional<qint64> m_seekId;
    std::optional<qint64> m_seekTarget;
    // The newest seek given while one was in flight; the ones it overtook are answered at once.
    std::optional<QueuedSeek> m_queuedSeek;
    std::atomic<qint64> m_framesArrived = 0;
    qint64 m_framesAtSeek = 0;
    // The last seek's target until the player reports a position near it or plays on.
    std::optional<qint64> m_settling;
    qint64 m_loopFrom = 0;
    qint64 m_loopTo = 0;

    // Replies leave from the main thread and the painter alike.
    std::mutex m_replyLock;

    // Shared with the painter thread, under m_frameLock.
    std::mutex m_frameLock;
    std::condition_variable m_frameWake;
    QVideoFrame m_pendingFrame; // the newest picture not painted yet
    QVideoFrame m_lastFrame;    // painted again when the view's size changes
    QSize m_box;
    std::vector<bool> m_slotFree;
    qint64 m_dropped = 0;
    bool m_stopping = false;
    std::thread m_painter;
};

} // namespace qv
