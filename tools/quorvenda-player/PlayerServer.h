#pragma once

#include "platform/FrameRing.h"
#include "platform/PlayerProtocol.h"
#include "platform/WorkerProtocol.h"

#include <QImage>
#include <QMediaPlayer>
#include <QObject>
#include <QVideoFrame>

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

class QAudioOutput;
class QSocketNotifier;
class QTimer;
class QVideoSink;

namespace qv {

// The player process's side: one QMediaPlayer driven by the application's commands, its
// pictures fitted to the application's view and laid into the frame ring, its state reported
// back. Pictures that come while every slot is still the application's are dropped: the
// player never gets ahead of the view by more than the ring.
class PlayerServer : public QObject {
    Q_OBJECT
public:
    // framesFd: the inherited frame ring, mapped once "open" gives its geometry.
    PlayerServer(int input, int output, int framesFd);

private:
    void readCommands();
    void take(const QJsonObject& message);
    void open(const PlayerProtocol::OpenRequest& request);
    void reply(const QString& type, QJsonObject fields = {});
    void seek(qint64 ms, qint64 id);
    void completeSeek();
    void positionChanged(qint64 ms);
    void frameArrived(const QVideoFrame& frame);
    void deliverFrame();

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
    qint64 m_seen = 0;
    bool m_opened = false;
    bool m_loaded = false;
    QSize m_box;
    std::vector<bool> m_slotFree;
    qint64 m_dropped = 0;
    std::optional<qint64> m_seekId;
    std::optional<qint64> m_seekTarget;
    // The last seek's target until the player reports a position near it or plays on.
    std::optional<qint64> m_settling;
    qint64 m_loopFrom = 0;
    qint64 m_loopTo = 0;

    // The newest picture from the decoder's thread, taken on the main thread.
    std::mutex m_frameLock;
    QVideoFrame m_pendingFrame;
    std::atomic<qint64> m_overtaken = 0;
    QVideoFrame m_lastFrame; // main thread
    std::atomic<bool> m_deliveryQueued = false;
};

} // namespace qv
