#include "documents/MarkdownReader.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace qv {
namespace {

QString literal(cmark_node* node)
{
    const char* text = cmark_node_get_literal(node);
    return text ? QString::fromUtf8(text) : QString();
}

bool isType(cmark_node* node, const char* name)
{
    const char* type = cmark_node_get_type_string(node);
    return type && std::strcmp(type, name) == 0;
}

// The text of every leaf below node, without recursion, so any depth is safe.
QString flatText(cmark_node* node)
{
    QString text;
    cmark_iter* iter = cmark_iter_new(node);
    for (cmark_event_type ev; (ev = cmark_iter_next(iter)) != CMARK_EVENT_DONE;) {
        if (ev != CMARK_EVENT_ENTER)
            continue;
        cmark_node* cur = cmark_iter_get_node(iter);
        switch (cmark_node_get_type(cur)) {
        case CMARK_NODE_TEXT:
        case CMARK_NODE_CODE:
        case CMARK_NODE_CODE_BLOCK:
        case CMARK_NODE_HTML_INLINE:
            text += literal(cur);
            break;
        case CMARK_NODE_SOFTBREAK:
            text += QLatin1Char(' ');
            break;
        case CMARK_NODE_LINEBREAK:
            text += QLatin1Char('\n');
            break;
        case CMARK_NODE_PARAGRAPH:
        case CMARK_NODE_HEADING:
            if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
                text += QLatin1Char('\n');
            break;
        default:
            break;
        }
    }
    cmark_iter_free(iter);
    return text;
}

QString imagePath(const QString& url)
{
    const QUrl parsed(url);
    if (parsed.isLocalFile())
        return parsed.toLocalFile();
    return url;
}

bool isOuterSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\n');
}

// Text split around an image keeps no spaces at the cut, and a line break at either end of a
// block breaks nothing.
void trimOuterSpaces(QList<DocRun>& runs)
{
    while (!runs.isEmpty()) {
        QString& text = runs.first().text;
        while (!text.isEmpty() && isOuterSpace(text.front()))
            text.remove(0, 1);
        if (!text.isEmpty())
            break;
        runs.removeFirst();
    }
    while (!runs.isEmpty()) {
        QString& text = runs.last().text;
        while (!text.isEmpty() && isOuterSpace(text.back()))
            text.chop(1);
        if (!text.isEmpty())
            break;
        runs.removeLast();
    }
}

class Walker {
public:
    QList<DocBlock> blocks;

    void visitBlock(cmark_node* node, int depth)
    {
        if (depth > MarkdownReader::maximumDepth) {
            const QString text = flatText(node).trimmed();
            if (!text.isEmpty())
                blocks.append(DocBlock::paragraph({DocRun{text}}));
            return;
        }
        switch (cmark_node_get_type(node)) {
        case CMARK_NODE_DOCUMENT:
        case CMARK_NODE_ITEM:
            visitChildren(node, depth);
            return;
        case CMARK_NODE_BLOCK_QUOTE:
            ++m_quotes;
            visitChildren(node, depth);
            --m_quotes;
            return;
        case CMARK_NODE_LIST:
            m_lists.append(cmark_node_get_list_type(node) == CMARK_ORDERED_LIST);
            visitChildren(node, depth);
            m_lists.removeLast();
            return;
        case CMARK_NODE_HEADING:
            readInlineBlock(node, DocBlock::heading(cmark_node_get_heading_level(node)), depth);
            return;
        case CMARK_NODE_PARAGRAPH:
            readInlineBlock(node, containerKind(), depth);
            return;
        case CMARK_NODE_CODE_BLOCK: {
            QString text = literal(node);
            while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
                text.chop(1);
            while (text.startsWith(QLatin1Char('\n')) || text.startsWith(QLatin1Char('\r')))
                text.remove(0, 1);
            DocBlock block = DocBlock::code(text);
            if (text.isEmpty())
                block.runs.clear();
            blocks.append(block);
            return;
        }
        case CMARK_NODE_THEMATIC_BREAK:
            blocks.append(DocBlock::rule());
            return;
        case CMARK_NODE_HTML_BLOCK: {
            // Raw HTML is kept as text, comments are not.
            const QString text = literal(node).trimmed();
            if (!text.isEmpty() && !text.startsWith(QLatin1String("<!--"))) {
                DocBlock block = containerKind();
                block.runs = {DocRun{text}};
                blocks.append(block);
            }
            return;
        }
        default:
            break;
        }
        if (isType(node, "table"))
            readTable(node);
        else
            visitChildren(node, depth);
    }

private:
    QList<bool> m_lists;
    int m_quotes = 0;

    void visitChildren(cmark_node* node, int depth)
    {
        for (cmark_node* child = cmark_node_first_child(node); child; child = cmark_node_next(child))
            visitBlock(child, depth + 1);
    }

    // A paragraph takes its kind from the innermost list, else from a surrounding quote.
    DocBlock containerKind() const
    {
        if (!m_lists.isEmpty())
            return DocBlock::listItem(m_lists.last(), int(m_lists.size()));
        return m_quotes > 0 ? DocBlock::quote() : DocBlock::paragraph();
    }

    void readInlineBlock(cmark_node* node, const DocBlock& kind, int depth)
    {
        DocBlock pending = kind;
        bool hasPending = true;
        const auto flush = [&] {
            trimOuterSpaces(pending.runs);
            if (hasPending && !(pending.kind == DocBlock::Kind::paragraph && pending.runs.isEmpty()))
                blocks.append(pending);
            hasPending = false;
        };
        // An image ends the block it stands in; text after it starts a new one of the same kind.
        const auto onImage = [&](DocBlock image) {
            if (!pending.runs.isEmpty())
                flush();
            blocks.append(std::move(image));
            pending = kind;
            pending.runs.clear();
            hasPending = true;
            m_afterImage = true;
        };
        m_afterImage = false;
        readInlines(node, DocRun{}, pending.runs, onImage, depth);
        if (!(m_afterImage && pending.runs.isEmpty()))
            flush();
    }

    bool m_afterImage = false;

    template <typename OnImage>
    void readInlines(cmark_node* parent, const DocRun& style, QList<DocRun>& runs, OnImage& onImage,
                     int depth)
    {
        for (cmark_node* node = cmark_node_first_child(parent); node; node = cmark_node_next(node)) {
            DocRun run = style;
            run.text.clear();
            if (depth > MarkdownReader::maximumDepth) {
                run.text = flatText(node);
                appendMergedRun(runs, run);
                continue;
            }
            switch (cmark_node_get_type(node)) {
            case CMARK_NODE_TEXT:
            case CMARK_NODE_HTML_INLINE:
                run.text = literal(node);
                appendMergedRun(runs, run);
                break;
            case CMARK_NODE_SOFTBREAK:
                run.text = QStringLiteral(" ");
                appendMergedRun(runs, run);
                break;
            case CMARK_NODE_LINEBREAK:
                run.text = QStringLiteral("\n");
                appendMergedRun(runs, run);
                break;
            case CMARK_NODE_CODE:
                run.code = true;
                run.text = literal(node);
                appendMergedRun(runs, run);
                break;
            case CMARK_NODE_EMPH:
                run.italic = true;
                readInlines(node, run, runs, onImage, depth + 1);
                break;
            case CMARK_NODE_STRONG:
                run.bold = true;
                readInlines(node, run, runs, onImage, depth + 1);
                break;
            case CMARK_NODE_LINK:
                run.link = QString::fromUtf8(cmark_node_get_url(node));
                readInlines(node, run, runs, onImage, depth + 1);
                break;
            case CMARK_NODE_IMAGE: {
                const QString path = imagePath(QString::fromUtf8(cmark_node_get_url(node)));
                const QString alt = flatText(node);
                onImage(DocBlock::image(path, std::nullopt, QFileInfo(path).suffix().toLower(),
                                        {DocRun{alt}}));
                break;
            }
            default:
                if (isType(node, "strikethrough")) {
                    run.strike = true;
                    readInlines(node, run, runs, onImage, depth + 1);
                } else {
                    readInlines(node, style, runs, onImage, depth + 1);
                }
                break;
            }
        }
    }

    void readTable(cmark_node* table)
    {
        QList<QStringList> rows;
        for (cmark_node* row = cmark_node_first_child(table); row; row = cmark_node_next(row)) {
            QStringList cells;
            for (cmark_node* cell = cmark_node_first_child(row); cell; cell = cmark_node_next(cell))
                cells.append(flatText(cell).trimmed());
            // A cell without text gives nothing, so a row's empty last cells are left off.
            while (!cells.isEmpty() && cells.last().isEmpty())
                cells.removeLast();
            rows.append(cells);
        }
        blocks.append(DocBlock::table(rows));
    }
};

// A YAML block at the very top ("---" to "---" or "...") is metadata, not text: its title is
// the document's.
QString withoutFrontMatter(const QString& source, std::optional<QString>& title)
{
    static const QRegularExpression block(QStringLiteral("\\A---[ \\t]*\\r?\\n(.*?\\r?\\n)(?:---|\\.\\.\\.)[ \\t]*(?:\\r?\\n|\\z)"),
                                          QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = block.match(source);
    static const QRegularExpression key(QStringLiteral("^[A-Za-z0-9_-]+:"), QRegularExpression::MultilineOption);
    if (!match.hasMatch() || !key.match(match.captured(1)).hasMatch())
        return source;
    static const QRegularExpression titleLine(QStringLiteral("^title:[ \\t]*(.+?)[ \\t]*$"),
                                              QRegularExpression::MultilineOption);
    const QRegularExpressionMatch found = titleLine.match(match.captured(1));
    if (found.hasMatch()) {
        QString value = found.captured(1);
        if (value.size() >= 2 && (value.front() == QLatin1Char('"') || value.front() == QLatin1Char('\''))
            && value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        if (!value.isEmpty())
            title = value;
    }
    return source.mid(match.capturedEnd());
}

} // namespace

std::pair<std::optional<QString>, QList<DocBlock>>
MarkdownReader::parseMarkdown(const QString& source, const std::optional<QString>& title)
{
    // Registration fills a global list: once, whichever thread comes first.
    static std::once_flag registered;
    std::call_once(registered, cmark_gfm_core_extensions_ensure_registered);
    std::optional<QString> declaredTitle;
    const QByteArray utf8 = withoutFrontMatter(source, declaredTitle).toUtf8();
    // Attaching an extension switches its characters on in a table that every parser of the
    // process shares, and finishing switches them off again: parses take turns.
    static std::mutex parsing;
    std::unique_ptr<cmark_node, void (*)(cmark_node*)> document(nullptr, cmark_node_free);
    {
        const std::lock_guard lock(parsing);
        const std::unique_ptr<cmark_parser, void (*)(cmark_parser*)> parser(
            cmark_parser_new(CMARK_OPT_DEFAULT), cmark_parser_free);
        for (const char* name : {"table", "strikethrough"}) {
            if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
                cmark_parser_attach_syntax_extension(parser.get(), extension);
        }
        cmark_parser_feed(parser.get(), utf8.constData(), size_t(utf8.size()));
        document.reset(cmark_parser_finish(parser.get()));
    }
    Walker walker;
    if (document)
        walker.visitBlock(document.get(), 0);
    std::optional<QString> result = title ? title : declaredTitle;
    if (!result) {
        for (const DocBlock& block : walker.blocks) {
            if (block.kind == DocBlock::Kind::heading && block.level == 1) {
                result = block.plainText();
                break;
            }
        }
    }
    return {result, walker.blocks};
}

} // namespace qv
