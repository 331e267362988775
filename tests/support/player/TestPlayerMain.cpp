// A player process that decodes nothing: it plays a ten-second picture of solid colours, and
// crashes, hangs or refuses on demand, chosen by the source's file name ("crash", "hang",
// "unplayable", or "silent": it never answers the opening; "peek": behind the real player's
// walls it reads the file and a "secret.txt" beside it, and fails saying which it could read).
// With QUORVENDA_TEST_PLAYER_LOG set it appends every command it takes there.
#include "platform/sandbox/FrameRing.h"
#include "platform/sandbox/PlayerProtocol.h"
#include "platform/sandbox/WorkerProtocol.h"
#include "platform/sandbox/WorkerSandbox.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

using namespace qv;

namespace {

constexpr qint64 durationMs = 10000;
constexpr int tickMs = 40;

struct State {
    int output = -1;
    int framesFd = -1;
    qint64 seen = 0;
    std::optional<FrameRing> ring;
    std::vector<bool> slotFree;
    QSize box;
    QString name;
    double rate = 1.0;
    qint64 position = 0;
    qint64 loopFrom = 0, loopTo = 0;
    QTimer* clock = nullptr;
    QString log;
};

State state;

void reply(const QString& type, QJsonObject fields = {})
{
    fields.insert(QStringLiteral("type"), type);
    fields.insert(QStringLiteral("seen"), double(state.seen));
    if (!WorkerProtocol::writeFrame(state.output, fields))
        std::_Exit(0);
}

void sendFrame()
{
    if (!state.ring || state.box.isEmpty())
        return;
    for (size_t slot = 0; slot < state.slotFree.size(); ++slot) {
        if (!state.slotFree[slot])
            continue;
        const QSize size = state.ring->fitted(state.box);
        QImage canvas = state.ring->canvas(int(slot), size);
        canvas.fill(QColor::fromHsv(int(state.position / 100 % 360), 255, 255));
        state.slotFree[slot] = false;
        reply(QStringLiteral("frame"), {{QStringLiteral("slot"), int(slot)}, {QStringLiteral("width"), size.width()},
                                        {QStringLiteral("height"), size.height()},
                                        {QStringLiteral("stride"), canvas.bytesPerLine()}});
        return;
    }
}

void tick()
{
    state.position = std::min(durationMs, state.position + qint64(tickMs * state.rate));
    if (state.loopTo > state.loopFrom && state.position >= state.loopTo)
        state.position = state.loopFrom;
    if (state.name.contains(QLatin1String("crash")) && state.position >= 1000)
        std::raise(SIGSEGV);
    if (state.name.contains(QLatin1String("hang")) && state.position >= 1000) {
        for (;;)
            ::pause();
    }
    reply(QStringLiteral("position"), {{QStringLiteral("position"), double(state.position)}});
    sendFrame();
    if (state.position >= durationMs) {
        state.clock->stop();
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), false}});
    }
}

void take(const QJsonObject& message)
{
    ++state.seen;
    if (!state.log.isEmpty()) {
        QFile log(state.log);
        if (log.open(QIODevice::Append))
            log.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
    }
    const QString type = PlayerProtocol::type(message);
    if (type == QLatin1String("open")) {
        const PlayerProtocol::OpenRequest request = PlayerProtocol::openRequest(message);
        state.name = request.source.fileName();
        state.box = request.box;
        if (state.framesFd >= 0)
            state.ring = FrameRing::attach(state.framesFd, request.slots, request.slotBytes);
        if (state.ring)
            state.slotFree.assign(size_t(state.ring->slots()), true);
        if (state.name.contains(QLatin1String("silent")))
            return;
        if (state.name.contains(QLatin1String("peek"))) {
            const QString path = request.source.toLocalFile();
            const bool viewed = WorkerSandbox::wallPlayer(path);
            const auto read = [](const QString& file) {
                QFile opened(file);
                return opened.open(QIODevice::ReadOnly) && !opened.read(1).isEmpty() ? "read" : "refused";
            };
            // The sound servers' sockets, where the client libraries look for them.
            const auto reach = [](const QString& socketPath) {
                const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                const QByteArray name = QFile::encodeName(socketPath);
                std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
                const bool reached = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
                ::close(fd);
                return reached ? "reached" : "refused";
            };
            const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
            reply(QStringLiteral("failed"),
                  {{QStringLiteral("details"), QStringLiteral("%1source %2, beside %3, sound %4 %5")
                                                   .arg(viewed ? "" : "no walls: ", read(path),
                                                        read(QFileInfo(path).dir().filePath(QStringLiteral("secret.txt"))),
                                                        reach(runtime + QStringLiteral("/pulse/native")),
                                                        reach(runtime + QStringLiteral("/pipewire-0")))}});
            return;
        }
        if (state.name.contains(QLatin1String("unplayable"))) {
            reply(QStringLiteral("failed"), {{QStringLiteral("details"), QStringLiteral("Not a movie")}});
            return;
        }
        reply(QStringLiteral("loaded"), {{QStringLiteral("duration"), double(durationMs)}});
        sendFrame();
    } else if (type == QLatin1String("play")) {
        state.clock->start();
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), true}});
    } else if (type == QLatin1String("pause") || type == QLatin1String("stop")) {
        state.clock->stop();
        if (type == QLatin1String("stop"))
            state.position = 0;
        reply(QStringLiteral("state"), {{QStringLiteral("playing"), false}});
    } else if (type == QLatin1String("seek")) {
        state.position = qint64(message.value(QStringLiteral("position")).toDouble());
        reply(QStringLiteral("position"), {{QStringLiteral("position"), double(state.position)}});
        reply(QStringLiteral("seeked"), {{QStringLiteral("id"), double(state.seen)}});
        sendFrame();
    } else if (type == QLatin1String("rate")) {
        state.rate = message.value(QStringLiteral("rate")).toDouble();
    } else if (type == QLatin1String("loop")) {
        state.loopFrom = qint64(message.value(QStringLiteral("from")).toDouble());
        state.loopTo = qint64(message.value(QStringLiteral("to")).toDouble());
    } else if (type == QLatin1String("size")) {
        state.box = QSize(message.value(QStringLiteral("width")).toInt(), message.value(QStringLiteral("height")).toInt());
        sendFrame(); // the paused picture again, at the new size
    } else if (type == QLatin1String("free")) {
        const int slot = message.value(QStringLiteral("slot")).toInt(-1);
        if (slot >= 0 && size_t(slot) < state.slotFree.size())
            state.slotFree[size_t(slot)] = true;
    }
}

} // namespace

int main(int argc, char** argv)
{
    state.output = ::dup(STDOUT_FILENO);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::setsid();
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--frames") == 0)
            state.framesFd = QByteArray(argv[i + 1]).toInt();
    }
    state.log = qEnvironmentVariable("QUORVENDA_TEST_PLAYER_LOG");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    state.clock = new QTimer(&app);
    state.clock->setInterval(tickMs);
    QObject::connect(state.clock, &QTimer::timeout, &tick);
    ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
    WorkerProtocol::FrameReader reader;
    QSocketNotifier notifier(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&reader] {
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got > 0) {
                reader.append(QByteArray(buffer, qsizetype(got)));
                continue;
            }
            if (got < 0 && errno == EINTR)
                continue;
            if (got == 0 || errno != EAGAIN)
                std::_Exit(0);
            break;
        }
        while (const std::optional<QJsonObject> message = reader.next())
            take(*message);
    });
    return app.exec();
}
