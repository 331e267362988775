#include "editors/media/ProcessMediaPlayer.h"

#include "editors/media/PlayerSurface.h"
#include "platform/sandbox/PlayerProcess.h"

#include <atomic>

namespace qv {

ProcessMediaPlayer::ProcessMediaPlayer(const QUrl& source, QObject* parent)
    : QObject(parent), m_process(new PlayerProcess(source, QSize(), this))
{
    connect(m_process, &PlayerProcess::frameChanged, this, [this] {
        if (m_surface)
            m_surface->setFrame(m_process->frame());
    });
    connect(m_process, &PlayerProcess::died, this, [this] {
        if (m_surface)
            m_surface->setMessage(QStringLiteral("This file couldn't be played"));
    });
}

ProcessMediaPlayer::~ProcessMediaPlayer()
{
    m_process->end();
}

namespace {

std::atomic<ProcessMediaPlayer::InProcessMaker> inProcessMaker = nullptr;

} // namespace

void ProcessMediaPlayer::installInProcessPlayer(InProcessMaker make)
{
    inProcessMaker = make;
}

std::unique_ptr<MediaPlayerPort> ProcessMediaPlayer::make(const QUrl& source)
{
    if (qEnvironmentVariable("QUORVENDA_IN_PROCESS") == QLatin1String("1"))
        if (const InProcessMaker inProcess = inProcessMaker)
            return inProcess(source);
    return std::make_unique<ProcessMediaPlayer>(source);
}

void ProcessMediaPlayer::play()
{
    m_process->play();
}

void ProcessMediaPlayer::pause()
{
    m_process->pause();
}

double ProcessMediaPlayer::rate() const
{
    return m_process->rate();
}

double ProcessMediaPlayer::position() const
{
    return m_process->position();
}

void ProcessMediaPlayer::seek(double seconds, std::function<void()> done)
{
    m_process->seek(seconds, std::move(done));
}

QWidget* ProcessMediaPlayer::makeSurface(QWidget* parent)
{
    auto* surface = new PlayerSurface(parent);
    m_surface = surface;
    connect(surface, &PlayerSurface::pixelSizeChanged, m_process, &PlayerProcess::setBox);
    m_process->setBox(surface->pixelSize());
    if (m_process->hasDied())
        surface->setMessage(QStringLiteral("This file couldn't be played"));
    else if (!m_process->frame().isNull())
        surface->setFrame(m_process->frame());
    return surface;
}

} // namespace qv
