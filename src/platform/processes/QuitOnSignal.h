#pragma once

#include <functional>

namespace qv {

// SIGTERM, SIGINT and SIGHUP end the process like a quit from the menu. The handler only writes
// to a pipe; onSignal, QCoreApplication::quit when empty, then runs on the main thread's event
// loop with the signal's number. A later call replaces onSignal and installs the handler again.
void quitOnTerminationSignals(std::function<void(int signal)> onSignal = {});

} // namespace qv
