#include "model/settings/SettingsKeys.h"
#include "model/settings/Shortcut.h"
#include "platform/settings/SettingsStore.h"

#include <gtest/gtest.h>

#include <QKeyEvent>

using namespace qv;

TEST(Shortcut, StoredFormAndItsDefault)
{
    SettingsStore store{QString()};
    // Fresh: Space with Alt and Shift.
    EXPECT_EQ(storedShortcut(store), (Shortcut{49, 2560}));
    EXPECT_EQ(Shortcut::defaultShortcut(), (Shortcut{49, Shortcut::altKey | Shortcut::shiftKey}));

    const QByteArray json = encodeShortcut(Shortcut{0, 4096});
    EXPECT_EQ(json, QByteArray(R"({"carbonModifiers":4096,"keyCode":0})"));
    EXPECT_EQ(decodeShortcut(json), (Shortcut{0, 4096}));
    // The other platform's encoder writes the keys in declaration order: the same value.
    EXPECT_EQ(decodeShortcut(R"({"keyCode":122,"carbonModifiers":256})"), (Shortcut{122, 256}));

    // Removed by the user: JSON null, and the default does not come back.
    EXPECT_EQ(encodeShortcut(std::nullopt), QByteArray("null"));
    store.setData(SettingsKey::convertHotkey, encodeShortcut(std::nullopt));
    EXPECT_EQ(storedShortcut(store), std::nullopt);

    // Unreadable data: no shortcut either.
    for (const QByteArray& bad : {QByteArray("{"), QByteArray("[49,2560]"), QByteArray("{\"keyCode\":49}"),
                                 QByteArray(R"({"keyCode":-1,"carbonModifiers":0})"),
                                 QByteArray(R"({"keyCode":4294967296,"carbonModifiers":0})"),
                                 QByteArray(R"({"keyCode":4.5,"carbonModifiers":0})"),
                                 QByteArray(R"({"keyCode":"49","carbonModifiers":2560})")}) {
        store.setData(SettingsKey::convertHotkey, bad);
        EXPECT_EQ(storedShortcut(store), std::nullopt) << bad.constData();
    }
    store.setData(SettingsKey::convertHotkey, R"({"keyCode":4294967295,"carbonModifiers":0})");
    EXPECT_EQ(storedShortcut(store), (Shortcut{4294967295u, 0}));

    // A value that is not data counts as absent: the default.
    store.setValue(SettingsKey::convertHotkey, QStringLiteral("Alt+Shift+Space"));
    EXPECT_EQ(storedShortcut(store), Shortcut::defaultShortcut());
    store.remove(SettingsKey::convertHotkey);
    EXPECT_EQ(storedShortcut(store), Shortcut::defaultShortcut());
}

TEST(Shortcut, DisplayStringsAndKeyNames)
{
    EXPECT_EQ(shortcutDisplayString(Shortcut::defaultShortcut()), QStringLiteral("Alt+Shift+Space"));
    // Always Ctrl, Alt, Shift, Super, whatever the bits.
    EXPECT_EQ(shortcutDisplayString(Shortcut{0, 256 | 512 | 2048 | 4096}), QStringLiteral("Ctrl+Alt+Shift+Super+A"));
    EXPECT_EQ(shortcutDisplayString(Shortcut{122, 256}), QStringLiteral("Super+F1"));
    EXPECT_EQ(shortcutDisplayString(Shortcut{0, Shortcut::superKey | Shortcut::shiftKey}), "Shift+Super+A");

    const QList<std::pair<quint32, QString>> table{
        {49, "Space"}, {36, "↩"}, {48, "⇥"}, {51, "⌫"}, {117, "⌦"}, {53, "⎋"},
        {123, "←"}, {124, "→"}, {126, "↑"}, {125, "↓"}, {115, "↖"}, {119, "↘"},
        {116, "⇞"}, {121, "⇟"}, {122, "F1"}, {120, "F2"}, {99, "F3"}, {118, "F4"},
        {96, "F5"}, {97, "F6"}, {98, "F7"}, {100, "F8"}, {101, "F9"}, {109, "F10"},
        {103, "F11"}, {111, "F12"}};
    for (const auto& [code, name] : table)
        EXPECT_EQ(keyName(code), name) << code;

    // Beyond the table: what the key types, upper-cased.
    EXPECT_EQ(keyName(0), QStringLiteral("A"));
    EXPECT_EQ(keyName(29), QStringLiteral("0"));
    EXPECT_EQ(keyName(41), QStringLiteral(";"));
    EXPECT_EQ(keyName(105), QStringLiteral("F13"));
    // Unknown anywhere: "#" and the number.
    EXPECT_EQ(keyName(10), QStringLiteral("#10"));
    EXPECT_EQ(keyName(70000), QStringLiteral("#70000"));
}

TEST(Shortcut, FromKeyEvents)
{
    // Shift alone, or no modifier, makes no shortcut.
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_A, Qt::ShiftModifier), std::nullopt);
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_A, Qt::NoModifier), std::nullopt);
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_A, Qt::ControlModifier), (Shortcut{0, 4096}));
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_Space, Qt::AltModifier | Qt::ShiftModifier),
              Shortcut::defaultShortcut());
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_F5, Qt::MetaModifier), (Shortcut{96, 256}));
    // Shift+1 arrives as "!": still the 1 key.
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier),
              (Shortcut{18, 4096 | 512}));
    // Keypad keys have codes of their own.
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_1, Qt::ControlModifier | Qt::KeypadModifier),
              (Shortcut{83, 4096}));
    // A modifier pressed alone, and keys without a code, make none.
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_Control, Qt::ControlModifier), std::nullopt);
    EXPECT_EQ(Shortcut::fromKey(Qt::Key_VolumeUp, Qt::ControlModifier), std::nullopt);

    const QKeyEvent event(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(Shortcut::fromKeyEvent(event), (Shortcut{6, 4096 | 2048}));
}
