#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>
#include <QVariantMap>

#include <optional>

namespace qv {

// An object of ours at a path of a bus connection that answers one interface, with its
// read-only properties through org.freedesktop.DBus.Properties. Registered as it is made and
// gone with it.
class DBusObject : public QDBusVirtualObject {
    Q_OBJECT
public:
    ~DBusObject() override;

    // Registered at the path; false when the bus refused it.
    bool isRegistered() const { return m_registered; }
    QString path() const { return m_path; }
    QString interfaceName() const { return m_interface; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

protected:
    // The interface's element of the introspection XML is the resource :/dbus/<interfaceName>.xml.
    DBusObject(QDBusConnection bus, QString path, QString interfaceName, QObject* parent);

    QDBusConnection& bus() { return m_bus; }
    void emitSignal(const QString& name, const QList<QVariant>& arguments = {});

    virtual QVariantMap properties() const = 0;
    // The reply to a call of the interface; nothing for a member it does not have.
    virtual std::optional<QDBusMessage> call(const QDBusMessage& message) = 0;

private:
    QDBusConnection m_bus;
    QString m_path;
    QString m_interface;
    QString m_introspection;
    bool m_registered = false;
};

} // namespace qv
