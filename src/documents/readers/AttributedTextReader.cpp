#include "documents/readers/AttributedTextReader.h"

#include "documents/layout/DocumentFonts.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

#include <cmath>

namespace qv {
namespace {

double pointSize(const QTextCharFormat& format, double fallback)
{
    const double size = format.fontPointSize();
    return size > 0 ? size : fallback;
}

bool isCodeFormat(const QTextCharFormat& format)
{
    if (format.fontFixedPitch())
        return true;
    const QStringList families = format.fontFamilies().toStringList();
    return !families.isEmpty() && DocumentFonts::isFixedPitchFamily(families.first());
}

bool isBlank(const QString& text)
{
    for (const QChar c : text) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t'))
            return false;
    }
    return true;
}

void trimParagraphRuns(QList<DocRun>& runs)
{
    while (!runs.isEmpty() && isBlank(runs.first().text))
        runs.removeFirst();
    while (!runs.isEmpty() && runs.last().text.trimmed().isEmpty())
        runs.removeLast();
    if (runs.isEmpty())
        return;
    QString& first = runs.first().text;
    qsizetype i = 0;
    while (i < first.size() && (first[i] == QLatin1Char(' ') || first[i] == QLatin1Char('\t')))
        ++i;
    first.remove(0, i);
    QString& last = runs.last().text;
    while (!last.isEmpty() && last.back().isSpace())
        last.chop(1);
}

void stripListMarker(QList<DocRun>& runs)
{
    trimParagraphRuns(runs);
    static const QRegularExpression marker(QStringLiteral(
        "^\\s*(?:[\u2022\u25E6\u25AA\u25AB\u2023\u2043\u2013\\-*\u00B7]|\\(?\\d{1,3}[.)]|[a-zA-Z][.)]|[ivxIVX]{1,4}[.)])\\s+"));
    if (!runs.isEmpty())
        runs.first().text.remove(marker);
}

// A block's text without the layout's markers: lines broken inside it become line feeds,
// pictures and frame bounds vanish.
QString blockText(const QTextBlock& block)
{
    QString text = block.text();
    text.replace(QChar::LineSeparator, QLatin1Char('\n')).replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.remove(QChar::ObjectReplacementCharacter);
    text.remove(QChar(0xFDD0)).remove(QChar(0xFDD1)); // QTextBeginningOfFrame, QTextEndOfFrame
    return text;
}

void appendFrameLines(QTextFrame* frame, int depth, QStringList& lines);

// A list item's marker as plain text writes it: "- " or its number and ". ", two spaces in
// for each level below the first.
QString listMarker(const QTextBlock& block)
{
    QTextList* list = block.textList();
    if (!list || block.text().trimmed().isEmpty())
        return {};
    const QTextListFormat format = list->format();
    const QString indent(2 * std::max(0, format.indent() - 1), QLatin1Char(' '));
    const QTextListFormat::Style style = format.style();
    if (style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle || style == QTextListFormat::ListSquare)
        return indent + QStringLiteral("- ");
    // The items carry their own numbers.
    if (style == QTextListFormat::ListStyleUndefined)
        return indent;
    QString number = list->itemText(block).trimmed();
    if (number.isEmpty())
        number = QString::number(list->itemNumber(block) + 1) + QLatin1Char('.');
    return indent + number + QLatin1Char(' ');
}

// A cell on one line: its paragraphs, and the cells of a table inside it, joined by spaces.
QString flatCellText(const QTextTableCell& cell, int depth)
{
    QStringList lines;
    for (auto it = cell.begin(); !it.atEnd(); ++it) {
        if (QTextFrame* frame = it.currentFrame()) {
            if (depth < AttributedTextReader::maximumDepth)
                appendFrameLines(frame, depth + 1, lines);
        } else {
            lines.append(blockText(it.currentBlock()));
        }
    }
    QString text = lines.join(QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' '));
    return text.simplified();
}

void appendTableLines(QTextTable* table, int depth, QStringList& lines)
{
    for (int r = 0; r < table->rows(); ++r) {
        QStringList cells;
        for (int c = 0; c < table->columns(); ++c) {
            const QTextTableCell cell = table->cellAt(r, c);
            // A merged cell is read once, where it starts; the places it covers stay empty, so
            // that every row keeps its columns.
            if (cell.row() != r || cell.column() != c) {
                cells.append(QString());
                continue;
            }
            cells.append(flatCellText(cell, depth));
        }
        lines.append(cells.join(QLatin1Char('\t')));
    }
}

void appendFrameLines(QTextFrame* frame, int depth, QStringList& lines)
{
    for (auto it = frame->begin(); !it.atEnd(); ++it) {
        if (QTextFrame* child = it.currentFrame()) {
            if (auto* table = qobject_cast<QTextTable*>(child))
                appendTableLines(table, depth, lines);
            else if (depth < AttributedTextReader::maximumDepth)
                appendFrameLines(child, depth + 1, lines);
        } else {
            lines.append(listMarker(it.currentBlock()) + blockText(it.currentBlock()));
        }
    }
}

class Reader {
public:
    Reader(const QTextDocument& doc) : m_doc(doc)
    {
        m_defaultSize = doc.defaultFont().pointSizeF() > 0 ? doc.defaultFont().pointSizeF() : 12;
        m_bodySize = bodyFontSize();
    }

    QList<DocBlock> blocks;

    void walkFrame(QTextFrame* frame, int depth)
    {
        for (auto it = frame->begin(); !it.atEnd(); ++it) {
            if (QTextFrame* child = it.currentFrame()) {
                if (auto* table = qobject_cast<QTextTable*>(child))
                    readTable(table, depth);
                else if (depth < AttributedTextReader::maximumDepth)
                    walkFrame(child, depth + 1);
            } else {
                readParagraph(it.currentBlock());
            }
        }
    }

private:
    const QTextDocument& m_doc;
    double m_defaultSize = 12;
    double m_bodySize = 12;

    double bodyFontSize() const
    {
        QMap<double, qint64> totals;
        for (QTextBlock block = m_doc.begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextFragment fragment = it.fragment();
                const double size = std::round(pointSize(fragment.charFormat(), m_defaultSize) * 2) / 2;
                totals[size] += fragment.length();
            }
        }
        double best = 12;
        qint64 most = -1;
        for (auto it = totals.cbegin(); it != totals.cend(); ++it) {
            if (it.value() > most) {
                most = it.value();
                best = it.key();
            }
        }
        return best;
    }

    static QString cellText(const QTextTableCell& cell, int depth)
    {
        QStringList lines;
        for (auto it = cell.begin(); !it.atEnd(); ++it) {
            if (QTextFrame* frame = it.currentFrame()) {
                // A nested table gives its text on one line; a cursor's selection would carry
                // the frame markers U+FDD0 and U+FDD1.
                if (depth < AttributedTextReader::maximumDepth) {
                    QStringList nested;
                    appendFrameLines(frame, depth, nested);
                    lines.append(nested.join(QLatin1Char(' ')).replace(QLatin1Char('\t'), QLatin1Char(' ')));
                }
            } else {
                lines.append(it.currentBlock().text());
            }
        }
        QString text = lines.join(QLatin1Char('\n'));
        text.replace(QChar::LineSeparator, QLatin1Char('\n')).remove(QChar::ObjectReplacementCharacter);
        return text;
    }

    void appendCode(const QString& text)
    {
        if (!blocks.isEmpty() && blocks.last().kind == DocBlock::Kind::code && !blocks.last().runs.isEmpty()) {
            blocks.last().runs.first().text += QLatin1Char('\n') + text;
        } else {
            DocBlock code = DocBlock::code(text);
            // An empty code block holds no run, as the Markdown reader gives it.
            if (text.isEmpty())
                code.runs.clear();
            blocks.append(code);
        }
    }

    void readTable(QTextTable* table, int depth)
    {
        const int rows = table->rows();
        const int columns = table->columns();
        if (columns == 1) {
            const QTextTableCell first = table->cellAt(0, 0);
            const QTextCursor at = first.firstCursorPosition();
            QTextCharFormat format = at.block().charFormat();
            if (at.block().begin() != at.block().end())
                format = at.block().begin().fragment().charFormat();
            if (isCodeFormat(format)) {
                QStringList lines;
                for (int r = 0; r < rows; ++r)
                    lines.append(cellText(table->cellAt(r, 0), depth + 1));
                appendCode(lines.join(QLatin1Char('\n')));
                return;
            }
        }
        QList<QStringList> out;
        for (int r = 0; r < rows; ++r) {
            QStringList cells;
            for (int c = 0; c < columns; ++c) {
                const QTextTableCell cell = table->cellAt(r, c);
                // A merged cell is read once, where it starts.
                if (cell.row() != r || cell.column() != c)
                    continue;
                QString text = cellText(cell, depth + 1);
                while (!text.isEmpty() && (text.front() == QLatin1Char(' ') || text.front() == QLatin1Char('\t')))
                    text.remove(0, 1);
                while (!text.isEmpty() && (text.back() == QLatin1Char(' ') || text.back() == QLatin1Char('\t')))
                    text.chop(1);
                cells.append(text);
            }
            out.append(cells);
        }
        if (!out.isEmpty())
            blocks.append(DocBlock::table(out));
    }

    std::optional<DocBlock> imageBlock(const QTextImageFormat& format) const
    {
        const QString name = format.name();
        const QVariant resource = m_doc.resource(QTextDocument::ImageResource, QUrl(name));
        QString ext = QFileInfo(QUrl(name).path()).suffix().toLower();
        if (resource.typeId() == QMetaType::QByteArray) {
            const QByteArray bytes = resource.toByteArray();
            if (bytes.isEmpty())
                return std::nullopt;
            DocBlock block = DocBlock::image(std::nullopt, bytes, ext.isEmpty() ? QStringLiteral("png") : ext);
            if (format.width() > 0 && format.height() > 0)
                block.size = QSizeF(format.width(), format.height());
            return block;
        }
        QImage image;
        if (resource.typeId() == QMetaType::QImage)
            image = resource.value<QImage>();
        else if (resource.typeId() == QMetaType::QPixmap)
            image = resource.value<QPixmap>().toImage();
        if (image.isNull())
            return std::nullopt;
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, "PNG"))
            return std::nullopt;
        return DocBlock::image(std::nullopt, png, QStringLiteral("png"));
    }

    void readParagraph(const QTextBlock& block)
    {
        const QTextBlockFormat format = block.blockFormat();
        if (format.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore)
            blocks.append(DocBlock::pageBreak());
        if (format.hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth)) {
            blocks.append(DocBlock::rule());
            return;
        }
        QString text = block.text();
        if (text.isEmpty())
            return;
        if (text.contains(QChar(0x0C))) {
            blocks.append(DocBlock::pageBreak());
            QString rest = text;
            rest.remove(QChar(0x0C)).remove(QLatin1Char(' ')).remove(QLatin1Char('\t'));
            if (rest.isEmpty())
                return;
        }
        QList<DocBlock> images;
        QList<DocRun> runs;
        QMap<double, qint64> sizes;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat chars = fragment.charFormat();
            if (chars.isImageFormat()) {
                if (auto image = imageBlock(chars.toImageFormat()))
                    images.append(*image);
                continue;
            }
            sizes[pointSize(chars, m_defaultSize)] += fragment.length();
            QString runText = fragment.text();
            runText.remove(QChar::ObjectReplacementCharacter).remove(QChar(0x0C));
            runText.replace(QChar::LineSeparator, QLatin1Char('\n'));
            if (runText.isEmpty())
                continue;
            DocRun run{runText};
            run.bold = chars.fontWeight() >= QFont::DemiBold;
            run.italic = chars.fontItalic();
            run.code = isCodeFormat(chars);
            run.strike = chars.fontStrikeOut();
            if (chars.isAnchor() && !chars.anchorHref().isEmpty())
                run.link = chars.anchorHref();
            // A link's underline is how links are drawn.
            run.underline = chars.fontUnderline() && !run.link;
            if (chars.verticalAlignment() == QTextCharFormat::AlignSuperScript)
                run.script = 1;
            else if (chars.verticalAlignment() == QTextCharFormat::AlignSubScript)
                run.script = -1;
            appendMergedRun(runs, run);
        }
        blocks.append(images);
        QString plain;
        for (const DocRun& run : runs)
            plain += run.text;
        plain = plain.trimmed();
        if (plain.isEmpty())
            return;

        if (QTextList* list = block.textList()) {
            const QTextListFormat::Style style = list->format().style();
            const bool ordered = !(style == QTextListFormat::ListDisc || style == QTextListFormat::ListCircle
                                   || style == QTextListFormat::ListSquare);
            stripListMarker(runs);
            if (!runs.isEmpty())
                blocks.append(DocBlock::listItem(ordered, std::max(1, list->format().indent()), runs));
            return;
        }
        if (format.headingLevel() >= 1) {
            blocks.append(DocBlock::heading(std::min(format.headingLevel(), 6), {DocRun{plain}}));
            return;
        }
        double dominant = m_defaultSize;
        qint64 most = -1;
        for (auto it = sizes.cbegin(); it != sizes.cend(); ++it) {
            if (it.value() > most) {
                most = it.value();
                dominant = it.key();
            }
        }
        bool allBold = true;
        for (const DocRun& run : runs) {
            if (!isBlank(run.text) && !run.bold)
                allBold = false;
        }
        if (plain.size() < 160 && !plain.contains(QLatin1Char('\n'))) {
            const double b = m_bodySize;
            int level = 0;
            if (dominant >= 1.6 * b)
                level = 1;
            else if (dominant >= 1.3 * b)
                level = 2;
            else if (dominant >= 1.12 * b)
                level = 3;
            else if (dominant > b && allBold && plain.size() <= 89)
                level = 3;
            if (level) {
                blocks.append(DocBlock::heading(level, {DocRun{plain}}));
                return;
            }
        }
        bool anyCode = false;
        bool otherText = false;
        for (const DocRun& run : runs) {
            if (run.code)
                anyCode = true;
            else if (!isBlank(run.text))
                otherText = true;
        }
        if (anyCode && !otherText) {
            QString all;
            for (const DocRun& run : runs)
                all += run.text;
            appendCode(all);
            return;
        }
        if (format.property(QTextFormat::BlockQuoteLevel).toInt() > 0) {
            trimParagraphRuns(runs);
            blocks.append(DocBlock::quote(runs));
            return;
        }
        trimParagraphRuns(runs);
        blocks.append(DocBlock::paragraph(runs));
    }
};

} // namespace

QString AttributedTextReader::plainText(const QTextDocument& document)
{
    QStringList lines;
    appendFrameLines(document.rootFrame(), 0, lines);
    return lines.join(QLatin1Char('\n'));
}

DocumentModel AttributedTextReader::documentModelFromAttributedString(const QTextDocument& document,
                                                                      const std::optional<QString>& title)
{
    Reader reader(document);
    reader.walkFrame(document.rootFrame(), 0);
    DocumentModel model;
    model.blocks = reader.blocks;
    model.title = title;
    if (!model.title) {
        for (const DocBlock& block : model.blocks) {
            if (block.kind == DocBlock::Kind::heading && block.level == 1) {
                model.title = block.plainText();
                break;
            }
        }
    }
    return model;
}

} // namespace qv
