#include "platform/sandbox/PlayerProtocol.h"

namespace qv::PlayerProtocol {

QJsonObject openMessage(const OpenRequest& request)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("open")},
                       {QStringLiteral("source"), request.source.toString(QUrl::FullyEncoded)},
                       {QStringLiteral("slots"), request.slots},
                       {QStringLiteral("slotBytes"), double(request.slotBytes)},
                       {QStringLiteral("width"), request.box.width()},
                       {QStringLiteral("height"), request.box.height()},
                       {QStringLiteral("memoryLimit"), double(request.memoryLimitBytes)}};
}

OpenRequest openRequest(const QJsonObject& message)
{
    OpenRequest request;
    request.source = QUrl(message.value(QStringLiteral("source")).toString(), QUrl::StrictMode);
    request.slots = message.value(QStringLiteral("slots")).toInt();
    request.slotBytes = qint64(message.value(QStringLiteral("slotBytes")).toDouble());
    request.box = QSize(message.value(QStringLiteral("width")).toInt(), message.value(QStringLiteral("height")).toInt());
    request.memoryLimitBytes = qint64(message.value(QStringLiteral("memoryLimit")).toDouble());
    return request;
}

QJsonObject command(const QString& type, const QJsonObject& fields)
{
    QJsonObject message = fields;
    message.insert(QStringLiteral("type"), type);
    return message;
}

QString type(const QJsonObject& message)
{
    return message.value(QStringLiteral("type")).toString();
}

} // namespace qv::PlayerProtocol
