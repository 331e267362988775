#include "documents/MarkdownReader.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

namespace qv {
namespace {

// A long text is parsed a section of about this many characters at a time, so its whole tree
// is never in memory.
constexpr qsizetype sectionLength = 1 << 19;

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
    // Most table cells hold plain text alone: no iterator for them.
    cmark_node* only = cmark_node_first_child(node);
    if (!only)
        return QString();
    if (!cmark_node_next(only) && cmark_node_get_type(only) == CMARK_NODE_TEXT)
        return literal(only);
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

// Text of the style, merged into the last run when that has the style: the run's text grows in
// place and no run is copied.
void appendText(QList<DocRun>& runs, const DocRun& style, QString text)
{
    if (text.isEmpty())
        return;
    if (!runs.isEmpty() && runs.last().hasSameStyle(style)) {
        runs.last().text += text;
        return;
    }
    DocRun& run = runs.emplaceBack(style);
    run.text = std::move(text);
}

void appendText(QList<DocRun>& runs, const DocRun& style, QLatin1String text)
{
    if (!runs.isEmpty() && runs.last().hasSameStyle(style)) {
        runs.last().text += text;
        return;
    }
    DocRun& run = runs.emplaceBack(style);
    run.text = text;
}

void appendText(QList<DocRun>& runs, const DocRun& style, const char* utf8)
{
    if (!utf8 || !*utf8)
        return;
    if (!runs.isEmpty() && runs.last().hasSameStyle(style)) {
        runs.last().text += QString::fromUtf8(utf8);
        return;
    }
    DocRun& run = runs.emplaceBack(style);
    run.text = QString::fromUtf8(utf8);
}

class Walker {
public:
    QList<DocBlock> blocks;

    // Reads the document's blocks and frees each one's nodes once read, so the tree and the
    // blocks made of it are never both whole in memory.
    void consumeDocument(cmark_node* document)
    {
        for (cmark_node* child = cmark_node_first_child(document); child;) {
            cmark_node* next = cmark_node_next(child);
            visitBlock(child, 1);
            cmark_node_free(child);
            child = next;
        }
    }

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
            blocks.append(std::move(block));
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
                blocks.append(std::move(block));
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
                blocks.append(std::move(pending));
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
            if (depth > MarkdownReader::maximumDepth) {
                appendText(runs, style, flatText(node));
                continue;
            }
            DocRun run;
            switch (cmark_node_get_type(node)) {
            case CMARK_NODE_TEXT:
            case CMARK_NODE_HTML_INLINE:
                appendText(runs, style, cmark_node_get_literal(node));
                break;
            case CMARK_NODE_SOFTBREAK:
                appendText(runs, style, QLatin1String(" "));
                break;
            case CMARK_NODE_LINEBREAK:
                appendText(runs, style, QLatin1String("\n"));
                break;
            case CMARK_NODE_CODE:
                run = style;
                run.code = true;
                appendText(runs, run, cmark_node_get_literal(node));
                break;
            case CMARK_NODE_EMPH:
                run = style;
                run.italic = true;
                readInlines(node, run, runs, onImage, depth + 1);
                break;
            case CMARK_NODE_STRONG:
                run = style;
                run.bold = true;
                readInlines(node, run, runs, onImage, depth + 1);
                break;
            case CMARK_NODE_LINK:
                run = style;
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
                    run = style;
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
        blocks.append(DocBlock::table(std::move(rows)));
    }
};

// Where a long text may be cut into sections that parse alone exactly as they parse together:
// before an ATX heading at the margin that follows a blank line outside a fenced code block,
// at least `length` characters after the last cut. A blank line ends every paragraph, and a
// line at the margin ends every list item, quote and indented code, so only fences and the
// raw HTML blocks that run over blank lines can hold such a heading. A text that defines link
// references (used anywhere in the document) or holds such HTML is never cut.
bool holdsDocumentWideSyntax(QStringView text)
{
    const char16_t* at = text.utf16();
    const char16_t* end = at + text.size();
    for (; at != end; ++at) {
        if (*at == u']' && at + 1 != end && at[1] == u':')
            return true;
        if (*at != u'<' || at + 1 == end)
            continue;
        if (at[1] == u'!' || at[1] == u'?')
            return true;
        const QStringView tag(at + 1, std::min<qsizetype>(end - at - 1, 8));
        for (const char16_t* name : {u"script", u"pre", u"style", u"textarea"}) {
            if (tag.startsWith(QStringView(name), Qt::CaseInsensitive))
                return true;
        }
    }
    return false;
}

QList<qsizetype> sectionStarts(QStringView text, qsizetype length)
{
    QList<qsizetype> starts{0};
    if (text.size() < 2 * length || holdsDocumentWideSyntax(text))
        return starts;
    QChar fence;
    qsizetype fenceLength = 0;
    bool previousBlank = true;
    for (qsizetype at = 0; at < text.size();) {
        qsizetype next = text.indexOf(QLatin1Char('\n'), at);
        next = next < 0 ? text.size() : next + 1;
        const QStringView line = text.mid(at, next - at);
        qsizetype indent = 0;
        while (indent < line.size() && line[indent] == QLatin1Char(' '))
            ++indent;
        const QStringView rest = line.mid(indent);
        const bool blank = rest.trimmed().isEmpty();
        if (indent <= 3 && rest.size() >= 3 && (rest[0] == QLatin1Char('`') || rest[0] == QLatin1Char('~'))) {
            qsizetype run = 0;
            while (run < rest.size() && rest[run] == rest[0])
                ++run;
            if (run >= 3) {
                if (fence.isNull()) {
                    // A backtick fence's info string holds no backtick.
                    if (rest[0] == QLatin1Char('~') || !rest.mid(run).contains(QLatin1Char('`'))) {
                        fence = rest[0];
                        fenceLength = run;
                    }
                } else if (rest[0] == fence && run >= fenceLength && rest.mid(run).trimmed().isEmpty()) {
                    fence = QChar();
                }
            }
        } else if (fence.isNull() && previousBlank && indent == 0 && at - starts.last() >= length
                   && line.startsWith(QLatin1Char('#'))) {
            qsizetype hashes = 0;
            while (hashes < line.size() && line[hashes] == QLatin1Char('#'))
                ++hashes;
            if (hashes <= 6 && (hashes == line.size() || line[hashes] == QLatin1Char(' ')
                                || line[hashes] == QLatin1Char('\t') || line[hashes] == QLatin1Char('\n')
                                || line[hashes] == QLatin1Char('\r')))
                starts.append(at);
        }
        previousBlank = blank;
        at = next;
    }
    return starts;
}

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
MarkdownReader::parseMarkdown(QString source, const std::optional<QString>& title)
{
    // Registration fills a global list: once, whichever thread comes first.
    static std::once_flag registered;
    std::call_once(registered, cmark_gfm_core_extensions_ensure_registered);
    std::optional<QString> declaredTitle;
    source = withoutFrontMatter(source, declaredTitle);
    // Attaching an extension switches its characters on in a table that every parser of the
    // process shares, and finishing switches them off again: parses take turns.
    static std::mutex parsing;
    Walker walker;
    const QStringView text(source);
    const QList<qsizetype> starts = sectionStarts(text, sectionLength);
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        std::unique_ptr<cmark_node, void (*)(cmark_node*)> document(nullptr, cmark_node_free);
        {
            const std::lock_guard lock(parsing);
            const std::unique_ptr<cmark_parser, void (*)(cmark_parser*)> parser(
                cmark_parser_new(CMARK_OPT_DEFAULT), cmark_parser_free);
            for (const char* name : {"table", "strikethrough"}) {
                if (cmark_syntax_extension* extension = cmark_find_syntax_extension(name))
                    cmark_parser_attach_syntax_extension(parser.get(), extension);
            }
            // Fed as UTF-8 a slice at a time, so the text is never held twice; a slice never
            // ends between the halves of a surrogate pair.
            constexpr qsizetype slice = 32768;
            for (qsizetype at = starts[i]; at < end;) {
                qsizetype length = std::min(slice, end - at);
                if (at + length < end && text[at + length - 1].isHighSurrogate())
                    --length;
                const QByteArray utf8 = text.mid(at, length).toUtf8();
                cmark_parser_feed(parser.get(), utf8.constData(), size_t(utf8.size()));
                at += length;
            }
            document.reset(cmark_parser_finish(parser.get()));
        }
        if (document)
            walker.consumeDocument(document.get());
    }
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
