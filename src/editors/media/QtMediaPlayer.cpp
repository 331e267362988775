#include "editors/media/QtMediaPlayer.h"

#include "editors/media/PlayerSurface.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <cmath>

namespace qv {

namespace {

// A seek counts as done when its picture comes (a sound's: at the first position change this
// near its target), or after the timeout: a seek to where the player already is brings no
// picture. The next seek waits for it, as a paused pipeline asked earlier blocks for 300 ms
// and shows nothing until the seeks stop. A seek elsewhere waits longer for its picture, which
// a busy machine may take a second or more to decode from the last key frame.
constexpr double seekNearness = 0.1;
constexpr int seekTimeoutMs = 400;
constexpr int seekElsewhereTimeoutMs = 3000;

} // namespace

QtMediaPlayer::QtMediaPlayer(const QUrl& source, QObject* parent)
    : QObject(parent), m_player(new QMediaPlayer(this)), m_audio(nullptr), m_seekTimer(new QTimer(this))
{
    if (!QMediaDevices::defaultAudioOutput().isNull()) {
        m_audio = new QAudioOutput(this);
        m_player->setAudioOutput(m_audio);
    }
    m_player->setSource(source);
    // Paused rather than stopped, so the first frame shows before playing.
    m_player->pause();
    m_seekTimer->setSingleShot(true);
    m_seekTimer->setInterval(seekTimeoutMs);
    connect(m_seekTimer, &QTimer::timeout, this, &QtMediaPlayer::completeSeek);
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 ms) {
        const double seconds = double(ms) / 1000.0;
        if (m_settling && (std::abs(seconds - *m_settling) <= seekNearness || rate() != 0))
            m_settling.reset();
        if (!m_showsPictures && m_seekTarget && std::abs(seconds - *m_seekTarget) <= seekNearness)
            completeSeek();
    });
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia)
            m_player->pause();
    });
}

QtMediaPlayer::~QtMediaPlayer()
{
    m_player->stop();
}

void QtMediaPlayer::play()
{
    m_player->play();
}

void QtMediaPlayer::pause()
{
    m_player->pause();
}

double QtMediaPlayer::rate() const
{
    return m_player->playbackState() == QMediaPlayer::PlayingState ? m_player->playbackRate() : 0.0;
}

double QtMediaPlayer::position() const
{
    if (m_settling)
        return *m_settling;
    return double(m_player->position()) / 1000.0;
}

void QtMediaPlayer::seek(double seconds, std::function<void()> done)
{
    if (m_seekDone)
        completeSeek();
    m_seekTarget = seconds;
    m_settling = seconds;
    m_seekDone = std::move(done);
    const bool elsewhere = std::abs(double(m_player->position()) / 1000.0 - seconds) > seekNearness;
    m_player->setPosition(qint64(std::llround(seconds * 1000.0)));
    m_seekTimer->start(elsewhere ? seekElsewhereTimeoutMs : seekTimeoutMs);
}

void QtMediaPlayer::completeSeek()
{
    m_seekTimer->stop();
    m_seekTarget.reset();
    if (auto done = std::exchange(m_seekDone, {}))
        done();
}

std::unique_ptr<MediaPlayerPort> QtMediaPlayer::make(const QUrl& source)
{
    return std::make_unique<QtMediaPlayer>(source);
}

QWidget* QtMediaPlayer::makeSurface(QWidget* parent)
{
    auto* surface = new PlayerSurface(parent);
    auto* sink = new QVideoSink(surface);
    surface->followFrames();
    connect(sink, &QVideoSink::videoFrameChanged, surface, [surface](const QVideoFrame& frame) {
        if (frame.isValid())
            surface->setPendingFrame([frame] { return frame.toImage(); });
    });
    m_player->setVideoSink(sink);
    m_showsPictures = true;
    connect(sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        if (frame.isValid() && m_seekTarget)
            completeSeek();
    }, Qt::QueuedConnection);
    return surface;
}

} // namespace qv
