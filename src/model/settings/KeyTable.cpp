#include "model/settings/KeyTable.h"

#include <X11/keysym.h>

#include <Qt>

namespace qv {

namespace {

struct KeyRow {
    quint32 keyCode;
    quint32 keysym;
    int qtKey;
    bool keypad;
    const char* label;
};

// clang-format off
constexpr KeyRow kKeys[] = {
    {0, XK_a, Qt::Key_A, false, "a"}, {11, XK_b, Qt::Key_B, false, "b"},
    {8, XK_c, Qt::Key_C, false, "c"}, {2, XK_d, Qt::Key_D, false, "d"},
    {14, XK_e, Qt::Key_E, false, "e"}, {3, XK_f, Qt::Key_F, false, "f"},
    {5, XK_g, Qt::Key_G, false, "g"}, {4, XK_h, Qt::Key_H, false, "h"},
    {34, XK_i, Qt::Key_I, false, "i"}, {38, XK_j, Qt::Key_J, false, "j"},
    {40, XK_k, Qt::Key_K, false, "k"}, {37, XK_l, Qt::Key_L, false, "l"},
    {46, XK_m, Qt::Key_M, false, "m"}, {45, XK_n, Qt::Key_N, false, "n"},
    {31, XK_o, Qt::Key_O, false, "o"}, {35, XK_p, Qt::Key_P, false, "p"},
    {12, XK_q, Qt::Key_Q, false, "q"}, {15, XK_r, Qt::Key_R, false, "r"},
    {1, XK_s, Qt::Key_S, false, "s"}, {17, XK_t, Qt::Key_T, false, "t"},
    {32, XK_u, Qt::Key_U, false, "u"}, {9, XK_v, Qt::Key_V, false, "v"},
    {13, XK_w, Qt::Key_W, false, "w"}, {7, XK_x, Qt::Key_X, false, "x"},
    {16, XK_y, Qt::Key_Y, false, "y"}, {6, XK_z, Qt::Key_Z, false, "z"},

    {29, XK_0, Qt::Key_0, false, "0"}, {18, XK_1, Qt::Key_1, false, "1"},
    {19, XK_2, Qt::Key_2, false, "2"}, {20, XK_3, Qt::Key_3, false, "3"},
    {21, XK_4, Qt::Key_4, false, "4"}, {23, XK_5, Qt::Key_5, false, "5"},
    {22, XK_6, Qt::Key_6, false, "6"}, {26, XK_7, Qt::Key_7, false, "7"},
    {28, XK_8, Qt::Key_8, false, "8"}, {25, XK_9, Qt::Key_9, false, "9"},

    {27, XK_minus, Qt::Key_Minus, false, "-"}, {24, XK_equal, Qt::Key_Equal, false, "="},
    {33, XK_bracketleft, Qt::Key_BracketLeft, false, "["},
    {30, XK_bracketright, Qt::Key_BracketRight, false, "]"},
    {42, XK_backslash, Qt::Key_Backslash, false, "\\"},
    {41, XK_semicolon, Qt::Key_Semicolon, false, ";"},
    {39, XK_apostrophe, Qt::Key_Apostrophe, false, "'"},
    {43, XK_comma, Qt::Key_Comma, false, ","}, {47, XK_period, Qt::Key_Period, false, "."},
    {44, XK_slash, Qt::Key_Slash, false, "/"}, {50, XK_grave, Qt::Key_QuoteLeft, false, "`"},

    {49, XK_space, Qt::Key_Space, false, " "}, {36, XK_Return, Qt::Key_Return, false, "\r"},
    {48, XK_Tab, Qt::Key_Tab, false, "\t"}, {51, XK_BackSpace, Qt::Key_Backspace, false, "\b"},
    {117, XK_Delete, Qt::Key_Delete, false, "\x7f"}, {53, XK_Escape, Qt::Key_Escape, false, "\x1b"},
    // The Help key sits where PC keyboards have Insert.
    {114, XK_Insert, Qt::Key_Insert, false, "Insert"},
    {115, XK_Home, Qt::Key_Home, false, "Home"}, {119, XK_End, Qt::Key_End, false, "End"},
    {116, XK_Prior, Qt::Key_PageUp, false, "PgUp"}, {121, XK_Next, Qt::Key_PageDown, false, "PgDn"},
    {123, XK_Left, Qt::Key_Left, false, "Left"}, {124, XK_Right, Qt::Key_Right, false, "Right"},
    {126, XK_Up, Qt::Key_Up, false, "Up"}, {125, XK_Down, Qt::Key_Down, false, "Down"},

    {122, XK_F1, Qt::Key_F1, false, "F1"}, {120, XK_F2, Qt::Key_F2, false, "F2"},
    {99, XK_F3, Qt::Key_F3, false, "F3"}, {118, XK_F4, Qt::Key_F4, false, "F4"},
    {96, XK_F5, Qt::Key_F5, false, "F5"}, {97, XK_F6, Qt::Key_F6, false, "F6"},
    {98, XK_F7, Qt::Key_F7, false, "F7"}, {100, XK_F8, Qt::Key_F8, false, "F8"},
    {101, XK_F9, Qt::Key_F9, false, "F9"}, {109, XK_F10, Qt::Key_F10, false, "F10"},
    {103, XK_F11, Qt::Key_F11, false, "F11"}, {111, XK_F12, Qt::Key_F12, false, "F12"},
    {105, XK_F13, Qt::Key_F13, false, "F13"}, {107, XK_F14, Qt::Key_F14, false, "F14"},
    {113, XK_F15, Qt::Key_F15, false, "F15"}, {106, XK_F16, Qt::Key_F16, false, "F16"},
    {64, XK_F17, Qt::Key_F17, false, "F17"}, {79, XK_F18, Qt::Key_F18, false, "F18"},
    {80, XK_F19, Qt::Key_F19, false, "F19"}, {90, XK_F20, Qt::Key_F20, false, "F20"},

    {82, XK_KP_0, Qt::Key_0, true, "0"}, {83, XK_KP_1, Qt::Key_1, true, "1"},
    {84, XK_KP_2, Qt::Key_2, true, "2"}, {85, XK_KP_3, Qt::Key_3, true, "3"},
    {86, XK_KP_4, Qt::Key_4, true, "4"}, {87, XK_KP_5, Qt::Key_5, true, "5"},
    {88, XK_KP_6, Qt::Key_6, true, "6"}, {89, XK_KP_7, Qt::Key_7, true, "7"},
    {91, XK_KP_8, Qt::Key_8, true, "8"}, {92, XK_KP_9, Qt::Key_9, true, "9"},
    {65, XK_KP_Decimal, Qt::Key_Period, true, "."}, {67, XK_KP_Multiply, Qt::Key_Asterisk, true, "*"},
    {69, XK_KP_Add, Qt::Key_Plus, true, "+"}, {78, XK_KP_Subtract, Qt::Key_Minus, true, "-"},
    {75, XK_KP_Divide, Qt::Key_Slash, true, "/"}, {81, XK_KP_Equal, Qt::Key_Equal, true, "="},
    {76, XK_KP_Enter, Qt::Key_Enter, true, "\u2324"},
};

// With Shift held, Qt reports the symbol the key types; on the US layout it is on this key.
constexpr struct { int qtKey; quint32 keyCode; } kShifted[] = {
    {Qt::Key_Exclam, 18}, {Qt::Key_At, 19}, {Qt::Key_NumberSign, 20}, {Qt::Key_Dollar, 21},
    {Qt::Key_Percent, 23}, {Qt::Key_AsciiCircum, 22}, {Qt::Key_Ampersand, 26},
    {Qt::Key_Asterisk, 28}, {Qt::Key_ParenLeft, 25}, {Qt::Key_ParenRight, 29},
    {Qt::Key_Underscore, 27}, {Qt::Key_Plus, 24}, {Qt::Key_BraceLeft, 33},
    {Qt::Key_BraceRight, 30}, {Qt::Key_Bar, 42}, {Qt::Key_Colon, 41}, {Qt::Key_QuoteDbl, 39},
    {Qt::Key_Less, 43}, {Qt::Key_Greater, 47}, {Qt::Key_Question, 44},
    {Qt::Key_AsciiTilde, 50}, {Qt::Key_Backtab, 48},
};
// clang-format on

const KeyRow* rowForKeyCode(quint32 keyCode)
{
    for (const KeyRow& row : kKeys) {
        if (row.keyCode == keyCode)
            return &row;
    }
    return nullptr;
}

} // namespace

std::optional<quint32> keysymForKeyCode(quint32 keyCode)
{
    if (const KeyRow* row = rowForKeyCode(keyCode))
        return row->keysym;
    return std::nullopt;
}

std::optional<QString> keyLabel(quint32 keyCode)
{
    if (const KeyRow* row = rowForKeyCode(keyCode))
        return QString::fromUtf8(row->label);
    return std::nullopt;
}

std::optional<quint32> keyCodeForQtKey(int qtKey, bool keypad)
{
    for (const KeyRow& row : kKeys) {
        if (row.qtKey == qtKey && row.keypad == keypad)
            return row.keyCode;
    }
    if (!keypad) {
        for (const auto& shifted : kShifted) {
            if (shifted.qtKey == qtKey)
                return shifted.keyCode;
        }
    }
    return std::nullopt;
}

} // namespace qv
