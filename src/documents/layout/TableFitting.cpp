#include "documents/layout/TableFitting.h"

#include <QFontMetricsF>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextFrame>
#include <QTextTable>

namespace qv {
namespace {

void collectTables(QTextFrame* frame, QList<QTextTable*>& tables)
{
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child))
            tables.append(table);
        else
            collectTables(child, tables);
    }
}

// The widest word of each column, in device units.
QList<double> widestWords(QTextTable* table, const QFont& defaultFont, QPaintDevice* device)
{
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QList<double> widths(table->columns(), 0.0);
    for (int r = 0; r < table->rows(); ++r) {
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            if (cell.row() != r || cell.column() != c || cell.columnSpan() > 1)
                continue;
            for (auto it = cell.begin(); !it.atEnd(); ++it) {
                const QTextBlock block = it.currentBlock();
                if (!block.isValid())
                    continue;
                for (auto f = block.begin(); !f.atEnd(); ++f) {
                    const QTextFragment fragment = f.fragment();
                    const QFontMetricsF metrics(fragment.charFormat().font().resolve(defaultFont), device);
                    for (const QString& word : fragment.text().split(space, Qt::SkipEmptyParts))
                        widths[c] = std::max(widths[c], metrics.horizontalAdvance(word));
                }
            }
        }
    }
    return widths;
}

void scaleType(QTextTable* table, double scale, double defaultSize)
{
    QTextCursor cursor(table->document());
    for (int r = 0; r < table->rows(); ++r) {
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            if (cell.row() != r || cell.column() != c)
                continue;
            QList<std::tuple<int, int, QTextCharFormat>> changes;
            for (auto it = cell.begin(); !it.atEnd(); ++it) {
                const QTextBlock block = it.currentBlock();
                for (auto f = block.begin(); !f.atEnd(); ++f) {
                    const QTextFragment fragment = f.fragment();
                    QTextCharFormat format = fragment.charFormat();
                    const double size = format.fontPointSize() > 0 ? format.fontPointSize() : defaultSize;
                    format.setFontPointSize(size * scale);
                    changes.append({fragment.position(), fragment.position() + fragment.length(), format});
                }
            }
            for (const auto& [from, to, format] : std::as_const(changes)) {
                cursor.setPosition(from);
                cursor.setPosition(to, QTextCursor::KeepAnchor);
                cursor.setCharFormat(format);
            }
        }
    }
}

} // namespace

void TableFitting::fitTables(QTextDocument& document, double width, QPaintDevice* device)
{
    QList<QTextTable*> tables;
    collectTables(document.rootFrame(), tables);
    const QFont defaultFont = document.defaultFont();
    const double defaultSize = defaultFont.pointSizeF() > 0 ? defaultFont.pointSizeF() : 12;
    const double unitsPerPoint = device ? device->logicalDpiX() / 72.0 : 1.0;
    for (QTextTable* table : std::as_const(tables)) {
        QTextTableFormat format = table->format();
        // Padding and borders on both sides of every cell, and a little air.
        const double overhead = (2 * format.cellPadding() + format.border() + format.cellSpacing() + 2) * unitsPerPoint;
        QList<double> words = widestWords(table, defaultFont, device);
        double needed = 0;
        for (const double w : std::as_const(words))
            needed += w + overhead;
        if (needed > width) {
            const double room = width - overhead * table->columns();
            const double wordsTotal = needed - overhead * table->columns();
            const double scale = std::clamp(room / std::max(wordsTotal, 1.0), smallestScale, 1.0);
            if (scale < 0.999) {
                scaleType(table, scale, defaultSize);
                for (double& w : words)
                    w *= scale;
            }
        }
        const QList<QTextLength> constraints = format.columnWidthConstraints();
        if (constraints.size() != table->columns())
            continue;
        bool cutting = false;
        for (int c = 0; c < table->columns(); ++c) {
            const QTextLength length = constraints[c];
            const double given = length.type() == QTextLength::PercentageLength ? width * length.rawValue() / 100
                                 : length.type() == QTextLength::FixedLength    ? length.rawValue() * unitsPerPoint
                                                                                : -1;
            if (given >= 0 && given < words[c] + overhead)
                cutting = true;
        }
        if (cutting) {
            format.clearColumnWidthConstraints();
            table->setFormat(format);
        }
    }
}

} // namespace qv
