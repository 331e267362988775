#pragma once

#include <QChar>
#include <QList>
#include <QString>
#include <QStringList>

#include <stop_token>

namespace qv {

// Rows of a CSV or TSV file. The tab separates for the extensions tsv and tab; otherwise the
// first non-empty line decides between ";" and ",". Throws the text reader's errors and
// EngineError SheetLimits::tooLargeMessage for a file too big to hold.
QList<QStringList> readDelimitedText(const QString& path, qint64* replaced = nullptr);

// The delimiter readDelimitedText would use for this text and file name.
QChar delimiterFor(const QString& text, const QString& fileName);

// Quoted fields may hold delimiters, doubled quotes and line breaks; "\r\n" is one break.
// Throws EngineError SheetLimits::tooLargeMessage past maximumCells fields.
QList<QStringList> splitDelimited(const QString& text, QChar delimiter,
                                  qint64 maximumCells = -1);

// Rows joined with "\r\n", one more "\r\n" at the end; fields quoted only where needed.
QString delimitedText(const QList<QStringList>& rows, QChar delimiter);

// delimitedText's text as UTF-8 into a new file at path, a piece at a time, so that rows
// sharing long texts never stand in memory all spelled out. Throws SystemError (the file is
// removed) and CancellationError.
void writeDelimitedFile(const QList<QStringList>& rows, QChar delimiter, const QString& path,
                        std::stop_token stop = {});

} // namespace qv
