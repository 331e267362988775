#pragma once

#include "documents/sheets/Sheet.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringView>

#include <optional>
#include <stop_token>

namespace qv {

// The worksheets of an .xlsx workbook as text, in workbook order, never empty: shared and
// inline strings, numbers without floating-point noise, TRUE and FALSE, dates in ISO form,
// times of day and elapsed times as their formats show them. The package is read in place,
// within ZipPackageReader's caps; all grids together, shared strings counted, hold at most
// SheetLimits::maximumCells cells, and their text, a shared string counted at each cell that
// names it, at most SheetLimits::maximumExpandedCharacters. Parts are found through the
// relationships, else the content types. Throws EngineError "This spreadsheet is damaged",
// "This file is not a valid XLSX workbook", "This workbook has no sheets",
// OfficeEncryption::passwordProtectedMessage, SheetLimits::tooLargeMessage, and
// CancellationError.
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
// Meaningful for 0 <= serial < lastDateSerial (9999-12-31 ends there). In the 1900 system the
// days before March 1900 are counted as Excel counts them, with its 29 February 1900.
QString excelDateText(double serial, bool use1904);
inline constexpr double lastDateSerial = 2958466;

// The time of day of a serial, "HH:mm:ss", as a time-only format shows it.
QString excelTimeText(double serial);

// A serial as an elapsed-time format such as "[hh]:mm:ss" or "[m]:ss.00" shows it: the
// bracketed unit counts past its day or hour ("255:10:10"); negative spans keep their sign.
QString excelElapsedText(double serial, QStringView formatCode);

// How a cell format shows a number, for the formats that show it as a date or a time.
struct NumberFormat {
    enum class Kind { date, time, elapsed };
    Kind kind = Kind::date;
    QString code; // the format code, for elapsed times
    bool operator==(const NumberFormat&) const = default;
};

// The kind of a format code, nothing for codes that show plain numbers.
std::optional<NumberFormat::Kind> numberFormatKind(QStringView formatCode);

// The cell formats (cellXfs indexes) that show dates or times, from styles.xml.
QHash<int, NumberFormat> numberFormatStyles(const QByteArray& stylesXml);

// "42", "0.1", "3.14159265358979", "1e+20"; text that is no number comes back unchanged.
QString numberText(const QString& text);

// The indexes of the cell formats (cellXfs) that show dates, from styles.xml.
QSet<int> dateStyleIndexes(const QByteArray& stylesXml);

} // namespace qv
