#pragma once

#include "jobs/JobCenterServices.h"

#include <QDBusConnection>
#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <optional>

namespace qv {

class Clock;
class Job;
class Workspace;

// Desktop notifications for jobs that took long, through org.freedesktop.Notifications.
// Clicking one, or its "Show in Folder" button, shows the job's results that still exist.
class Notifications : public QObject, public JobNotifier {
    Q_OBJECT
public:
    struct Content {
        QString summary;
        QString body;
        QStringList paths; // the job's outputs, in output order
    };

    Notifications(const QDBusConnection& bus, Workspace& workspace, const Clock& clock,
                  QObject* parent = nullptr);

    static Notifications& shared();

    // Posts the notification of a finished or failed job; nothing for other states.
    void postJobFinished(const JobPtr& job) override;

    // Shows the paths that still exist in the file manager; nothing when none does.
    void revealPaths(const QStringList& paths);

    // What the notification of a job says; nothing for a job that is not finished or failed.
    static std::optional<Content> contentFor(const Job& job, const QDateTime& now);

    // Notifications shown and not yet closed, by the server's id.
    QList<uint> openIds() const { return m_paths.keys(); }

Q_SIGNALS:
    // A notification was accepted by the server (id) or refused (0).
    void posted(uint id);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    QDBusConnection m_bus;
    Workspace& m_workspace;
    const Clock& m_clock;
    QHash<uint, QStringList> m_paths;
};

} // namespace qv
