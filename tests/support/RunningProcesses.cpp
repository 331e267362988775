#include "support/RunningProcesses.h"

#include <QDir>
#include <QFile>

namespace qv::test {

int processesRunning(const QByteArray& commandLine)
{
    int found = 0;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile file(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (file.open(QIODevice::ReadOnly) && file.readAll() == commandLine)
            ++found;
    }
    return found;
}

} // namespace qv::test
