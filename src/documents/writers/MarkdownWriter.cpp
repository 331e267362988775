#include "documents/writers/MarkdownWriter.h"

#include <QMap>
#include <QRegularExpression>

namespace qv {
namespace {

QString escapedLink(const QString& link)
{
    QString out = link;
    return out.replace(QLatin1Char(' '), QLatin1String("%20"));
}

} // namespace

QString MarkdownWriter::renderMarkdown(const QList<DocBlock>& blocks, const ImageReference& imageReference)
{
    QStringList pieces;
    QMap<int, int> numbers;
    bool previousWasItem = false;
    for (int i = 0; i < blocks.size(); ++i) {
        const DocBlock& block = blocks[i];
        std::optional<QString> text;
        switch (block.kind) {
        case DocBlock::Kind::heading:
            text = QStringLiteral("#").repeated(std::clamp(block.level, 1, 6)) + QLatin1Char(' ')
                + markdownInline(block.runs);
            break;
        case DocBlock::Kind::listItem: {
            const QString indent = QStringLiteral("   ").repeated(std::max(0, block.level - 1));
            const int number = block.ordered ? numbers.value(block.level, 0) + 1 : 0;
            numbers.insert(block.level, number);
            while (!numbers.isEmpty() && numbers.lastKey() > block.level)
                numbers.erase(std::prev(numbers.end()));
            const QString marker = block.ordered ? QString::number(number) + QLatin1Char('.')
                                                 : QStringLiteral("-");
            if (previousWasItem && !pieces.isEmpty() && pieces.last().isEmpty())
                pieces.removeLast();
            text = indent + marker + QLatin1Char(' ') + markdownInline(block.runs);
            break;
        }
        case DocBlock::Kind::image: {
            std::optional<QString> reference;
            if (imageReference)
                reference = imageReference(i, block);
            if (!reference)
                reference = block.path;
            if (reference)
                text = QStringLiteral("![") + escapeMarkdown(block.plainText()) + QStringLiteral("](")
                    + escapedLink(*reference) + QLatin1Char(')');
            break;
        }
        case DocBlock::Kind::table:
            text = markdownTable(block.rows);
            break;
        case DocBlock::Kind::paragraph:
            text = markdownInline(block.runs);
            break;
        case DocBlock::Kind::code: {
            const QString code = block.plainText();
            const QString fence = code.contains(QLatin1String("```")) ? QStringLiteral("~~~")
                                                                       : QStringLiteral("```");
            text = fence + QLatin1Char('\n') + code + QLatin1Char('\n') + fence;
            break;
        }
        case DocBlock::Kind::quote: {
            QStringList lines = markdownInline(block.runs).split(QLatin1Char('\n'));
            for (QString& line : lines)
                line.prepend(QLatin1String("> "));
            text = lines.join(QLatin1Char('\n'));
            break;
        }
        case DocBlock::Kind::rule:
        case DocBlock::Kind::pageBreak:
            text = QStringLiteral("---");
            break;
        }
        if (text)
            pieces.append(*text);
        pieces.append(QString());
        previousWasItem = block.kind == DocBlock::Kind::listItem;
        if (!previousWasItem)
            numbers.clear();
    }
    while (!pieces.isEmpty() && pieces.last().isEmpty())
        pieces.removeLast();
    return pieces.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString MarkdownWriter::markdownInline(const QList<DocRun>& runs)
{
    QString out;
    for (const DocRun& run : runs)
        out += markdownRun(run);
    return out.replace(QLatin1Char('\n'), QLatin1String("  \n"));
}

QString MarkdownWriter::markdownRun(const DocRun& run)
{
    if (run.code) {
        const QString span = markdownCodeSpan(run.text);
        if (run.link)
            return QLatin1Char('[') + span + QLatin1String("](") + escapedLink(*run.link) + QLatin1Char(')');
        return span;
    }
    const QString escaped = escapeMarkdown(run.text);
    qsizetype start = 0;
    while (start < escaped.size() && (escaped[start] == QLatin1Char(' ') || escaped[start] == QLatin1Char('\t')))
        ++start;
    qsizetype end = escaped.size();
    while (end > start && (escaped[end - 1] == QLatin1Char(' ') || escaped[end - 1] == QLatin1Char('\t')))
        --end;
    if (start == end)
        return escaped;
    QString core = escaped.mid(start, end - start);
    if (run.strike)
        core = QLatin1String("~~") + core + QLatin1String("~~");
    if (run.italic)
        core = QLatin1Char('*') + core + QLatin1Char('*');
    if (run.bold)
        core = QLatin1String("**") + core + QLatin1String("**");
    if (run.link)
        core = QLatin1Char('[') + core + QLatin1String("](") + escapedLink(*run.link) + QLatin1Char(')');
    return escaped.left(start) + core + escaped.mid(end);
}

QString MarkdownWriter::markdownCodeSpan(const QString& text)
{
    if (text.contains(QLatin1Char('`')))
        return QLatin1String("`` ") + text + QLatin1String(" ``");
    return QLatin1Char('`') + text + QLatin1Char('`');
}

QString MarkdownWriter::escapeMarkdown(const QString& text)
{
    // The tilde too: the strike-through extension takes one or two of them as markup.
    static const QString special = QStringLiteral("\\`*_[]<>|~");
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (special.contains(c))
            out += QLatin1Char('\\');
        out += c;
    }
    if (out.startsWith(QLatin1Char('#')) || out.startsWith(QLatin1Char('+')))
        out.prepend(QLatin1Char('\\'));
    if (out.startsWith(QLatin1String("- ")))
        out.prepend(QLatin1Char('\\'));
    static const QRegularExpression numbered(QStringLiteral("^\\d+\\. "));
    const QRegularExpressionMatch match = numbered.match(out);
    if (match.hasMatch())
        out.replace(match.capturedEnd() - 2, 1, QLatin1String("\\."));
    return out;
}

QString MarkdownWriter::markdownTable(const QList<QStringList>& rows)
{
    qsizetype columns = 0;
    for (const QStringList& row : rows)
        columns = std::max(columns, row.size());
    if (columns < 1)
        return {};
    QStringList lines;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        QStringList cells;
        for (qsizetype c = 0; c < columns; ++c) {
            QString cell = c < rows[r].size() ? rows[r][c] : QString();
            cell.replace(QLatin1Char('|'), QLatin1String("\\|")).replace(QLatin1Char('\n'), QLatin1Char(' '));
            cells.append(cell);
        }
        lines.append(QLatin1String("| ") + cells.join(QLatin1String(" | ")) + QLatin1String(" |"));
        if (r == 0)
            lines.append(QLatin1Char('|') + QStringLiteral(" --- |").repeated(columns));
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace qv
