#pragma once

#include "model/settings/SettingsEnums.h"

#include <QtGlobal>
#include <qnamespace.h>

#include <optional>

namespace qv {

// Modifier keys as one bit set, in the bit values the stored trigger names stand for.
namespace ModifierFlag {
inline constexpr quint32 shift = 0x20000;
inline constexpr quint32 control = 0x40000;
inline constexpr quint32 option = 0x80000;  // Alt (Mod1) on X11
inline constexpr quint32 command = 0x100000; // Super (Mod4) on X11
// The four keys that can be triggers; every other bit is ignored.
inline constexpr quint32 mask = 0x1E0000;
} // namespace ModifierFlag

// The flag a trigger choice names; nothing for "off".
inline std::optional<quint32> modifierFlag(ModifierChoice choice)
{
    switch (choice) {
    case ModifierChoice::shift: return ModifierFlag::shift;
    case ModifierChoice::command: return ModifierFlag::command;
    case ModifierChoice::control: return ModifierFlag::control;
    case ModifierChoice::option: return ModifierFlag::option;
    case ModifierChoice::off: return std::nullopt;
    }
    return std::nullopt;
}

// The flag of a modifier key's own press or release (a Qt::Key); nothing for other keys.
inline std::optional<quint32> modifierFlagOfKey(int key)
{
    switch (key) {
    case Qt::Key_Shift: return ModifierFlag::shift;
    case Qt::Key_Control: return ModifierFlag::control;
    case Qt::Key_Alt:
    case Qt::Key_AltGr: return ModifierFlag::option;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R: return ModifierFlag::command;
    default: return std::nullopt;
    }
}

} // namespace qv
