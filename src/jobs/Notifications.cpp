#include "jobs/Notifications.h"

#include "jobs/FailureTitle.h"
#include "jobs/Job.h"
#include "model/Clock.h"
#include "model/Log.h"
#include "platform/desktop/Workspace.h"
#include "platform/feedback/DesktopNotifications.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <cmath>

namespace qv {

Notifications::Notifications(DesktopNotifications& desktop, Workspace& workspace, const Clock& clock,
                             QObject* parent)
    : QObject(parent)
    , m_desktop(desktop)
    , m_workspace(workspace)
    , m_clock(clock)
{
    connect(&m_desktop, &DesktopNotifications::actionInvoked, this, &Notifications::onActionInvoked);
    connect(&m_desktop, &DesktopNotifications::failed, this, [](const QString& message) {
        // No notification service on this desktop: the log is all.
        qCCritical(jobsLog, "Notification failed: %s", qUtf8Printable(message));
    });
}

Notifications& Notifications::shared()
{
    static Notifications* notifications =
        new Notifications(DesktopNotifications::system(), Workspace::system(), Clock::system());
    return *notifications;
}

QStringList Notifications::lossNotes(const Job& job)
{
    static const QRegularExpression loss(
        QStringLiteral("sheets: only the first|left out|left empty|unreadable characters? replaced"));
    QStringList notes;
    for (const QString& message : job.messages()) {
        if (loss.match(message).hasMatch())
            notes.append(message);
    }
    return notes;
}

std::optional<Notifications::Content> Notifications::contentFor(const Job& job, const QDateTime& now)
{
    Content content;
    for (const QUrl& url : job.outputs())
        content.paths.append(url.toLocalFile());

    if (job.state() == Job::State::finished) {
        if (job.outputs().size() == 1)
            content.summary = QStringLiteral("Saved ") + QFileInfo(job.outputs().first().path()).fileName();
        else
            content.summary = QStringLiteral("Saved %1 files").arg(job.outputs().size());
        const QDateTime end = job.finishedAt().value_or(now);
        // std::round takes halves away from zero.
        const double seconds = std::round(job.startedAt().msecsTo(end) / 1000.0);
        content.body = job.title() + QStringLiteral(" finished in ")
                       + QString::number(static_cast<qint64>(seconds)) + QStringLiteral(" s");
        const QStringList losses = lossNotes(job);
        if (!losses.isEmpty())
            content.body = losses.join(QLatin1Char('\n')) + QLatin1Char('\n') + content.body;
        return content;
    }
    if (job.state() == Job::State::failed) {
        content.summary = failureTitle(job.title());
        content.body = job.failure() ? job.failure()->message : QString();
        return content;
    }
    return std::nullopt;
}

void Notifications::postJobFinished(const JobPtr& job)
{
    if (!job)
        return;
    const std::optional<Content> content = contentFor(*job, m_clock.now());
    if (!content)
        return;

    const QString showInFolder = QStringLiteral("Show in Folder");
    DesktopNotifications::Notification notification;
    notification.summary = content->summary;
    notification.body = content->body;
    notification.actions = {{QStringLiteral("default"), showInFolder}, {QStringLiteral("reveal"), showInFolder}};
    notification.category = job->state() == Job::State::failed ? QStringLiteral("transfer.error")
                                                                : QStringLiteral("transfer.complete");
    notification.payload = content->paths;
    m_desktop.post(notification);
}

void Notifications::revealPaths(const QStringList& paths)
{
    QList<QUrl> existing;
    for (const QString& p : paths) {
        if (!p.isEmpty() && QFileInfo::exists(p))
            existing.append(QUrl::fromLocalFile(p));
    }
    if (!existing.isEmpty())
        m_workspace.reveal(existing);
}

void Notifications::onActionInvoked(const QString& action, const QVariant& payload)
{
    // The body and the button do the same.
    if (action != QLatin1String("default") && action != QLatin1String("reveal"))
        return;
    if (payload.typeId() != QMetaType::QStringList)
        return;
    const QStringList paths = payload.toStringList();
    QTimer::singleShot(0, this, [this, paths] { revealPaths(paths); });
}

} // namespace qv
