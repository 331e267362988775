#include "support/LinkingTables.h"

#include <QFile>
#include <QList>

namespace qv::test {

qint64 linkingTablesKilobytes(const QByteArray& smaps)
{
    qint64 total = 0;
    bool tables = false;
    for (const QByteArray& line : smaps.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 6 && fields[0].contains('-') && fields[1].size() == 4)
            tables = fields[1] == "r--p" && fields[2].toLongLong(nullptr, 16) == 0 && fields[5].startsWith('/');
        else if (tables && line.startsWith("Rss:"))
            total += fields.value(1).toLongLong();
    }
    return total;
}

QByteArray ownMappings()
{
    QFile file(QStringLiteral("/proc/self/smaps"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace qv::test
