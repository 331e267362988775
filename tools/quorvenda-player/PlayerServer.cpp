#include "PlayerServer.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QPainter>
#include <QSocketNotifier>
#include <QTimer>
#include <QVideoSink>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace qv {

namespace {

using namespace PlayerProtocol;

// A seek counts as done when its picture comes (a sound's: at the first position this near its
// target), or after the timeout: a seek to where the player already is brings no picture.
constexpr qint64 seekNearnessMs = 100;
constexpr int seekTimeoutMs = 400;

} // namespace

PlayerServer::PlayerServer(int input, int output, int framesFd, const QJsonObject& first, WorkerProtocol::FrameReader rest)
    : m_input(input), m_output(output), m_framesFd(framesFd), m_reader(std::move(rest)), m_player(new QMediaPlayer(this)),
      m_seekTimer(new QTimer(this))
{
    if (!QMediaDevices::defaultAudioOutput().isNull()) {
        m_audio = new QAudioOutput(this);
        m_player->setAudioOutput(m_audio);
    }
    ::fcntl(m_input, F_SETFL, ::fcntl(m_input, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(m_input, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PlayerServer::readCommands);

    m_seekTimer->setSingleShot(true);
    m_seekTimer->setInterval(seekTimeoutMs);
    connect(m_seekTimer, &QTimer::timeout, this, &PlayerServer::completeSeek);
    connect(m_player, &QMediaPlayer::positionChanged, this, &PlayerServer::positionChanged);
    connect(m_player, &QMediaPlayer::durationChanged, this,
            [this](qint64 ms) { reply(QStringLiteral("duration"), {{QStringLiteral("duration"), double(ms)}}); });
    connect(m_player, &QMediaPlayer::playbackStateChanged, this, [this](QMediaPlayer::PlaybackState state) {
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), state == QMediaPlayer::PlayingState}});
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if ((status == QMediaPlayer::LoadedMedia || status == QMediaPlayer::BufferedMedia) && !m_loaded) {
            m_loaded = true;
            reply(QStringLiteral("loaded"), {{QStringLiteral("duration"), double(m_player->duration())}});
        } else if (status == QMediaPlayer::InvalidMedia) {
            reply(QStringLiteral("failed"), {{QStringLiteral("details"), m_player->errorString()}});
        } else if (status == QMediaPlayer::EndOfMedia) {
            m_player->pause();
        }
    });
    connect(m_player, &QMediaPlayer::errorOccurred, this, [this](QMediaPlayer::Error, const QString& text) {
        reply(QStringLiteral("failed"), {{QStringLiteral("details"), text}});
    });
    take(first);
    while (const std::optional<QJsonObject> message = m_reader.next())
        take(*message);
    if (m_reader.broken())
        std::_Exit(2);
}

PlayerServer::~PlayerServer()
{
    {
        std::lock_guard locker(m_frameLock);
        m_stopping = true;
    }
    m_frameWake.notify_all();
    if (m_painter.joinable())
        m_painter.join();
}

void PlayerServer::reply(const QString& type, QJsonObject fields)
{
    fields.insert(QStringLiteral("type"), type);
    fields.insert(QStringLiteral("seen"), double(m_seen.load()));
    std::lock_guard locker(m_replyLock);
    if (!WorkerProtocol::writeFrame(m_output, fields))
        std::_Exit(0); // the application is gone
}

void PlayerServer::readCommands()
{
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_input, buffer, sizeof buffer);
        if (got > 0) {
            m_reader.append(QByteArray(buffer, qsizetype(got)));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got == 0 || errno != EAGAIN)
            std::_Exit(0); // closed: the view is gone, and so is the sound at once
        break;
    }
    while (const std::optional<QJsonObject> message = m_reader.next())
        take(*message);
    if (m_reader.broken())
        std::_Exit(2);
}

void PlayerServer::take(const QJsonObject& message)
{
    ++m_seen;
    const QString kind = type(message);
    if (kind == QLatin1String("open")) {
        if (!m_opened)
            open(openRequest(message));
    } else if (kind == QLatin1String("play")) {
        m_player->play();
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), m_player->playbackState() == QMediaPlayer::PlayingState}});
    } else if (kind == QLatin1String("pause")) {
        m_player->pause();
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), false}});
    } else if (kind == QLatin1String("stop")) {
        // Paused at the start rather than stopped, so the first picture shows again.
        m_player->pause();
        seek(0, std::nullopt);
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), false}});
    } else if (kind == QLatin1String("seek")) {
        seek(qint64(message.value(QStringLiteral("position")).toDouble()), m_seen);
    } else if (kind == QLatin1String("rate")) {
        const double rate = message.value(QStringLiteral("rate")).toDouble();
        if (rate > 0 && rate <= 16)
            m_player->setPlaybackRate(rate);
    } else if (kind == QLatin1String("volume")) {
        if (m_audio)
            m_audio->setVolume(float(std::clamp(message.value(QStringLiteral("volume")).toDouble(), 0.0, 1.0)));
    } else if (kind == QLatin1String("loop")) {
        m_loopFrom = qint64(message.value(QStringLiteral("from")).toDouble());
        m_loopTo = qint64(message.value(QStringLiteral("to")).toDouble());
    } else if (kind == QLatin1String("size")) {
        const QSize box(message.value(QStringLiteral("width")).toInt(), message.value(QStringLiteral("height")).toInt());
        std::lock_guard locker(m_frameLock);
        if (box != m_box) {
            m_box = box;
            // A paused picture is laid out again for the new size.
            if (!m_pendingFrame.isValid() && m_lastFrame.isValid())
                m_pendingFrame = m_lastFrame;
            m_frameWake.notify_all();
        }
    } else if (kind == QLatin1String("free")) {
        const int slot = message.value(QStringLiteral("slot")).toInt(-1);
        std::lock_guard locker(m_frameLock);
        if (slot >= 0 && size_t(slot) < m_slotFree.size()) {
            m_slotFree[size_t(slot)] = true;
            m_frameWake.notify_all();
        }
    }
}

void PlayerServer::open(const OpenRequest& request)
{
    // Behind the walls already (main).
    m_opened = true;
    if (m_framesFd >= 0)
        m_ring = FrameRing::attach(std::exchange(m_framesFd, -1), request.slots, request.slotBytes);
    if (m_ring) {
        {
            std::lock_guard locker(m_frameLock);
            m_box = request.box;
            m_slotFree.assign(size_t(m_ring->slots()), true);
        }
        m_painter = std::thread([this] { paintFrames(); });
        m_sink = new QVideoSink(this);
        connect(m_sink, &QVideoSink::videoFrameChanged, this, &PlayerServer::frameArrived, Qt::DirectConnection);
        m_player->setVideoSink(m_sink);
    }
    m_player->setSource(request.source);
    // Paused rather than stopped, so the first picture comes before playing.
    m_player->pause();
}

void PlayerServer::seek(qint64 ms, std::optional<qint64> id)
{
    m_settling = ms;
    // A seek given while the last one's picture is still being decoded waits for it: the
    // paused pipeline takes a new position only once the last has prerolled, and blocks this
    // thread (and the picture's delivery) for a third of a second each time it is asked
    // earlier, so a dragged handle's seeks would pile up with no picture shown.
    if (m_seekInFlight) {
        if (const auto overtaken = std::exchange(m_queuedSeek, QueuedSeek{ms, id}); overtaken && overtaken->id)
            reply(QStringLiteral("seeked"), {{QStringLiteral("id"), double(*overtaken->id)}});
        return;
    }
    startSeek(ms, id);
}

void PlayerServer::startSeek(qint64 ms, std::optional<qint64> id)
{
    m_seekInFlight = true;
    m_seekId = id;
    m_seekTarget = ms;
    m_framesAtSeek = m_framesArrived.load();
    m_seekTimer->start();
    m_player->setPosition(ms);
}

void PlayerServer::completeSeek()
{
    if (!m_seekInFlight)
        return;
    m_seekTimer->stop();
    m_seekInFlight = false;
    m_seekTarget.reset();
    if (const std::optional<qint64> id = std::exchange(m_seekId, std::nullopt))
        reply(QStringLiteral("seeked"), {{QStringLiteral("id"), double(*id)}});
    if (const auto next = std::exchange(m_queuedSeek, std::nullopt))
        startSeek(next->ms, next->id);
}

void PlayerServer::pictureArrived(qint64 count)
{
    if (m_seekInFlight && count > m_framesAtSeek)
        completeSeek();
}

void PlayerServer::positionChanged(qint64 ms)
{
    const bool playing = m_player->playbackState() == QMediaPlayer::PlayingState;
    if (m_settling && (std::abs(ms - *m_settling) <= seekNearnessMs || playing))
        m_settling.reset();
    // A movie's seek is done when its picture comes.
    if (!m_sink && m_seekTarget && std::abs(ms - *m_seekTarget) <= seekNearnessMs)
        completeSeek();
    if (m_settling)
        return;
    reply(QStringLiteral("position"), {{QStringLiteral("position"), double(ms)}});
    if (playing && m_loopTo > m_loopFrom && ms >= m_loopTo)
        m_player->setPosition(m_loopFrom);
}

void PlayerServer::frameArrived(const QVideoFrame& frame)
{
    if (!frame.isValid())
        return;
    {
        std::lock_guard locker(m_frameLock);
        if (m_pendingFrame.isValid())
            ++m_dropped; // overtaken before it was painted: the view misses it
        m_pendingFrame = frame;
    }
    m_frameWake.notify_all();
    const qint64 count = ++m_framesArrived;
    QMetaObject::invokeMethod(this, [this, count] { pictureArrived(count); }, Qt::QueuedConnection);
}

void PlayerServer::paintFrames()
{
    std::unique_lock locker(m_frameLock);
    for (;;) {
        int slot = -1;
        m_frameWake.wait(locker, [&] {
            if (m_stopping)
                return true;
            if (!m_pendingFrame.isValid() || m_box.isEmpty())
                return false;
            const auto free = std::find(m_slotFree.begin(), m_slotFree.end(), true);
            slot = free == m_slotFree.end() ? -1 : int(free - m_slotFree.begin());
            return slot >= 0;
        });
        if (m_stopping)
            return;
        const QVideoFrame frame = std::exchange(m_pendingFrame, QVideoFrame());
        m_lastFrame = frame;
        const QSize box = m_box;
        m_slotFree[size_t(slot)] = false;
        const qint64 dropped = m_dropped;
        locker.unlock();

        const QImage picture = QVideoFrame(frame).toImage();
        QSize size = picture.size();
        if (size.width() > box.width() || size.height() > box.height())
            size = size.scaled(box, Qt::KeepAspectRatio);
        size = m_ring->fitted(size.expandedTo(QSize(1, 1)));
        QImage canvas = picture.isNull() ? QImage() : m_ring->canvas(slot, size);
        if (!canvas.isNull()) {
            QPainter painter(&canvas);
            if (size == picture.size()) {
                painter.setCompositionMode(QPainter::CompositionMode_Source);
                painter.drawImage(0, 0, picture);
            } else {
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.fillRect(canvas.rect(), Qt::black);
                painter.drawImage(QRect(QPoint(0, 0), size), picture);
            }
            painter.end();
            reply(QStringLiteral("frame"), {{QStringLiteral("slot"), slot},
                                            {QStringLiteral("width"), size.width()},
                                            {QStringLiteral("height"), size.height()},
                                            {QStringLiteral("stride"), canvas.bytesPerLine()},
                                            {QStringLiteral("time"), double(frame.startTime() / 1000)},
                                            {QStringLiteral("dropped"), double(dropped)}});
        }
        locker.lock();
        if (canvas.isNull())
            m_slotFree[size_t(slot)] = true;
    }
}

} // namespace qv
