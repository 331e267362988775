#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>

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

    // The icon beside each notification: a theme icon's name or a file's absolute path, asked
    // for when the first notification is posted.
    void setAppIcon(std::function<QString()> icon) { m_iconSource = std::move(icon); m_appIcon.clear(); }
    QString appIcon()
    {
        if (m_appIcon.isEmpty())
            m_appIcon = m_iconSource ? m_iconSource() : QString();
        if (m_appIcon.isEmpty())
            m_appIcon = QStringLiteral("quorvenda");
        return m_appIcon;
    }

Q_SIGNALS:
    // The server shows it under this id.
    void posted(uint id);
    // It was refused, or there is no notification server.
    void failed(const QString& message);
    // One of our notifications, still open, was clicked.
    void actionInvoked(const QString& action, const QVariant& payload);

private:
    std::function<QString()> m_iconSource;
    QString m_appIcon;
};

} // namespace qv
