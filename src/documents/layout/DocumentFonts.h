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

    // Whether a family draws every character at one width; remembered per family.
    static bool isFixedPitchFamily(const QString& family);
};

} // namespace qv
