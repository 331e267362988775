#pragma once

#include "documents/Sheet.h"

#include <QByteArray>
#include <QSet>
#include <QStringView>

#include <optional>
#include <stop_token>

namespace qv {

// The worksheets of an .xlsx workbook as text, in workbook order, never empty: shared and
// inline strings, numbers without floating-point noise, TRUE and FALSE, dates in ISO form.
// The package is read in place, within ZipPackageReader's caps; all grids together, shared
// strings counted, hold at most SheetLimits::maximumCells cells. Throws EngineError "This
// spreadsheet is damaged", "This file is not a valid XLSX workbook", "This workbook has no
// sheets", SheetLimits::tooLargeMessage, and CancellationError.
QList<Sheet> readXLSX(const QString& path, std::stop_token stop = {});

struct CellPosition {
    qint64 column = 0; // 0-based
    qint64 row = 0;
    bool operator==(const CellPosition&) const = default;
};

// "AA10" is column 26, row 9. Nothing without letters or digits, and nothing past the last
// column (XFD) or row (1048576) a workbook can have.
std::optional<CellPosition> cellPosition(QStringView reference);
inline constexpr qint64 maximumSheetColumns = 16384;
inline constexpr qint64 maximumSheetRows = 1048576;

// A serial day number as "yyyy-MM-dd", "yyyy-MM-dd HH:mm:ss" or, below 1, "HH:mm:ss".
// Meaningful for 0 <= serial < lastDateSerial (9999-12-31 ends there).
QString excelDateText(double serial, bool use1904);
inline constexpr double lastDateSerial = 2958466;

// "42", "0.1", "3.14159265358979", "1e+20"; text that is no number comes back unchanged.
QString numberText(const QString& text);

// The indexes of the cell formats (cellXfs) that show dates, from styles.xml.
QSet<int> dateStyleIndexes(const QByteArray& stylesXml);

} // namespace qv
