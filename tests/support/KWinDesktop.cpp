#include "support/KWinDesktop.h"

#include "support/HeadlessCompositor.h"
#include "support/WaitFor.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QRegularExpression>
#include <QUuid>
#include <QVariantMap>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace qv::test {

namespace {

constexpr int timeoutMs = 20000;

// Named after this compositor's bus: a name reused would reach an earlier test's bus.
QDBusConnection kwinBus(const HeadlessCompositor& compositor)
{
    return QDBusConnection::connectToBus(compositor.busAddress(), compositor.busAddress());
}

// All of a pipe until its writer closes it; empty when it stalls that long or fails.
QByteArray readToEnd(int fd, qsizetype expected)
{
    QByteArray data;
    char chunk[65536];
    while (true) {
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, timeoutMs);
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return {};
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {};
        if (got == 0)
            return data;
        data.append(chunk, got);
        if (data.size() > expected)
            return {};
    }
}

} // namespace

bool kwinTakesScreenshots(const HeadlessCompositor& compositor)
{
    const QDBusConnection bus = kwinBus(compositor);
    return waitFor([&] {
        return bus.interface()->isServiceRegistered(QStringLiteral("org.kde.KWin.ScreenShot2")).value();
    }, timeoutMs);
}

QImage kwinScreenshot(const HeadlessCompositor& compositor)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    QVariantMap answer;
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
            QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureWorkspace"));
        call << QVariantMap{{QStringLiteral("native-resolution"), true}}
             << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
        ::close(fds[1]);
        // KWin answers with the picture's shape, then writes its pixels to the pipe.
        const QDBusMessage reply = kwinBus(compositor).call(call, QDBus::Block, timeoutMs);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
            answer = qdbus_cast<QVariantMap>(reply.arguments().first());
        // The message's copy of the writing end goes with it, so that the pipe can end.
    }
    const int width = answer.value(QStringLiteral("width")).toInt();
    const int height = answer.value(QStringLiteral("height")).toInt();
    const int stride = answer.value(QStringLiteral("stride")).toInt();
    const auto format = QImage::Format(answer.value(QStringLiteral("format")).toInt());
    if (answer.value(QStringLiteral("type")).toString() != QLatin1String("raw") || width <= 0 || height <= 0
        || stride < width || format <= QImage::Format_Invalid || format >= QImage::NImageFormats) {
        ::close(fds[0]);
        return {};
    }
    const QByteArray pixels = readToEnd(fds[0], qsizetype(stride) * height);
    ::close(fds[0]);
    if (pixels.size() != qsizetype(stride) * height)
        return {};
    return QImage(reinterpret_cast<const uchar*>(pixels.constData()), width, height, stride, format)
        .convertToFormat(QImage::Format_RGB32);
}

QString runKWinScript(HeadlessCompositor& compositor, const QString& source, const QString& answer, int milliseconds)
{
    const QString name = QStringLiteral("qv-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    const QString path = compositor.runtimePath() + QLatin1Char('/') + name + QStringLiteral(".js");
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly) || script.write(source.toUtf8()) != source.toUtf8().size()
        || !script.flush())
        return {};
    script.close();
    QDBusConnection bus = kwinBus(compositor);
    QDBusMessage load = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
                                                       QStringLiteral("org.kde.kwin.Scripting"), QStringLiteral("loadScript"));
    load << path << name;
    const QDBusMessage loaded = bus.call(load, QDBus::Block, timeoutMs);
    QString said;
    if (loaded.type() == QDBusMessage::ReplyMessage) {
        bus.call(QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
                                                QStringLiteral("org.kde.kwin.Scripting"), QStringLiteral("start")),
                 QDBus::Block, timeoutMs);
        // Its line, whole, among whatever else KWin printed.
        const QRegularExpression line(QStringLiteral("\\b%1 (.*)\\n").arg(QRegularExpression::escape(answer)));
        waitFor([&] {
            const QRegularExpressionMatch match = line.match(QString::fromUtf8(compositor.log()));
            said = match.hasMatch() ? match.captured(1) : QString();
            return match.hasMatch();
        }, milliseconds);
        QDBusMessage unload = QDBusMessage::createMethodCall(QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"),
                                                             QStringLiteral("org.kde.kwin.Scripting"),
                                                             QStringLiteral("unloadScript"));
        unload << name;
        bus.call(unload, QDBus::Block, timeoutMs);
    }
    QFile::remove(path);
    return said;
}

int kwinWorkAreaTop(HeadlessCompositor& compositor)
{
    const QString answer = QStringLiteral("area-%1").arg(QUuid::createUuid().toString(QUuid::Id128));
    bool ok = false;
    const int top = runKWinScript(compositor,
                                  QStringLiteral("var area = workspace.clientArea(KWin.MaximizeArea, 0, workspace.currentDesktop);\n"
                                                 "print('%1 ' + area.y);\n").arg(answer),
                                  answer).toInt(&ok);
    return ok ? top : -1;
}

} // namespace qv::test
