#pragma once

#include "platform/sandbox/FrameRing.h"
#include "platform/sandbox/WorkerProtocol.h"

#include <QElapsedTimer>
#include <QImage>
#include <QMap>
#include <QObject>
#include <QSize>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace qv {

class ChildProcess;

// Plays one movie or sound in a player process of its own (quorvenda-player), so that a file
// that crashes or hangs the decoder costs its view and never the application. Commands go out
// at once and never wait; what the player reports (duration, position, state, pictures fitted
// to the view's pixels) arrives through signals on the main thread. Ending it, or destroying it,
// ends the process and removes its temporary folder.
class PlayerProcess : public QObject {
    Q_OBJECT
public:
    // box: the view's size in pixels; empty for a player without pictures.
    explicit PlayerProcess(const QUrl& source, QSize box, QObject* parent = nullptr);
    ~PlayerProcess() override;

    // The player program: $QUORVENDA_PLAYER, or quorvenda-player beside the application.
    static QString defaultProgram();
    // Address space of the player unless quorvenda.advanced.workerMemory says otherwise.
    static constexpr qint64 defaultMemoryLimit = qint64(4096) << 20;

    void play();
    void pause();
    // Back to the start, paused; the process lives on.
    void stop();
    // Seconds; `done` runs once on the main thread when the player got there, gave up or died.
    void seek(double seconds, std::function<void()> done = {});
    void setRate(double rate);
    void setVolume(double volume);
    // Playing on from `from` whenever playback reaches `to`; an empty range plays through.
    void setLoop(double from, double to);
    void setBox(QSize box);
    // A playing player that reports nothing for this long is taken for hung and ended.
    void setSilenceLimit(int milliseconds);
    // Ends the process; nothing is reported afterwards.
    void end();

    bool isPlaying() const { return m_playing; }
    // Not 0 while playing.
    double rate() const { return m_playing ? m_rate : 0.0; }
    // Seconds, carried forward from the last report while playing.
    double position() const;
    double duration() const { return m_duration; }
    bool isLoaded() const { return m_loaded; }
    // The process ended without being asked (crashed, killed, or unable to start).
    bool hasDied() const { return m_died; }
    // The player could not open the file (it lives on).
    bool hasFailed() const { return m_failed; }
    QImage frame() const { return m_frame; }
    qint64 pid() const;
    // Pictures received, and pictures the player dropped because the application had not
    // taken the previous ones yet.
    qint64 framesReceived() const { return m_framesReceived; }
    qint64 framesDropped() const { return m_playerDropped + m_coalesced; }

Q_SIGNALS:
    void loaded();
    void durationChanged(double seconds);
    void positionChanged(double seconds);
    void playingChanged(bool playing);
    void frameChanged();
    // The file could not be opened or played.
    void failed(const QString& details);
    // The process ended on its own: crashed, killed or never started.
    void died();

private:
    void send(const QJsonObject& message);
    void readReplies();
    void drainErrors();
    void handle(const QJsonObject& message);
    void setPlaying(bool playing);
    void die(const QString& why);
    void release();

    std::unique_ptr<ChildProcess> m_process;
    std::optional<FrameRing> m_ring;
    QString m_temporary;
    QSocketNotifier* m_replies = nullptr;
    QSocketNotifier* m_errors = nullptr;
    QTimer* m_silence = nullptr;
    WorkerProtocol::FrameReader m_reader;
    QByteArray m_errorTail;

    qint64 m_sent = 0;            // commands sent, "open" included
    qint64 m_stateCommandAt = 0;  // the last play or pause
    qint64 m_seekCommandAt = 0;   // the last seek
    QMap<qint64, std::function<void()>> m_seeks;

    bool m_playing = false;
    double m_rate = 1.0;
    double m_position = 0.0;
    QElapsedTimer m_positionClock;
    double m_duration = 0.0;
    bool m_loaded = false;
    bool m_failed = false;
    bool m_died = false;
    bool m_ended = false;
    QImage m_frame;
    qint64 m_framesReceived = 0;
    qint64 m_playerDropped = 0;
    qint64 m_coalesced = 0;
};

} // namespace qv
