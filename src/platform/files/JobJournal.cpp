#include "platform/files/JobJournal.h"
#include "platform/processes/ProcessIdentity.h"

#include "model/Log.h"
#include "platform/files/FileItems.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qv {

namespace {

// Far more than any real list; a longer file is read only this far.
constexpr qint64 maxJournalBytes = 1 << 20;

QMutex pathLock;
QString journalPath;

QString currentPath()
{
    QMutexLocker locker(&pathLock);
    return journalPath;
}

QByteArray ownerFields()
{
    static const QByteArray fields = (ProcessIdentity::bootId().isEmpty() ? QByteArray("-") : ProcessIdentity::bootId()) + ' '
        + QByteArray::number(::getpid()) + ' ' + ProcessIdentity::startTime("self");
    return fields;
}

bool ownerRuns(const QList<QByteArray>& fields)
{
    if (ProcessIdentity::bootId().isEmpty() || fields[0] != ProcessIdentity::bootId())
        return false;
    const QByteArray start = ProcessIdentity::startTime(fields[1]);
    return !start.isEmpty() && start == fields[2];
}

// The journal opened and locked for one change; the lock goes with the descriptor.
class LockedJournal {
public:
    explicit LockedJournal(const QString& path)
    {
        const QString folder = QFileInfo(path).absolutePath();
        if (FileItems::makePath(folder, 0700) != 0)
            return;
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd >= 0 && ::flock(m_fd, LOCK_EX) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~LockedJournal()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }

    QList<QByteArray> lines() const
    {
        QByteArray text;
        char buffer[8192];
        while (text.size() < maxJournalBytes) {
            const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, text.size());
            if (n <= 0)
                break;
            text.append(buffer, n);
        }
        QList<QByteArray> result;
        for (const QByteArray& line : text.split('\n')) {
            if (!line.isEmpty())
                result.append(line);
        }
        return result;
    }

    bool write(const QList<QByteArray>& lines)
    {
        QByteArray text;
        for (const QByteArray& line : lines)
            text += line + '\n';
        if (::ftruncate(m_fd, 0) != 0)
            return false;
        qsizetype done = 0;
        while (done < text.size()) {
            const ssize_t n = ::pwrite(m_fd, text.constData() + done, size_t(text.size() - done), done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

private:
    int m_fd = -1;
};

QList<QByteArray> fieldsOf(const QByteArray& line)
{
    const QList<QByteArray> fields = line.split(' ');
    return fields.size() == 5 ? fields : QList<QByteArray>();
}

} // namespace

QString JobJournal::defaultPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/quorvenda/jobs-in-flight");
}

void JobJournal::setPath(const QString& path)
{
    QMutexLocker locker(&pathLock);
    journalPath = path;
}

bool JobJournal::isEnabled()
{
    return !currentPath().isEmpty();
}

bool JobJournal::add(const QUuid& job, const QString& description)
{
    const QString path = currentPath();
    if (path.isEmpty())
        return true;
    LockedJournal journal(path);
    if (!journal.isOpen())
        return false;
    QList<QByteArray> lines = journal.lines();
    lines.append(ownerFields() + ' ' + job.toByteArray(QUuid::WithoutBraces) + ' '
                 + description.toUtf8().toPercentEncoding());
    const bool written = journal.write(lines);
    if (!written)
        qCWarning(jobsLog, "Could not record the job in %s", qUtf8Printable(path));
    return written;
}

bool JobJournal::remove(const QUuid& job)
{
    const QString path = currentPath();
    if (path.isEmpty())
        return true;
    LockedJournal journal(path);
    if (!journal.isOpen())
        return false;
    const QByteArray id = job.toByteArray(QUuid::WithoutBraces);
    const QByteArray owner = ownerFields();
    QList<QByteArray> lines = journal.lines();
    const qsizetype before = lines.size();
    lines.removeIf([&](const QByteArray& line) {
        const QList<QByteArray> fields = fieldsOf(line);
        return !fields.isEmpty() && fields[3] == id && line.startsWith(owner + ' ');
    });
    return lines.size() == before || journal.write(lines);
}

QStringList JobJournal::takeInterrupted()
{
    const QString path = currentPath();
    if (path.isEmpty())
        return {};
    LockedJournal journal(path);
    if (!journal.isOpen())
        return {};
    QStringList descriptions;
    QList<QByteArray> kept;
    const QByteArray owner = ownerFields();
    for (const QByteArray& line : journal.lines()) {
        const QList<QByteArray> fields = fieldsOf(line);
        if (fields.isEmpty())
            continue; // not a record: dropped
        if (line.startsWith(owner + ' ') || ownerRuns(fields)) {
            kept.append(line);
            continue;
        }
        descriptions.append(QString::fromUtf8(QByteArray::fromPercentEncoding(fields[4])));
    }
    if (!journal.write(kept))
        qCWarning(jobsLog, "Could not rewrite %s", qUtf8Printable(path));
    return descriptions;
}

QString JobJournal::describe(const QString& title, const QString& firstFileName, int fileCount)
{
    QString text = title;
    if (!firstFileName.isEmpty())
        text += QStringLiteral(" \u201C") + firstFileName + QStringLiteral("\u201D");
    if (fileCount > 1)
        text += QStringLiteral(" and %1 more").arg(fileCount - 1);
    return text;
}

QString JobJournal::interruptedMessage(const QStringList& descriptions)
{
    if (descriptions.isEmpty())
        return {};
    if (descriptions.size() == 1)
        return QStringLiteral("Cut short when Quorvenda last stopped: ") + descriptions.first();
    return QStringLiteral("%1 jobs were cut short when Quorvenda last stopped: ").arg(descriptions.size())
        + descriptions.join(QStringLiteral(", "));
}

} // namespace qv
