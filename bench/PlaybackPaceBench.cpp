// How many of a movie's pictures reach the view while it plays through once: through a player
// process (out) or with the player in this process (in), pictures fitted to a box of the given
// pixels either way. Usage: bench_playback_pace in|out FILE WIDTHxHEIGHT
// Prints: shown dropped seconds

#include "platform/sandbox/PlayerProcess.h"
#include "platform/settings/SettingsStore.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMediaPlayer>
#include <QPainter>
#include <QTimer>
#include <QVideoFrame>
#include <QVideoSink>

#include <cstdio>

namespace {

struct Outcome {
    qint64 shown = 0;
    qint64 dropped = 0;
    double seconds = 0;
};

// Quits when playback stopped, or after a minute.
void spinUntil(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
}

void settle()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

Outcome outOfProcess(const QUrl& url, QSize box)
{
    qv::PlayerProcess player(url, box);
    spinUntil([&] { return player.isLoaded() || player.hasDied() || player.hasFailed(); });
    spinUntil([&] { return !player.frame().isNull() || player.hasDied(); });
    const qint64 before = player.framesReceived();
    QElapsedTimer clock;
    clock.start();
    player.play();
    bool started = false;
    spinUntil([&] {
        started = started || player.position() > 0.2;
        return player.hasDied() || (started && !player.isPlaying());
    });
    const double seconds = clock.elapsed() / 1000.0;
    settle(); // the last pictures may still be on their way
    return {player.framesReceived() - before, player.framesDropped(), seconds};
}

Outcome inProcess(const QUrl& url, QSize box)
{
    QMediaPlayer player;
    QVideoSink sink;
    player.setVideoSink(&sink);
    Outcome outcome;
    QVideoFrame pending;
    bool queued = false;
    QImage canvas(box, QImage::Format_RGB32);
    // As the view paints: the newest picture, converted and fitted on the main thread.
    QObject::connect(&sink, &QVideoSink::videoFrameChanged, &sink, [&](const QVideoFrame& frame) {
        if (pending.isValid())
            ++outcome.dropped;
        pending = frame;
        if (queued)
            return;
        queued = true;
        QTimer::singleShot(0, &sink, [&] {
            queued = false;
            const QImage picture = std::exchange(pending, QVideoFrame()).toImage();
            if (picture.isNull())
                return;
            QPainter painter(&canvas);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            painter.drawImage(QRect(QPoint(), picture.size().scaled(box, Qt::KeepAspectRatio)), picture);
            ++outcome.shown;
        });
    });
    bool ended = false;
    QObject::connect(&player, &QMediaPlayer::mediaStatusChanged, &player,
                     [&](QMediaPlayer::MediaStatus status) { ended = ended || status == QMediaPlayer::EndOfMedia; });
    player.setSource(url);
    player.pause();
    spinUntil([&] { return player.mediaStatus() == QMediaPlayer::LoadedMedia || player.mediaStatus() == QMediaPlayer::BufferedMedia
                           || player.mediaStatus() == QMediaPlayer::InvalidMedia; });
    spinUntil([&] { return outcome.shown > 0; });
    const qint64 before = outcome.shown;
    QElapsedTimer clock;
    clock.start();
    player.play();
    spinUntil([&] { return ended || player.playbackState() == QMediaPlayer::StoppedState; });
    outcome.seconds = clock.elapsed() / 1000.0;
    settle();
    outcome.shown -= before;
    return outcome;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    qv::Settings::installShared(qv::SettingsStore::shared());
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s in|out FILE WIDTHxHEIGHT\n", argv[0]);
        return 2;
    }
    const QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(argv[2]));
    const QStringList sides = QString::fromLocal8Bit(argv[3]).split(QLatin1Char('x'));
    const QSize box(sides.value(0).toInt(), sides.value(1).toInt());
    const Outcome outcome = qstrcmp(argv[1], "in") == 0 ? inProcess(url, box) : outOfProcess(url, box);
    std::printf("%lld %lld %.2f\n", static_cast<long long>(outcome.shown), static_cast<long long>(outcome.dropped),
                outcome.seconds);
    return 0;
}
