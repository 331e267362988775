#pragma once

#include "model/settings/SettingsEnums.h"

#include <QString>

namespace qv {

// The key as a Linux keyboard labels it: "Shift", "Super", "Ctrl" or "Alt"; empty for off.
QString modifierGlyph(ModifierChoice modifier);

} // namespace qv
