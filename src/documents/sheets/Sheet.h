#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace qv {

// A named table of text cells: the form every spreadsheet conversion exchanges. Rows read from
// a workbook all have the same length; rows of delimited text may differ.
struct Sheet {
    QString name;
    QList<QStringList> rows;
    // Cells whose formula was saved without its result (by a script or a web app): empty here.
    qint64 formulasWithoutValue = 0;

    bool operator==(const Sheet&) const = default;
};

// Bounds on what a spreadsheet may make us hold, whatever its file claims.
struct SheetLimits {
    // Cells of every grid read from one file, shared strings counted.
    static constexpr qint64 maximumCells = 10'000'000;
    // Characters of text held for one file (shared strings and cell values).
    static constexpr qint64 maximumCharacters = qint64(128) << 20;
    // Characters of every cell of one file, a shared string counted at each cell that uses it:
    // what a conversion writes out, whatever the file holds in memory.
    static constexpr qint64 maximumExpandedCharacters = qint64(256) << 20;
    // Delimited text read as one piece.
    static constexpr qint64 maximumTextBytes = qint64(128) << 20;

    static const QString tooLargeMessage;
};

} // namespace qv
