#pragma once

#include "documents/sheets/Sheet.h"

#include <stop_token>

namespace qv {

// Writes the sheets as a minimal workbook at destination, which must not exist: one worksheet
// per sheet (one empty "Sheet1" for none), numbers as numbers and other text as inline
// strings. Throws SystemError and CancellationError; a failure leaves no file.
void writeXLSX(const QList<Sheet>& sheets, const QString& destination, std::stop_token stop = {});

// A valid worksheet name: the characters \ / ? * [ ] : become spaces between the pieces, the
// ends are trimmed, at most 31 characters; "Sheet" and index + 1 when nothing is left.
QString sanitizedSheetName(const QString& name, qsizetype index);

// The sanitized names of the sheets, made unique ignoring case: a later "Data" becomes
// "Data (2)", "Data (3)", shortened to stay within 31 characters.
QStringList uniqueSheetNames(const QList<Sheet>& sheets);

// Whether a cell's text is written as a number: plain decimals, no exponent, no leading
// zeros, no "+", at most 19 characters.
bool isNumericCell(const QString& text);

// 1 is "A", 27 "AA", 703 "AAA".
QString columnLetters(qint64 column);

// Text for XML content and attributes: markup characters escaped; characters XML cannot
// carry dropped; a carriage return kept as a character reference, so it survives reading.
QString xlsxEscape(const QString& text);

// Worksheet names are limited to this many UTF-16 units.
inline constexpr qsizetype maximumSheetNameLength = 31;

} // namespace qv
