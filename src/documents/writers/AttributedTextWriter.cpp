#include "documents/writers/AttributedTextWriter.h"

#include "documents/layout/DocumentFonts.h"
#include "engines/image/foreign/ImageToPng.h"

#include <QFileInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QMap>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <QRegularExpression>

#include <cmath>
#include <numeric>

namespace qv {
namespace {

constexpr double pageWidth = 440;

QColor grey(double level)
{
    return QColor::fromRgbF(float(level), float(level), float(level));
}

class Layout {
public:
    Layout(QTextDocument& doc, double base) : m_doc(doc), m_cursor(&doc), m_base(base) {}

    void startBlock(const QTextBlockFormat& format, const QTextCharFormat& chars = {})
    {
        m_afterTable = false;
        if (m_fresh) {
            m_cursor.setBlockFormat(format);
            m_cursor.setBlockCharFormat(chars);
            m_fresh = false;
        } else {
            m_cursor.insertBlock(format, chars);
        }
    }

    QTextBlockFormat paragraphFormat(double before, double after) const
    {
        QTextBlockFormat format;
        format.setLineHeight(115, QTextBlockFormat::ProportionalHeight);
        format.setTopMargin(before);
        format.setBottomMargin(after);
        return format;
    }

    void appendRuns(const QList<DocRun>& runs, double size, bool forceBold, bool forceItalic, const QColor& colour)
    {
        for (const DocRun& run : runs) {
            QTextCharFormat format;
            if (run.code) {
                format.setFont(DocumentFonts::code(size));
                format.setFontFixedPitch(true);
                format.setBackground(grey(0.94));
            } else {
                QFont font = DocumentFonts::body(size);
                font.setBold(forceBold || run.bold);
                // Emphasis inside text set in italics stands upright.
                font.setItalic(forceItalic != run.italic);
                format.setFont(font);
            }
            format.setForeground(colour);
            if (run.strike)
                format.setFontStrikeOut(true);
            if (run.underline)
                format.setFontUnderline(true);
            if (run.script != 0)
                format.setVerticalAlignment(run.script > 0 ? QTextCharFormat::AlignSuperScript
                                                           : QTextCharFormat::AlignSubScript);
            if (run.link) {
                // Kept as written: rich text holds the target as text, so any target survives.
                if (!run.link->isEmpty()) {
                    format.setAnchor(true);
                    format.setAnchorHref(*run.link);
                    format.setForeground(QColor(0x1a, 0x5f, 0xb4));
                    format.setFontUnderline(true);
                }
            }
            QString text = run.text;
            text.replace(QLatin1Char('\n'), QChar::LineSeparator);
            m_cursor.insertText(text, format);
        }
    }

    void appendTextBlock(const DocBlock& block, QTextBlockFormat format, double size, bool bold, bool italic,
                         const QColor& colour)
    {
        QTextCharFormat chars;
        chars.setFont(DocumentFonts::body(size));
        startBlock(format, chars);
        appendRuns(block.runs, size, bold, italic, colour);
    }

    void appendListItem(const DocBlock& block)
    {
        const int level = std::max(block.level, 1);
        QTextBlockFormat format = paragraphFormat(0, 4);
        QTextCharFormat chars;
        chars.setFont(DocumentFonts::body(m_base));
        startBlock(format, chars);
        const auto style = block.ordered ? QTextListFormat::ListDecimal : QTextListFormat::ListDisc;
        const auto it = m_lists.find(level);
        if (it != m_lists.end() && it.value()->format().style() == style) {
            it.value()->add(m_cursor.block());
        } else {
            QTextListFormat listFormat;
            listFormat.setStyle(style);
            listFormat.setIndent(level);
            m_lists.insert(level, m_cursor.createList(listFormat));
        }
        while (!m_lists.isEmpty() && m_lists.lastKey() > level)
            m_lists.erase(std::prev(m_lists.end()));
        appendRuns(block.runs, m_base, false, false, Qt::black);
    }

    // Leaves the cursor in a fresh empty block after the table.
    QTextTable* insertTable(int rows, int columns, const QTextTableFormat& format)
    {
        if (!m_fresh)
            m_cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
        QTextTable* table = m_cursor.insertTable(rows, columns, format);
        return table;
    }

    void leaveTable(QTextTable* table)
    {
        m_cursor = table->lastCursorPosition();
        m_cursor.movePosition(QTextCursor::NextBlock);
        m_fresh = true;
        m_afterTable = true;
    }

    void appendCode(const QString& text)
    {
        QTextTableFormat format;
        format.setColumns(1);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setBackground(grey(0.955));
        format.setBorder(0.5);
        format.setBorderBrush(grey(0.86));
        format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
        format.setCellPadding(8);
        format.setTopMargin(4);
        format.setBottomMargin(10);
        QTextTable* table = insertTable(1, 1, format);
        const QFont face = DocumentFonts::code(m_base);
        const double w = std::ceil(QFontMetricsF(face).horizontalAdvance(QLatin1Char(' ')) * 100) / 100;
        QTextCharFormat chars;
        chars.setFont(face);
        chars.setFontFixedPitch(true);
        chars.setForeground(grey(0.12));
        QTextCursor cell = table->cellAt(0, 0).firstCursorPosition();
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            int indent = 0;
            for (const QChar c : lines[i]) {
                if (c == QLatin1Char(' '))
                    ++indent;
                else if (c == QLatin1Char('\t'))
                    indent = (indent / 4 + 1) * 4;
                else
                    break;
            }
            QTextBlockFormat block;
            block.setLineHeight(2, QTextBlockFormat::LineDistanceHeight);
            // Wrapped lines start four characters further in than the line's own indentation.
            block.setLeftMargin(w * (indent + 4));
            block.setTextIndent(-w * (indent + 4));
            block.setNonBreakableLines(false);
            if (i == 0) {
                cell.setBlockFormat(block);
                cell.setBlockCharFormat(chars);
            } else {
                cell.insertBlock(block, chars);
            }
            cell.insertText(lines[i], chars);
        }
        leaveTable(table);
    }

    void appendTable(const QList<QStringList>& rows)
    {
        qsizetype n = 0;
        for (const QStringList& row : rows)
            n = std::max(n, row.size());
        if (rows.isEmpty() || n < 1)
            return;
        const QList<double> fractions = AttributedTextWriter::tableColumnFractions(rows, int(n), m_base);
        QTextTableFormat format;
        format.setColumns(int(n));
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setBorderCollapse(true);
        format.setBorder(0.5);
        format.setBorderBrush(Qt::gray);
        format.setCellPadding(5);
        format.setHeaderRowCount(1);
        QList<QTextLength> widths;
        for (const double f : fractions)
            widths.append(QTextLength(QTextLength::PercentageLength, (1 - n * 10.5 / pageWidth) * f * 100));
        format.setColumnWidthConstraints(widths);
        QTextTable* table = insertTable(int(rows.size()), int(n), format);
        for (int r = 0; r < rows.size(); ++r) {
            for (int c = 0; c < n; ++c) {
                QTextTableCell cell = table->cellAt(r, c);
                if (r == 0) {
                    QTextCharFormat cellFormat = cell.format();
                    cellFormat.setBackground(grey(0.93));
                    cell.setFormat(cellFormat);
                }
                QTextCharFormat chars;
                QFont font = DocumentFonts::body(m_base);
                font.setBold(r == 0);
                chars.setFont(font);
                chars.setForeground(Qt::black);
                QTextCursor at = cell.firstCursorPosition();
                QString text = c < rows[r].size() ? rows[r][c] : QString();
                at.insertText(text.replace(QLatin1Char('\n'), QChar::LineSeparator), chars);
            }
        }
        leaveTable(table);
    }

    void appendImage(const DocBlock& block, const AttributedTextWriter::ImageLoader& loader, double maxWidth)
    {
        std::optional<QByteArray> bytes = block.data;
        QString ext = block.ext;
        if (!bytes && block.path && loader) {
            bytes = loader(*block.path);
            if (ext.isEmpty())
                ext = QFileInfo(*block.path).suffix().toLower();
        }
        if (!bytes)
            return;
        QImage image = QImage::fromData(*bytes);
        if (image.isNull()) {
            // Formats Qt cannot draw travel as PNG.
            const std::optional<QByteArray> png = imageToPng(*bytes);
            if (!png)
                return;
            bytes = png;
            ext = QStringLiteral("png");
            image = QImage::fromData(*bytes);
        }
        if (image.isNull() || image.width() <= 0)
            return;
        if (ext.isEmpty())
            ext = QStringLiteral("png");
        const QString name = QStringLiteral("qv-image-%1.%2").arg(++m_images).arg(ext);
        m_doc.addResource(QTextDocument::ImageResource, QUrl(name), *bytes);
        const double scale = std::min(1.0, maxWidth / image.width());
        QTextImageFormat format;
        format.setName(name);
        format.setWidth(image.width() * scale);
        format.setHeight(image.height() * scale);
        QTextBlockFormat blockFormat = paragraphFormat(0, 8);
        blockFormat.setAlignment(Qt::AlignHCenter);
        startBlock(blockFormat);
        m_cursor.insertImage(format);
    }

    void appendRule()
    {
        // The block right after a table is laid out at the table's end, so a rule drawn there
        // comes out as a stub; a hairline of a block keeps it on a line of its own.
        if (m_fresh && m_afterTable) {
            QTextBlockFormat spacer;
            spacer.setLineHeight(1, QTextBlockFormat::FixedHeight);
            QTextCharFormat tiny;
            tiny.setFontPointSize(1);
            startBlock(spacer, tiny);
        }
        QTextBlockFormat format = paragraphFormat(6, 10);
        format.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth,
                           QTextLength(QTextLength::PercentageLength, 100));
        startBlock(format);
    }

    void appendPageBreak()
    {
        QTextBlockFormat format;
        format.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
        QTextCharFormat chars;
        chars.setFont(DocumentFonts::body(m_base));
        startBlock(format, chars);
    }

    void clearLists() { m_lists.clear(); }

private:
    QTextDocument& m_doc;
    QTextCursor m_cursor;
    double m_base;
    bool m_fresh = true;
    bool m_afterTable = false; // the cursor sits in the block that follows a table
    int m_images = 0;
    QMap<int, QTextList*> m_lists;
};

} // namespace

std::unique_ptr<QTextDocument> AttributedTextWriter::attributedStringFromDocumentModel(
    const ImageLoader& imageLoader, const QList<DocBlock>& blocks, double base, double maxImageWidth)
{
    auto doc = std::make_unique<QTextDocument>();
    doc->setDefaultFont(DocumentFonts::body(base));
    doc->setUndoRedoEnabled(false);
    Layout layout(*doc, base);
    static constexpr double headingFactors[] = {2.0, 1.55, 1.3, 1.12, 1.0, 0.95};
    for (const DocBlock& block : blocks) {
        if (block.kind != DocBlock::Kind::listItem)
            layout.clearLists();
        switch (block.kind) {
        case DocBlock::Kind::paragraph:
            layout.appendTextBlock(block, layout.paragraphFormat(0, 8), base, false, false, Qt::black);
            break;
        case DocBlock::Kind::heading: {
            QTextBlockFormat format = block.level < 3 ? layout.paragraphFormat(14, 6) : layout.paragraphFormat(10, 6);
            format.setHeadingLevel(block.level);
            const double size = base * headingFactors[std::clamp(block.level, 1, 6) - 1];
            layout.appendTextBlock(block, format, size, true, false, Qt::black);
            break;
        }
        case DocBlock::Kind::quote: {
            QTextBlockFormat format = layout.paragraphFormat(0, 8);
            format.setLeftMargin(24);
            format.setProperty(QTextFormat::BlockQuoteLevel, 1);
            layout.appendTextBlock(block, format, base, false, false, grey(0.38));
            break;
        }
        case DocBlock::Kind::listItem:
            layout.appendListItem(block);
            break;
        case DocBlock::Kind::code:
            layout.appendCode(block.plainText());
            break;
        case DocBlock::Kind::table:
            layout.appendTable(block.rows);
            break;
        case DocBlock::Kind::image:
            layout.appendImage(block, imageLoader, maxImageWidth);
            break;
        case DocBlock::Kind::rule:
            layout.appendRule();
            break;
        case DocBlock::Kind::pageBreak:
            layout.appendPageBreak();
            break;
        }
    }
    return doc;
}

QList<double> AttributedTextWriter::tableColumnFractions(const QList<QStringList>& rows, int n, double base)
{
    QList<double> widest(n, 1.5 * base);
    QList<double> narrowest(n, 1.5 * base);
    QFont bold = DocumentFonts::body(base);
    bold.setBold(true);
    const QFontMetricsF boldMetrics(bold);
    const QFontMetricsF bodyMetrics(DocumentFonts::body(base));
    static const QRegularExpression space(QStringLiteral("\\s+"));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QFontMetricsF& metrics = r == 0 ? boldMetrics : bodyMetrics;
        for (int c = 0; c < n && c < rows[r].size(); ++c) {
            for (const QString& line : rows[r][c].split(QLatin1Char('\n')))
                widest[c] = std::max(widest[c], std::ceil(metrics.horizontalAdvance(line)));
            for (const QString& word : rows[r][c].split(space, Qt::SkipEmptyParts))
                narrowest[c] = std::max(narrowest[c], std::ceil(metrics.horizontalAdvance(word)));
        }
    }
    const auto sum = [](const QList<double>& v) { return std::accumulate(v.begin(), v.end(), 0.0); };
    QList<double> widths;
    if (sum(widest) <= pageWidth) {
        widths = widest;
    } else if (sum(narrowest) >= pageWidth) {
        widths = narrowest;
    } else {
        double slackTotal = 0;
        for (int c = 0; c < n; ++c)
            slackTotal += std::max(0.0, widest[c] - narrowest[c]);
        slackTotal = std::max(1.0, slackTotal);
        const double left = pageWidth - sum(narrowest);
        for (int c = 0; c < n; ++c)
            widths.append(narrowest[c] + left * std::max(0.0, widest[c] - narrowest[c]) / slackTotal);
    }
    const double total = sum(widths);
    for (double& w : widths)
        w /= total;
    return widths;
}

} // namespace qv
