#include "platform/sandbox/SandboxWatch.h"

#include "platform/processes/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

SandboxWatch::SandboxWatch(const ChildProcess& process, Limits limits)
    : m_process(process)
    , m_limits(limits)
    , m_progressAt(std::chrono::steady_clock::now())
    , m_movedAt(m_progressAt)
{
}

void SandboxWatch::progressed()
{
    m_progressAt = std::chrono::steady_clock::now();
    m_movedAt = m_progressAt;
    m_ticksSinceProgress = 0;
}

std::chrono::milliseconds SandboxWatch::processorTime() const
{
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    return std::chrono::milliseconds(m_ticksInAll * 1000 / ticksPerSecond);
}

namespace {

// Memory files (memfd_create) the process holds open, by inode: their pages are nobody's
// resident memory until mapped, and a process may hold gigabytes of them.
void addMemoryFiles(pid_t pid, QHash<quint64, qint64>& files)
{
    const QByteArray folder = "/proc/" + QByteArray::number(pid) + "/fd/";
    const QStringList entries = QDir(QString::fromLatin1(folder)).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        const QByteArray link = folder + entry.toLatin1();
        char target[16];
        const ssize_t length = ::readlink(link.constData(), target, sizeof target);
        if (length < 7 || std::memcmp(target, "/memfd:", 7) != 0)
            continue;
        struct stat status {};
        if (::stat(link.constData(), &status) == 0)
            files.insert(quint64(status.st_ino), qint64(status.st_blocks) * 512);
    }
}

} // namespace

std::optional<QString> SandboxWatch::check()
{
    const auto now = std::chrono::steady_clock::now();
    const QList<pid_t> members = m_process.sandboxMembers();
    qint64 resident = 0;
    qint64 ticks = 0;
    int processes = 0;
    QHash<quint64, qint64> memoryFiles;
    static const long pageSize = ::sysconf(_SC_PAGESIZE);
    for (const pid_t pid : members) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 22 || fields[0] == "Z")
            continue;
        ++processes;
        // utime, stime, and those of its children it reaped; resident pages.
        ticks += fields[11].toLongLong() + fields[12].toLongLong() + fields[13].toLongLong() + fields[14].toLongLong();
        resident += fields[21].toLongLong() * pageSize;
        addMemoryFiles(pid, memoryFiles);
    }
    for (const qint64 bytes : std::as_const(memoryFiles))
        resident += bytes;
    if (m_limits.processes > 0 && processes > m_limits.processes)
        return QStringLiteral("It started more than %1 processes, which no file needs").arg(m_limits.processes);
    if (m_limits.residentBytes > 0 && resident > m_limits.residentBytes)
        return QStringLiteral("It needs more memory than a worker may use (%1 MB), counting every program it started")
            .arg(m_limits.residentBytes >> 20);
    if (ticks != m_cpuTicks) {
        if (m_cpuTicks >= 0) {
            m_movedAt = now;
            // A process that ended unreaped takes its count with it: only growth is used time.
            m_ticksSinceProgress += std::max<qint64>(0, ticks - m_cpuTicks);
            m_ticksInAll += std::max<qint64>(0, ticks - m_cpuTicks);
        }
        m_cpuTicks = ticks;
    }
    const auto seconds = [](std::chrono::milliseconds span) { return QString::number((span.count() + 999) / 1000); };
    if (m_limits.still.count() > 0 && now - m_movedAt > m_limits.still)
        return QStringLiteral("It stopped: no progress and no processor time for %1 seconds").arg(seconds(m_limits.still));
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    const std::chrono::milliseconds used{m_ticksSinceProgress * 1000 / ticksPerSecond};
    if (m_limits.work.count() > 0 && processorTime() > m_limits.work)
        return QStringLiteral("It used more processor time than a file of this size needs (%1 seconds), whatever progress it reported")
            .arg(seconds(m_limits.work));
    const auto quiet = now - m_progressAt;
    if (m_limits.quiet.count() > 0
        && ((quiet > m_limits.quiet && used > m_limits.quiet) || quiet > 10 * m_limits.quiet))
        return QStringLiteral("It made no progress for %1 seconds, far longer than a file of this size needs")
            .arg(seconds(m_limits.quiet));
    return std::nullopt;
}

} // namespace qv
