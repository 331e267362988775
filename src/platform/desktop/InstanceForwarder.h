#pragma once

#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QUrl>

namespace qv {

// The calling side of SingleInstance: hands files to the Quorvenda running in this session,
// or asks it to show itself. Needs only Qt Core and Qt D-Bus, so that `quorvenda FILE` (Open
// With, the file managers' menus) can hand over before it loads anything else.
class InstanceForwarder {
public:
    InstanceForwarder() = delete;

    static constexpr const char* serviceName = "org.quorvenda.Quorvenda";
    static constexpr const char* objectPath = "/org/quorvenda/Quorvenda";

    // Hands the files to the running instance; false when none answers or it refuses them.
    // The refusal's text goes to error when given.
    static bool forwardFiles(const QList<QUrl>& urls, QString* error = nullptr,
                             const QDBusConnection& connection = QDBusConnection::sessionBus());

    // Asks the running instance to show itself (its settings window); false when none answers.
    static bool reopen(const QDBusConnection& connection = QDBusConnection::sessionBus());

    // Calls the running instance's method of no arguments; false when none answers.
    static bool callRunning(const QString& method, const QDBusConnection& connection = QDBusConnection::sessionBus());

    // Whether a Quorvenda holds the name on this bus now.
    static bool isRunning(const QDBusConnection& connection = QDBusConnection::sessionBus());
};

} // namespace qv
