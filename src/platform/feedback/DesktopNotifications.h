#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

namespace qv {

// Notifications on the desktop, and the buttons the user clicks in them.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    struct Action {
        QString key; // "default" is a click on the notification itself
        QString label;
    };

    struct Notification {
        QString summary;
        QString body;
        QList<Action> actions;
        QString category; // a hint for the server, "transfer.complete" say
        QVariant payload; // handed back with a click
    };

    using QObject::QObject;

    // Posts the notification; posted or failed follows.
    virtual void post(const Notification& notification) = 0;

    static DesktopNotifications& system();

Q_SIGNALS:
    // The server shows it under this id.
    void posted(uint id);
    // It was refused, or there is no notification server.
    void failed(const QString& message);
    // One of our notifications, still open, was clicked.
    void actionInvoked(const QString& action, const QVariant& payload);
};

} // namespace qv
