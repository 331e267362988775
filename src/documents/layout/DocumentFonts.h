#pragma once

#include <QFont>

namespace qv {

// The faces documents are laid out in: "Helvetica Neue" for the body and "Menlo" for code at
// 0.92 of the size, else the system's sans and fixed faces.
class DocumentFonts {
public:
    DocumentFonts() = delete;

    static QFont body(double pointSize);
    static QFont code(double pointSize);

    // The face a family name stands for: a generic alias of fontconfig's ("monospace",
    // "sans-serif", "serif"), which no word processor knows, becomes the face fontconfig
    // resolves it to ("DejaVu Sans Mono"); any other name is kept. Remembered per name.
    static QString faceName(const QString& family);

    // Whether a family draws every character at one width; remembered per family.
    static bool isFixedPitchFamily(const QString& family);
};

} // namespace qv
