#include "model/settings/ModifierGlyph.h"

namespace qv {

QString modifierGlyph(ModifierChoice modifier)
{
    switch (modifier) {
    // Linux keyboards print names, not the other platform's glyphs.
    case ModifierChoice::shift: return QStringLiteral("Shift");
    case ModifierChoice::command: return QStringLiteral("Super");
    case ModifierChoice::control: return QStringLiteral("Ctrl");
    case ModifierChoice::option: return QStringLiteral("Alt");
    case ModifierChoice::off: break;
    }
    return QString();
}

} // namespace qv
