#include "platform/processes/ProcessIdentity.h"

#include <QFile>
#include <QList>
#include <QString>

namespace qv {

namespace {

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

} // namespace

const QByteArray& ProcessIdentity::bootId()
{
    static const QByteArray id = readProcFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed();
    return id;
}

QByteArray ProcessIdentity::startTime(const QByteArray& pid)
{
    const QByteArray stat = readProcFile(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pid)));
    // Field 22; the command name in field 2 may hold spaces and parentheses: count from its end.
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    return fields.size() > 19 ? fields[19] : QByteArray();
}

} // namespace qv
