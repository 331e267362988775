#pragma once

namespace qv {

// Puts the real services behind the interfaces that lower layers read through: the settings
// store, the file probe with the engines' content probes, and the capability look-ups. Every
// program calls it first, before anything describes a file or reads a setting; calling it
// again does nothing.
void installSystemServices();

} // namespace qv
