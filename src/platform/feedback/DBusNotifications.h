#pragma once

#include "platform/feedback/DesktopNotifications.h"

#include <QDBusConnection>
#include <QHash>

namespace qv {

// The client of org.freedesktop.Notifications. A notification's payload is kept until the
// server says it closed.
class DBusNotifications : public DesktopNotifications {
    Q_OBJECT
public:
    explicit DBusNotifications(const QDBusConnection& bus, QObject* parent = nullptr);

    void post(const Notification& notification) override;

    // Notifications shown and not yet closed, by the server's id.
    QList<uint> openIds() const { return m_payloads.keys(); }

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    QHash<uint, QVariant> m_payloads;
};

} // namespace qv
