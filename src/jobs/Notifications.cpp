#include "jobs/Notifications.h"

#include "jobs/Job.h"
#include "model/PlatformWording.h"
#include "model/Clock.h"
#include "model/Log.h"
#include "platform/Workspace.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cmath>

namespace qv {

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");

QString lowerFirst(const QString& text)
{
    if (text.isEmpty())
        return text;
    return text.left(1).toLower() + text.mid(1);
}

} // namespace

Notifications::Notifications(const QDBusConnection& bus, Workspace& workspace, const Clock& clock,
                             QObject* parent)
    : QObject(parent)
    , m_bus(bus)
    , m_workspace(workspace)
    , m_clock(clock)
{
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
}

Notifications& Notifications::shared()
{
    static Notifications* notifications =
        new Notifications(QDBusConnection::sessionBus(), Workspace::system(), Clock::system());
    return *notifications;
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
        return content;
    }
    if (job.state() == Job::State::failed) {
        content.summary = QStringLiteral("Couldn't ") + lowerFirst(job.title());
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

    const QString showInFolder = platformWording(QStringLiteral("Show in Finder"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("quorvenda"));
    hints.insert(QStringLiteral("category"), job->state() == Job::State::failed
                                                 ? QStringLiteral("transfer.error")
                                                 : QStringLiteral("transfer.complete"));

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, QStringLiteral("Notify"));
    call << QStringLiteral("Quorvenda") << uint(0) << QString() << content->summary << content->body
         << QStringList{QStringLiteral("default"), showInFolder, QStringLiteral("reveal"), showInFolder}
         << hints << int(-1);

    const QStringList paths = content->paths;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, paths](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<uint> reply = *finished;
                if (reply.isError()) {
                    // No notification service on this desktop: the log is all.
                    qCCritical(jobsLog, "Notification failed: %s",
                              qUtf8Printable(reply.error().message()));
                    Q_EMIT posted(0);
                    return;
                }
                m_paths.insert(reply.value(), paths);
                Q_EMIT posted(reply.value());
            });
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

void Notifications::onActionInvoked(uint id, const QString& action)
{
    // Other programs' notifications share the signal; the body and the button do the same.
    const auto it = m_paths.constFind(id);
    if (it == m_paths.constEnd())
        return;
    if (action != QLatin1String("default") && action != QLatin1String("reveal"))
        return;
    const QStringList paths = it.value();
    QTimer::singleShot(0, this, [this, paths] { revealPaths(paths); });
}

void Notifications::onNotificationClosed(uint id, uint)
{
    m_paths.remove(id);
}

} // namespace qv
