#include "platform/desktop/DBusObject.h"

#include "model/Log.h"

#include <QDBusVariant>
#include <QFile>

namespace qv {

namespace {

const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

DBusObject::DBusObject(QDBusConnection bus, QString path, QString interfaceName, QObject* parent)
    : QDBusVirtualObject(parent)
    , m_bus(std::move(bus))
    , m_path(std::move(path))
    , m_interface(std::move(interfaceName))
{
    QFile introspection(QStringLiteral(":/dbus/%1.xml").arg(m_interface));
    if (introspection.open(QIODevice::ReadOnly))
        m_introspection = QString::fromUtf8(introspection.readAll());
    if (m_introspection.isEmpty())
        qCWarning(appLog, "%s has no interface description to introspect", qUtf8Printable(m_interface));
    // Calls reach the object through this thread's event loop, so never before it is made.
    m_registered = m_bus.registerVirtualObject(m_path, this);
    if (!m_registered)
        qCWarning(appLog, "%s could not be put on the bus at %s: %s", qUtf8Printable(m_interface),
                  qUtf8Printable(m_path), qUtf8Printable(m_bus.lastError().message()));
}

DBusObject::~DBusObject()
{
    if (m_registered)
        m_bus.unregisterObject(m_path);
}

QString DBusObject::introspect(const QString& path) const
{
    return path == m_path ? m_introspection : QString();
}

void DBusObject::emitSignal(const QString& name, const QList<QVariant>& arguments)
{
    if (!m_registered)
        return;
    QDBusMessage signal = QDBusMessage::createSignal(m_path, m_interface, name);
    signal.setArguments(arguments);
    m_bus.send(signal);
}

bool DBusObject::handleMessage(const QDBusMessage& message, const QDBusConnection& connection)
{
    if (message.interface() == kProperties) {
        const QList<QVariant> args = message.arguments();
        if (!args.value(0).toString().isEmpty() && args.value(0).toString() != m_interface)
            return false;
        const QVariantMap all = properties();
        if (message.member() == QLatin1String("GetAll"))
            return connection.send(message.createReply(QVariant::fromValue(all)));
        if (message.member() == QLatin1String("Get")) {
            const QString name = args.value(1).toString();
            if (!all.contains(name))
                return connection.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such property")));
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(all.value(name)))));
        }
        return false;
    }
    if (message.interface() != m_interface && !message.interface().isEmpty())
        return false;
    const std::optional<QDBusMessage> reply = call(message);
    return reply && connection.send(*reply);
}

} // namespace qv
