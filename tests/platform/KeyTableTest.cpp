#include "model/settings/KeyTable.h"
#include "model/settings/Shortcut.h"
#include "platform/x11/X11HotkeyGrabber.h"

#include <gtest/gtest.h>

#include <QSet>
#include <Qt>

#include <X11/X.h>
#include <X11/keysym.h>

using namespace qv;

TEST(KeyTable, StoredCodesNameTheSameKeysInX11AndQt)
{
    const QList<std::pair<quint32, quint32>> keysyms{
        {49, XK_space}, {36, XK_Return}, {48, XK_Tab}, {51, XK_BackSpace}, {117, XK_Delete},
        {53, XK_Escape}, {0, XK_a}, {1, XK_s}, {6, XK_z}, {12, XK_q}, {46, XK_m}, {18, XK_1},
        {23, XK_5}, {22, XK_6}, {29, XK_0}, {27, XK_minus}, {50, XK_grave},
        {122, XK_F1}, {120, XK_F2}, {99, XK_F3}, {118, XK_F4}, {96, XK_F5}, {111, XK_F12},
        {90, XK_F20}, {123, XK_Left}, {124, XK_Right}, {125, XK_Down}, {126, XK_Up},
        {115, XK_Home}, {119, XK_End}, {116, XK_Prior}, {121, XK_Next}, {83, XK_KP_1},
        {76, XK_KP_Enter}};
    for (const auto& [code, keysym] : keysyms)
        EXPECT_EQ(keysymForKeyCode(code), keysym) << code;
    EXPECT_EQ(keysymForKeyCode(10), std::nullopt);
    EXPECT_EQ(keysymForKeyCode(255), std::nullopt);

    // No two codes grab the same key, and every key has a label.
    QSet<quint32> seen;
    for (quint32 code = 0; code < 128; ++code) {
        if (!keysymForKeyCode(code))
            continue;
        EXPECT_FALSE(seen.contains(*keysymForKeyCode(code))) << code;
        seen.insert(*keysymForKeyCode(code));
        EXPECT_TRUE(keyLabel(code).has_value()) << code;
    }
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_F12, false), 111u);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Backtab, false), 48u);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Enter, true), 76u);
    EXPECT_EQ(keyCodeForQtKey(Qt::Key_Enter, false), std::nullopt);

    // Shift, Control, Alt and Super.
    EXPECT_EQ(x11ModifierMask(Shortcut::shiftKey), quint32(ShiftMask));
    EXPECT_EQ(x11ModifierMask(Shortcut::controlKey), quint32(ControlMask));
    EXPECT_EQ(x11ModifierMask(Shortcut::altKey), quint32(Mod1Mask));
    EXPECT_EQ(x11ModifierMask(Shortcut::superKey), quint32(Mod4Mask));
    EXPECT_EQ(x11ModifierMask(2560), quint32(ShiftMask | Mod1Mask));
    // Bits the stored format has but X11 lacks (Caps Lock 1024) are not grabbed.
    EXPECT_EQ(x11ModifierMask(1024), 0u);
}
