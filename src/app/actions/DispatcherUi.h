#pragma once

namespace qv {

// Gives the shared dispatcher its windows: the editors and the options sheet.
void installDispatcherUi();

} // namespace qv
