#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace qv::test {

// Runs `quorvenda-dev ARGS` with settings and caches of its own under home, outside the test
// harness; returns what it printed on standard output, trimmed.
QByteArray runDevDriver(const QStringList& args, const QString& home, int* exitCode = nullptr);

// The last line of the output as a JSON object.
QJsonObject lastJsonLine(const QByteArray& output);

// What `quorvenda-dev run` printed of its job, and how it exited.
struct DriverRun {
    int code = -1;
    QJsonObject result;
    QStringList outputs() const { return strings("outputs"); }
    QStringList messages() const { return strings("messages"); }
    QString failure() const { return result.value("failure").toObject().value("message").toString(); }

private:
    QStringList strings(const char* key) const
    {
        QStringList all;
        for (const auto& value : result.value(QLatin1String(key)).toArray())
            all.append(value.toString());
        return all;
    }
};

// `quorvenda-dev edit ARGS` under home: its last JSON line.
inline QJsonObject runEditCommand(const QStringList& args, const QString& home, int* exitCode = nullptr)
{
    return lastJsonLine(runDevDriver(QStringList{"edit"} + args, home, exitCode));
}

// A JSON array of texts as a list.
inline QStringList stringList(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list.append(item.toString());
    return list;
}

// `quorvenda-dev run ARGS` under home.
inline DriverRun runDriverJob(const QStringList& args, const QString& home)
{
    DriverRun r;
    r.result = lastJsonLine(runDevDriver(QStringList{"run"} + args, home, &r.code));
    return r;
}

} // namespace qv::test
