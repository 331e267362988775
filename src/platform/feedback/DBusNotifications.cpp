#include "platform/feedback/DBusNotifications.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>

namespace qv {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

} // namespace

DBusNotifications::DBusNotifications(const QDBusConnection& bus, QObject* parent)
    : DesktopNotifications(parent)
    , m_bus(bus)
{
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

DesktopNotifications& DesktopNotifications::system()
{
    static DBusNotifications* notifications = new DBusNotifications(QDBusConnection::sessionBus());
    return *notifications;
}

void DBusNotifications::post(const Notification& notification)
{
    QStringList actions;
    for (const Action& action : notification.actions)
        actions << action.key << action.label;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvenda"));
    if (!notification.category.isEmpty())
        hints.insert(QStringLiteral("category"), notification.category);

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    // GNOME Shell shows the desktop entry's icon only for an installed entry; an icon named
    // here shows everywhere.
    call << QStringLiteral("Quorvenda") << uint(0) << appIcon() << notification.summary << notification.body
         << actions << hints << int(-1);

    const QVariant payload = notification.payload;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, payload](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    Q_EMIT failed(reply.error().message());
                    return;
                }
                m_payloads.insert(reply.value(), payload);
                Q_EMIT posted(reply.value());
            });
}

void DBusNotifications::onActionInvoked(uint id, const QString& action)
{
    // Other programs' notifications share the signal.
    const auto it = m_payloads.constFind(id);
    if (it == m_payloads.constEnd())
        return;
    Q_EMIT actionInvoked(action, it.value());
}

void DBusNotifications::onNotificationClosed(uint id, uint)
{
    m_payloads.remove(id);
}

} // namespace qv
