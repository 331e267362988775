#pragma once

#include <QChar>
#include <QString>

namespace qv {

// Text a file sets in the Symbol font holds the font's own codes: "a" for the alpha it draws, or
// the same code moved to U+F020-U+F0FF as Word and LibreOffice store it. Read as the characters
// the font draws, it stays what the reader saw when the font is not installed.
class SymbolFontText {
public:
    SymbolFontText() = delete;

    static bool isSymbolFont(const QString& family);

    // The character Symbol draws for the code; the code itself where it draws none or only a
    // piece of a larger sign.
    static QChar character(QChar code);
};

} // namespace qv
