#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>

namespace qv::test {

// Keeps the signals of the names that a service sends from a path, in the order they came.
class DBusSignalRecorder : public QObject {
    Q_OBJECT
public:
    DBusSignalRecorder(QDBusConnection bus, const QString& service, const QString& path,
                       const QString& interface, const QStringList& names);

    bool isConnected() const { return m_connected; }
    QList<QDBusMessage> messages;

private Q_SLOTS:
    void received(const QDBusMessage& message);

private:
    bool m_connected = false;
};

} // namespace qv::test
