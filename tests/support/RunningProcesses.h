#pragma once

#include <QByteArray>

namespace qv::test {

// How many processes run with exactly this command line (its words each ended by a null, as
// /proc/<pid>/cmdline holds them).
int processesRunning(const QByteArray& commandLine);

} // namespace qv::test
