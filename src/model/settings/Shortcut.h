#pragma once

#include <QByteArray>
#include <QString>
#include <Qt>
#include <QtGlobal>

#include <optional>

class QKeyEvent;

namespace qv {

class Settings;

// A key with modifiers, as the global hot key stores it: the key's position code (see
// platform/KeyTable.h) and modifier bits in the stored format's numbering.
struct Shortcut {
    static constexpr quint32 superKey = 256;
    static constexpr quint32 shiftKey = 512;
    static constexpr quint32 altKey = 2048;
    static constexpr quint32 controlKey = 4096;

    quint32 keyCode = 0;
    quint32 modifierMask = 0;

    bool operator==(const Shortcut&) const = default;

    // Space with Alt and Shift.
    static Shortcut defaultShortcut();

    // Nothing unless Control, Alt or Super is held (Shift alone is no shortcut), or when the
    // key has no code.
    static std::optional<Shortcut> fromKey(int qtKey, Qt::KeyboardModifiers modifiers);
    static std::optional<Shortcut> fromKeyEvent(const QKeyEvent& event);
};

// {"carbonModifiers":2560,"keyCode":49}, or null for no shortcut. The field keeps the name
// stored settings already use for modifierMask.
QByteArray encodeShortcut(const std::optional<Shortcut>& shortcut);
// Nothing for null and for anything that is not an object of two whole numbers in 0...2^32-1.
std::optional<Shortcut> decodeShortcut(const QByteArray& json);

// The shortcut in force: the default when "quorvenda.finderHotkey" holds no data, nothing when
// the user removed it or its data cannot be read.
std::optional<Shortcut> storedShortcut(const Settings& store);
std::optional<Shortcut> storedShortcut();

// "Alt+Shift+Space": the modifiers as a Linux keyboard labels them, in the order Ctrl, Alt,
// Shift, Super, then the key's name; the recorder shows it and the hot key's logs write it.
QString shortcutDisplayString(const Shortcut& shortcut);

// The key's name from the fixed table, else what the key types (upper-cased), else "#" and
// the code.
QString keyName(quint32 keyCode);

} // namespace qv
