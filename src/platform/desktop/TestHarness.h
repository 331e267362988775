#pragma once

namespace qv {

// True when QUORVENDA_TEST_HARNESS is set: start-up, toasts, panels and windows then stay away.
bool isRunningTests();

} // namespace qv
