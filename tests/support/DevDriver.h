#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace qv::test {

// Runs `quorvenda-dev ARGS` with settings and caches of its own under home, outside the test
// harness; returns what it printed on standard output, trimmed.
QByteArray runDevDriver(const QStringList& args, const QString& home, int* exitCode = nullptr);

// The last line of the output as a JSON object.
QJsonObject lastJsonLine(const QByteArray& output);

} // namespace qv::test
