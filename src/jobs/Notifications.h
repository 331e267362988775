#pragma once

#include "jobs/JobCenterServices.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>

#include <optional>

namespace qv {

class Clock;
class DesktopNotifications;
class Job;
class Workspace;

// Desktop notifications for jobs that took long. Clicking one, or its "Show in Folder"
// button, shows the job's results that still exist.
class Notifications : public QObject, public JobNotifier {
    Q_OBJECT
public:
    struct Content {
        QString summary;
        QString body;
        QStringList paths; // the job's outputs, in output order
    };

    Notifications(DesktopNotifications& desktop, Workspace& workspace, const Clock& clock,
                  QObject* parent = nullptr);

    static Notifications& shared();

    // Posts the notification of a finished or failed job; nothing for other states.
    void postJobFinished(const JobPtr& job) override;

    // Shows the paths that still exist in the file manager; nothing when none does.
    void revealPaths(const QStringList& paths);

    // What the notification of a job says; nothing for a job that is not finished or failed.
    static std::optional<Content> contentFor(const Job& job, const QDateTime& now);
    // The job's notes that say part of the input is not in the result (sheets, cells, pictures,
    // links left out): the user must read them without hovering, so they go in a notification.
    static QStringList lossNotes(const Job& job);

private:
    void onActionInvoked(const QString& action, const QVariant& payload);

    DesktopNotifications& m_desktop;
    Workspace& m_workspace;
    const Clock& m_clock;
};

} // namespace qv
