#pragma once

namespace qv {

// SIGTERM, SIGINT and SIGHUP end the event loop like a quit from the menu, so running jobs are
// cancelled and their child programs signalled before the process goes.
void quitOnTerminationSignals();

} // namespace qv
