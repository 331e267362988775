#pragma once

#include "documents/sheets/Sheet.h"
#include "model/operations/OperationDescriptor.h"

#include <QList>

#include <stop_token>

namespace qv {

class OutputPlanner;

// The spreadsheet category's conversions and tools, in wheel order.
const QList<OperationDescriptor>& spreadsheetDescriptors();

// A conversion to xlsx, csv or tsv.
OperationDescriptor makeSpreadsheetConversion(const QString& extension);

// The sheets of a CSV, TSV or XLSX file; a delimited file is one sheet named after the file.
QList<Sheet> loadSheets(const FileInfo& file, OutputPlanner& planner, std::stop_token stop);

// One file name (without extension) per sheet: the sanitized sheet name, and for names that
// would clash, ignoring case, "Data 2", "Data 3".
QStringList sheetFileNames(const QList<Sheet>& sheets);

// The note for cells whose formula came without a result and that nothing could compute.
QString missingResultsNote(qint64 cells);

} // namespace qv
