#include "support/DevDriver.h"

#include <QJsonDocument>
#include <QProcess>

#include <cstdio>

namespace qv::test {

QByteArray runDevDriver(const QStringList& args, const QString& home, int* exitCode)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.remove(QStringLiteral("QUORVENDA_TEST_HARNESS"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), args);
    // A ceiling, not a measure: background removal at the workers' low priority takes over a
    // minute on a machine busy with other work.
    process.waitForFinished(240000);
    if (exitCode)
        *exitCode = process.exitCode();
    // A failed run says why in the test's output, where else it would be lost.
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        std::fprintf(stderr, "quorvenda-dev %s ended with %d:\n%s\n", qPrintable(args.join(QLatin1Char(' '))),
                     process.exitCode(), process.readAllStandardError().right(4000).constData());
    return process.readAllStandardOutput().trimmed();
}

QJsonObject lastJsonLine(const QByteArray& output)
{
    return QJsonDocument::fromJson(output.split('\n').last()).object();
}

} // namespace qv::test
