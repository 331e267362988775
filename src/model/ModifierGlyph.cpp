#include "model/ModifierGlyph.h"

namespace qv {

QString modifierGlyph(ModifierChoice modifier)
{
    switch (modifier) {
    case ModifierChoice::shift: return QString(QChar(0x21E7));
    case ModifierChoice::command: return QString(QChar(0x2318));
    case ModifierChoice::control: return QString(QChar(0x2303));
    case ModifierChoice::option: return QString(QChar(0x2325));
    case ModifierChoice::off: break;
    }
    return QString();
}

} // namespace qv
