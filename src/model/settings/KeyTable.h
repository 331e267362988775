#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace qv {

// Stored shortcuts name keys by their position code on the ANSI keyboard the shortcut format
// comes from (49 is Space, 0 is A). These lookups turn such a code into what X11 and Qt call
// the same key; codes outside the table have no key here.

// The X keysym of the key, which the hot key grabs.
std::optional<quint32> keysymForKeyCode(quint32 keyCode);

// The text the key types without modifiers ("a", "1", ";"), or its short name ("F13").
std::optional<QString> keyLabel(quint32 keyCode);

// The code of a key as Qt reports it in a key event; keypad keys are told apart by the keypad
// flag. Shifted symbols of the US layout ("!" and the like) give the code of their key.
std::optional<quint32> keyCodeForQtKey(int qtKey, bool keypad);

} // namespace qv
