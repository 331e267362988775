#pragma once

#include "model/errors/JobFailure.h"
#include "model/operations/Progress.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QUrl>
#include <QUuid>

#include <memory>
#include <optional>
#include <stop_token>

namespace qv {

// One user-visible run, observed by the pills, the tray icon and the notifications. Lives on
// the main thread; its work items report only into its progress.
class Job : public QObject {
    Q_OBJECT
public:
    enum class State { receiving, waiting, running, finished, failed, cancelled };

    // What one work item did: its files, what it wrote, what it said, or why it failed.
    struct ItemOutcome {
        QStringList inputs; // file names
        QList<QUrl> outputs;
        QStringList messages;
        std::optional<JobFailure> failure;
        bool cancelled = false;

        bool operator==(const ItemOutcome&) const = default;
    };

    Job(QString title, QString symbol, int fileCount, QString firstFileName,
        std::optional<QPointF> origin, QDateTime startedAt, QObject* parent = nullptr);

    const QUuid& id() const { return m_id; }
    const QString& title() const { return m_title; }
    const QString& symbol() const { return m_symbol; }
    int fileCount() const { return m_fileCount; }
    const QString& firstFileName() const { return m_firstFileName; }
    const std::optional<QPointF>& origin() const { return m_origin; }
    const QDateTime& startedAt() const { return m_startedAt; }
    Progress& progress() const { return *m_progress; }
    const std::shared_ptr<Progress>& progressPointer() const { return m_progress; }

    State state() const { return m_state; }
    double fraction() const { return m_fraction; }
    const QList<QUrl>& outputs() const { return m_outputs; }
    const QStringList& messages() const { return m_messages; }
    const std::optional<JobFailure>& failure() const { return m_failure; }
    int failedCount() const { return m_failedCount; }
    // In the order of the items; empty until the job ended.
    const QList<ItemOutcome>& itemOutcomes() const { return m_itemOutcomes; }
    const std::optional<QDateTime>& finishedAt() const { return m_finishedAt; }

    bool isActive() const;
    // Asked to stop and not yet ended: what it still reports is no longer progress.
    bool isCancelling() const { return isActive() && m_stop.stop_requested(); }

    // The job's task: present once started; requesting a stop cancels the job.
    bool hasTask() const { return m_hasTask; }
    std::stop_token stopToken() const { return m_stop.get_token(); }
    void cancelTask();

    void setState(State state);
    void setFraction(double fraction);
    void setOutputs(const QList<QUrl>& outputs);
    void setMessages(const QStringList& messages);
    void setFailure(const std::optional<JobFailure>& failure);
    void setFailedCount(int count);
    void setItemOutcomes(const QList<ItemOutcome>& outcomes);
    void setFinishedAt(const QDateTime& time);
    void setHasTask(bool hasTask) { m_hasTask = hasTask; }

Q_SIGNALS:
    // Emitted after any published field changed.
    void changed();

private:
    QUuid m_id = QUuid::createUuid();
    QString m_title;
    QString m_symbol;
    int m_fileCount;
    QString m_firstFileName;
    std::optional<QPointF> m_origin;
    QDateTime m_startedAt;
    std::shared_ptr<Progress> m_progress = std::make_shared<Progress>(0);
    State m_state = State::waiting;
    double m_fraction = 0.0;
    QList<QUrl> m_outputs;
    QStringList m_messages;
    std::optional<JobFailure> m_failure;
    int m_failedCount = 0;
    QList<ItemOutcome> m_itemOutcomes;
    std::optional<QDateTime> m_finishedAt;
    bool m_hasTask = false;
    std::stop_source m_stop;
};

} // namespace qv
