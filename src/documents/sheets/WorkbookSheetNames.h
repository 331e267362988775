#pragma once

#include <QString>
#include <QStringList>

#include <stop_token>

namespace qv {

// The names of a workbook's sheets in their order, read from an OpenDocument spreadsheet's
// content or an Excel 5-2003 workbook's globals without an office program. Chart and macro
// sheets are left out: they hold no cells to convert. Empty when the file is of another kind
// or cannot be read; reading it for real is the converter's business, and it says why.
class WorkbookSheetNames {
public:
    WorkbookSheetNames() = delete;

    static QStringList of(const QString& path, std::stop_token stop);
};

} // namespace qv
