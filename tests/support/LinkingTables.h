#pragma once

#include <QByteArray>

namespace qv::test {

// Resident kilobytes, in a copy of /proc/<pid>/smaps, of the mappings of the files' first pages
// that are neither code nor data: where the linking tables are.
qint64 linkingTablesKilobytes(const QByteArray& smaps);

// This process's /proc/self/smaps, read whole at once, so that reading it touches no table.
QByteArray ownMappings();

} // namespace qv::test
