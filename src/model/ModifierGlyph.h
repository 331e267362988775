#pragma once

#include "model/SettingsEnums.h"

#include <QString>

namespace qv {

// "⇧", "⌘", "⌃" or "⌥"; empty for off.
QString modifierGlyph(ModifierChoice modifier);

} // namespace qv
