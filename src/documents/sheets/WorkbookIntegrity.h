#pragma once

#include <QString>

#include <optional>

namespace qv {

// Whether an Excel workbook of the binary kinds is whole before an office program is let near
// it: LibreOffice opens a cut one as text and converts its bytes, or as an empty sheet. An
// Excel 97-2003 file (a compound file) must hold its workbook stream whole, an Excel 2-4 file
// (records alone) must end its records within the file; each must end its globals with an EOF
// record. Anything that is neither (an HTML or text table named .xls) is not judged here, nor is a
// compound file too broken to list its streams unless its name says it is a workbook.
class WorkbookIntegrity {
public:
    WorkbookIntegrity() = delete;

    // What is wrong, for the log; nothing when the file is whole or of another kind.
    static std::optional<QString> damage(const QString& path);

    static const QString damagedMessage;
};

} // namespace qv
