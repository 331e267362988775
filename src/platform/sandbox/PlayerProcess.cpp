#include "platform/sandbox/PlayerProcess.h"

#include "model/Log.h"
#include "model/settings/Settings.h"
#include "model/settings/SettingsKeys.h"
#include "platform/files/FileItems.h"
#include "platform/files/TemporaryRoot.h"
#include "platform/files/WorkFolder.h"
#include "platform/files/WorkFolderJournal.h"
#include "platform/files/WorkFolderRegistry.h"
#include "platform/processes/ChildProcess.h"
#include "platform/processes/ThreadCall.h"
#include "platform/sandbox/PlayerProtocol.h"
#include "platform/sandbox/SandboxEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <QPointer>
#include <QUuid>

#include <algorithm>
#include <csignal>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

using namespace PlayerProtocol;

// One slot the application reads, one on its way, one the player paints into.
constexpr int ringSlots = 3;
constexpr qsizetype errorTailKept = 8000;
// A playing movie reports its position several times a second.
constexpr int silenceLimitMs = 15000;

// A slot holds a picture as large as the largest screen, so a view never outgrows it.
qint64 slotBytesForScreens()
{
    qint64 pixels = qint64(1920) * 1080;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        for (const QScreen* screen : QGuiApplication::screens()) {
            const QSizeF size = QSizeF(screen->geometry().size()) * screen->devicePixelRatio();
            pixels = std::max(pixels, qint64(size.width()) * qint64(size.height()));
        }
    }
    return std::min(pixels, qint64(7680) * 4320) * FrameRing::bytesPerPixel;
}

void setNonBlocking(int fd)
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

} // namespace

QString PlayerProcess::defaultProgram()
{
    const QString given = qEnvironmentVariable("QUORVENDA_PLAYER");
    if (!given.isEmpty())
        return given;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/quorvenda-player");
}

PlayerProcess::PlayerProcess(const QUrl& source, QSize box, QObject* parent) : QObject(parent)
{
    m_positionClock.start();
    m_silence = new QTimer(this);
    m_silence->setSingleShot(true);
    m_silence->setInterval(silenceLimitMs);
    connect(m_silence, &QTimer::timeout, this, [this] { die(QStringLiteral("stopped answering")); });
    // A player that died under a command must not take us with it.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        m_ring = FrameRing::create(ringSlots, slotBytesForScreens());
        if (!m_ring)
            throw std::runtime_error("no shared memory for pictures");
        m_temporary = TemporaryRoot::secure() + QLatin1Char('/') + QLatin1String(WorkFolder::hiddenPrefix)
            + QUuid::createUuid().toString(QUuid::WithoutBraces);
        WorkFolderRegistry::add(m_temporary);
        if (!WorkFolderJournal::add(m_temporary))
            throw std::runtime_error("cannot list the player's folder");
        if (::mkdir(QFile::encodeName(m_temporary).constData(), 0700) != 0)
            throw std::runtime_error("cannot create the player's folder");
        m_process = std::make_unique<ChildProcess>(
            defaultProgram(), QStringList{QStringLiteral("--frames"), QString::number(m_ring->fd())},
            SandboxEnvironment::forPlayer(m_temporary), std::nullopt, true, ChildProcess::Role::sandbox, m_ring->fd());
    } catch (const std::exception& error) {
        qCWarning(appLog) << "No player process:" << error.what();
        QMetaObject::invokeMethod(this, [this] { die(QStringLiteral("did not start")); }, Qt::QueuedConnection);
        return;
    }
    // A player that stopped reading is hung: its full pipe ends it rather than blocking us.
    setNonBlocking(m_process->stdinFd());
    setNonBlocking(m_process->stdoutFd());
    setNonBlocking(m_process->stderrFd());
    m_replies = new QSocketNotifier(m_process->stdoutFd(), QSocketNotifier::Read, this);
    connect(m_replies, &QSocketNotifier::activated, this, &PlayerProcess::readReplies);
    m_errors = new QSocketNotifier(m_process->stderrFd(), QSocketNotifier::Read, this);
    connect(m_errors, &QSocketNotifier::activated, this, &PlayerProcess::drainErrors);
    OpenRequest request;
    request.source = source;
    request.slots = m_ring->slots();
    request.slotBytes = m_ring->slotBytes();
    request.box = box;
    // The workers' limit: the same decoders live here.
    const int memoryMB = Settings::shared().intValue(SettingsKey::workerMemory);
    request.memoryLimitBytes = memoryMB >= 256 ? qint64(memoryMB) << 20 : defaultMemoryLimit;
    send(openMessage(request));
}

PlayerProcess::~PlayerProcess()
{
    end();
}

qint64 PlayerProcess::pid() const
{
    return m_process ? qint64(m_process->programPid()) : -1;
}

void PlayerProcess::send(const QJsonObject& message)
{
    if (!m_process || m_ended || m_died)
        return;
    ++m_sent;
    if (!WorkerProtocol::writeFrame(m_process->stdinFd(), message))
        QMetaObject::invokeMethod(this, [this] { die(QStringLiteral("stopped listening")); }, Qt::QueuedConnection);
}

void PlayerProcess::play()
{
    send(command(QStringLiteral("play")));
    m_stateCommandAt = m_sent;
    setPlaying(!m_died && !m_ended);
}

void PlayerProcess::pause()
{
    m_position = position();
    m_positionClock.restart();
    send(command(QStringLiteral("pause")));
    m_stateCommandAt = m_sent;
    setPlaying(false);
}

void PlayerProcess::stop()
{
    send(command(QStringLiteral("stop")));
    m_stateCommandAt = m_sent;
    m_seekCommandAt = m_sent;
    m_position = 0;
    m_positionClock.restart();
    setPlaying(false);
}

void PlayerProcess::seek(double seconds, std::function<void()> done)
{
    if (!m_process || m_ended || m_died) {
        if (done)
            QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        return;
    }
    send(command(QStringLiteral("seek"), {{QStringLiteral("position"), double(toMs(seconds))}}));
    m_seekCommandAt = m_sent;
    m_position = seconds;
    m_positionClock.restart();
    if (done)
        m_seeks.insert(m_sent, std::move(done));
}

void PlayerProcess::setRate(double rate)
{
    if (!(rate > 0))
        return;
    m_position = position();
    m_positionClock.restart();
    m_rate = rate;
    send(command(QStringLiteral("rate"), {{QStringLiteral("rate"), rate}}));
}

void PlayerProcess::setVolume(double volume)
{
    send(command(QStringLiteral("volume"), {{QStringLiteral("volume"), std::clamp(volume, 0.0, 1.0)}}));
}

void PlayerProcess::setLoop(double from, double to)
{
    send(command(QStringLiteral("loop"),
                 {{QStringLiteral("from"), double(toMs(from))}, {QStringLiteral("to"), double(toMs(to))}}));
}

void PlayerProcess::setBox(QSize box)
{
    send(command(QStringLiteral("size"), {{QStringLiteral("width"), box.width()}, {QStringLiteral("height"), box.height()}}));
}

double PlayerProcess::position() const
{
    if (!m_playing)
        return m_position;
    double seconds = m_position + double(m_positionClock.elapsed()) / 1000.0 * m_rate;
    if (m_duration > 0)
        seconds = std::min(seconds, m_duration);
    return seconds;
}

void PlayerProcess::setSilenceLimit(int milliseconds)
{
    m_silence->setInterval(milliseconds);
}

void PlayerProcess::setPlaying(bool playing)
{
    if (playing && !m_died && !m_ended)
        m_silence->start();
    else
        m_silence->stop();
    if (playing == m_playing)
        return;
    m_position = position();
    m_positionClock.restart();
    m_playing = playing;
    Q_EMIT playingChanged(playing);
}

void PlayerProcess::readReplies()
{
    if (!m_process)
        return;
    char buffer[65536];
    bool closed = false;
    for (;;) {
        const ssize_t got = ::read(m_process->stdoutFd(), buffer, sizeof buffer);
        if (got > 0) {
            m_reader.append(QByteArray(buffer, qsizetype(got)));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        closed = got == 0 || errno != EAGAIN;
        break;
    }
    // Of several pictures waiting only the newest is copied; the others are freed unread.
    std::vector<QJsonObject> messages;
    while (const std::optional<QJsonObject> message = m_reader.next())
        messages.push_back(*message);
    qsizetype newestFrame = -1;
    for (qsizetype i = 0; i < qsizetype(messages.size()); ++i) {
        if (type(messages[size_t(i)]) == QLatin1String("frame"))
            newestFrame = i;
    }
    QPointer<PlayerProcess> self(this);
    for (qsizetype i = 0; i < qsizetype(messages.size()) && self && !m_ended; ++i) {
        const QJsonObject& message = messages[size_t(i)];
        if (type(message) == QLatin1String("frame") && i != newestFrame) {
            send(command(QStringLiteral("free"), {{QStringLiteral("slot"), message.value(QStringLiteral("slot"))}}));
            ++m_coalesced;
            continue;
        }
        handle(message);
    }
    if (!self || m_ended)
        return;
    if (m_reader.broken())
        die(QStringLiteral("sent something unreadable"));
    else if (closed)
        die(QStringLiteral("ended"));
}

void PlayerProcess::drainErrors()
{
    if (!m_process)
        return;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(m_process->stderrFd(), buffer, sizeof buffer);
        if (got > 0) {
            m_errorTail += QByteArray(buffer, qsizetype(got));
            if (m_errorTail.size() > errorTailKept)
                m_errorTail = m_errorTail.right(errorTailKept);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if ((got == 0 || errno != EAGAIN) && m_errors)
            m_errors->setEnabled(false);
        return;
    }
}

void PlayerProcess::handle(const QJsonObject& message)
{
    const QString kind = type(message);
    if (m_playing)
        m_silence->start();
    const qint64 seen = qint64(message.value(QStringLiteral("seen")).toDouble());
    if (kind == QLatin1String("frame")) {
        if (!m_ring)
            return;
        const int slot = message.value(QStringLiteral("slot")).toInt(-1);
        QImage picture = m_ring->copy(slot, QSize(message.value(QStringLiteral("width")).toInt(),
                                                  message.value(QStringLiteral("height")).toInt()),
                                      qint64(message.value(QStringLiteral("stride")).toDouble()));
        send(command(QStringLiteral("free"), {{QStringLiteral("slot"), slot}}));
        if (picture.isNull())
            return;
        m_playerDropped = qint64(message.value(QStringLiteral("dropped")).toDouble());
        ++m_framesReceived;
        m_frame = std::move(picture);
        Q_EMIT frameChanged();
        return;
    }
    if (kind == QLatin1String("position")) {
        if (seen < m_seekCommandAt)
            return; // from before the latest seek
        m_position = fromMs(message.value(QStringLiteral("position")));
        m_positionClock.restart();
        Q_EMIT positionChanged(m_position);
        return;
    }
    if (kind == QLatin1String("state")) {
        if (seen >= m_stateCommandAt)
            setPlaying(message.value(QStringLiteral("playing")).toBool());
        return;
    }
    if (kind == QLatin1String("seeked")) {
        const qint64 id = qint64(message.value(QStringLiteral("id")).toDouble());
        if (auto done = m_seeks.take(id))
            done();
        return;
    }
    if (kind == QLatin1String("duration") || kind == QLatin1String("loaded")) {
        const double duration = fromMs(message.value(QStringLiteral("duration")));
        if (duration != m_duration) {
            m_duration = duration;
            Q_EMIT durationChanged(duration);
        }
        if (kind == QLatin1String("loaded") && !m_loaded) {
            m_loaded = true;
            Q_EMIT loaded();
        }
        return;
    }
    if (kind == QLatin1String("failed")) {
        m_failed = true;
        setPlaying(false);
        const QString details = message.value(QStringLiteral("details")).toString();
        // What the media framework printed says more than its error's words.
        drainErrors();
        qCWarning(appLog).noquote() << "The player cannot play the file:" << details << ":"
                                    << QString::fromUtf8(m_errorTail.right(2000)).trimmed();
        Q_EMIT failed(details);
    }
}

void PlayerProcess::die(const QString& why)
{
    if (m_ended || m_died)
        return;
    m_died = true;
    drainErrors();
    qCWarning(appLog).noquote() << "The player process" << why << ":" << QString::fromUtf8(m_errorTail).trimmed();
    release();
    setPlaying(false);
    for (auto& done : std::exchange(m_seeks, {})) {
        if (done)
            done();
    }
    Q_EMIT died();
}

void PlayerProcess::end()
{
    if (m_ended)
        return;
    m_ended = true;
    release();
    m_seeks.clear();
}

void PlayerProcess::release()
{
    // Possibly from within their own signals.
    for (QSocketNotifier* notifier : {std::exchange(m_replies, nullptr), std::exchange(m_errors, nullptr)}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    // Its process tree goes with it at once: whatever the decoder started, and the sound.
    if (m_process)
        m_process->killSession();
    m_ring.reset();
    // Reaping a player of many threads and removing its folder take tens of milliseconds: not
    // on the thread that closes the view.
    std::shared_ptr<ChildProcess> process(std::move(m_process));
    runInBackground([process, temporary = std::exchange(m_temporary, QString())]() mutable {
        process.reset();
        if (!temporary.isEmpty()) {
            FileItems::remove(temporary);
            WorkFolderJournal::remove(temporary);
            WorkFolderRegistry::remove(temporary);
        }
    });
}

} // namespace qv
