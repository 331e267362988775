#include "support/DevDriver.h"

#include <QJsonDocument>
#include <QProcess>

#include <sys/resource.h>

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
    // A driver that spins is stopped by the processor time it spends, not by the clock: on a
    // loaded machine background removal at the workers' low priority waits minutes for a core.
    // A driver that hangs without spinning is left to the test runner's own timeout.
    process.setChildProcessModifier([] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_CPU, &limit) == 0 && (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > 300)) {
            limit.rlim_cur = 300;
            ::setrlimit(RLIMIT_CPU, &limit);
        }
    });
    process.start(QStringLiteral(QV_BUILD_DIR "/quorvenda-dev"), args);
    process.waitForFinished(-1);
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
