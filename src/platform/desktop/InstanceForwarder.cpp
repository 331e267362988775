#include "platform/desktop/InstanceForwarder.h"

#include <QDBusMessage>
#include <QStringList>

namespace qv {

namespace {

constexpr int kForwardTimeoutMs = 10000;

QDBusMessage instanceCall(const QString& method)
{
    const QString service = QString::fromLatin1(InstanceForwarder::serviceName);
    QDBusMessage call = QDBusMessage::createMethodCall(service, QString::fromLatin1(InstanceForwarder::objectPath),
                                                       service, method);
    // Nothing is started to answer: with no instance running, the caller becomes it.
    call.setAutoStartService(false);
    return call;
}

} // namespace

bool InstanceForwarder::forwardFiles(const QList<QUrl>& urls, QString* error, const QDBusConnection& connection)
{
    QStringList arguments;
    for (const QUrl& url : urls)
        arguments.append(QString::fromUtf8(url.toEncoded()));
    QDBusMessage call = instanceCall(QStringLiteral("OpenFiles"));
    call << arguments;
    // The running instance may live in this very process (tests): keep its events flowing.
    const QDBusMessage reply = connection.call(call, QDBus::BlockWithGui, kForwardTimeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return true;
    if (error)
        *error = reply.errorMessage();
    return false;
}

bool InstanceForwarder::reopen(const QDBusConnection& connection)
{
    return callRunning(QStringLiteral("Reopen"), connection);
}

bool InstanceForwarder::callRunning(const QString& method, const QDBusConnection& connection)
{
    const QDBusMessage reply = connection.call(instanceCall(method), QDBus::BlockWithGui, kForwardTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool InstanceForwarder::isRunning(const QDBusConnection& connection)
{
    if (!connection.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    call << QString::fromLatin1(serviceName);
    const QDBusMessage reply = connection.call(call, QDBus::Block, kForwardTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
        && reply.arguments().first().toBool();
}

} // namespace qv
