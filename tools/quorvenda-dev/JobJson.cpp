#include "JobJson.h"

#include <QJsonArray>
#include <QJsonValue>

namespace qv::dev {

namespace {

QString stateName(Job::State state)
{
    switch (state) {
    case Job::State::receiving: return QStringLiteral("receiving");
    case Job::State::waiting: return QStringLiteral("waiting");
    case Job::State::running: return QStringLiteral("running");
    case Job::State::finished: return QStringLiteral("finished");
    case Job::State::failed: return QStringLiteral("failed");
    case Job::State::cancelled: return QStringLiteral("cancelled");
    }
    return {};
}

} // namespace

QJsonObject jobJson(const JobPtr& job)
{
    QJsonObject result;
    result.insert(QStringLiteral("state"), stateName(job->state()));
    QJsonArray outputs;
    for (const QUrl& url : job->outputs())
        outputs.append(url.toLocalFile());
    result.insert(QStringLiteral("outputs"), outputs);
    result.insert(QStringLiteral("messages"), QJsonArray::fromStringList(job->messages()));
    if (job->failure()) {
        result.insert(QStringLiteral("failure"),
                      QJsonObject{{QStringLiteral("message"), job->failure()->message},
                                  {QStringLiteral("details"), job->failure()->details}});
    } else {
        result.insert(QStringLiteral("failure"), QJsonValue());
    }
    result.insert(QStringLiteral("failedCount"), job->failedCount());
    return result;
}

} // namespace qv::dev
