#include "documents/readers/MarkdownReader.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm-extension_api.h>
#include <cmark-gfm.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// HtmlWalker writes what this reads as HTML straight from the nodes: a change here is one there.
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
            m_quoteTail = nullptr;
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
        case CMARK_NODE_PARAGRAPH: {
            const bool joins = continuesQuote(node);
            const qsizetype before = blocks.size();
            readInlineBlock(node, containerKind(), depth);
            m_quoteTail = nullptr;
            if (blocks.size() == before || blocks.last().kind != DocBlock::Kind::quote || m_afterImage)
                return;
            // Paragraphs of one block quote stay one quote, a blank line between them.
            if (joins && blocks.size() == before + 1) {
                DocBlock next = blocks.takeLast();
                QList<DocRun>& runs = blocks.last().runs;
                appendText(runs, DocRun{}, QLatin1String("\n\n"));
                for (DocRun& run : next.runs) {
                    if (runs.last().hasSameStyle(run))
                        runs.last().text += run.text;
                    else
                        runs.append(std::move(run));
                }
            }
            m_quoteTail = node;
            return;
        }
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
    // The paragraph whose quote block was the last one made, while nothing came after it.
    cmark_node* m_quoteTail = nullptr;

    void visitChildren(cmark_node* node, int depth)
    {
        for (cmark_node* child = cmark_node_first_child(node); child; child = cmark_node_next(child))
            visitBlock(child, depth + 1);
    }

    // A paragraph right after another in the same block quote, outside lists.
    bool continuesQuote(cmark_node* paragraph) const
    {
        return m_quoteTail && m_lists.isEmpty() && cmark_node_previous(paragraph) == m_quoteTail
            && cmark_node_get_type(cmark_node_parent(paragraph)) == CMARK_NODE_BLOCK_QUOTE;
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

// Appends the text of every leaf below node as UTF-8, as flatText does.
void appendFlatText(cmark_node* node, std::string& out)
{
    cmark_node* only = cmark_node_first_child(node);
    if (!only)
        return;
    const auto put = [&](cmark_node* leaf) {
        if (const char* text = cmark_node_get_literal(leaf))
            out += text;
    };
    if (!cmark_node_next(only) && cmark_node_get_type(only) == CMARK_NODE_TEXT) {
        put(only);
        return;
    }
    const size_t start = out.size();
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
            put(cur);
            break;
        case CMARK_NODE_SOFTBREAK:
            out += ' ';
            break;
        case CMARK_NODE_LINEBREAK:
            out += '\n';
            break;
        case CMARK_NODE_PARAGRAPH:
        case CMARK_NODE_HEADING:
            if (out.size() > start && out.back() != '\n')
                out += '\n';
            break;
        default:
            break;
        }
    }
    cmark_iter_free(iter);
}

// The code point that starts at `at` in valid UTF-8, and its length.
std::pair<char32_t, size_t> decodeUtf8(std::string_view text, size_t at)
{
    const auto byte = [&](size_t i) { return char32_t(uchar(text[i])); };
    const char32_t lead = byte(at);
    if (lead < 0x80)
        return {lead, 1};
    if (lead < 0xE0 && at + 1 < text.size())
        return {((lead & 0x1F) << 6) | (byte(at + 1) & 0x3F), 2};
    if (lead < 0xF0 && at + 2 < text.size())
        return {((lead & 0x0F) << 12) | ((byte(at + 1) & 0x3F) << 6) | (byte(at + 2) & 0x3F), 3};
    if (at + 3 < text.size())
        return {((lead & 0x07) << 18) | ((byte(at + 1) & 0x3F) << 12) | ((byte(at + 2) & 0x3F) << 6)
                    | (byte(at + 3) & 0x3F),
                4};
    return {QChar::ReplacementCharacter, 1};
}

// The text without the white space QString::trimmed() takes off.
std::string_view trimmedUtf8(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end) {
        const auto [c, length] = decodeUtf8(text, begin);
        if (!QChar::isSpace(c))
            break;
        begin += length;
    }
    while (end > begin) {
        size_t lead = end - 1;
        while (lead > begin && (uchar(text[lead]) & 0xC0) == 0x80)
            --lead;
        if (!QChar::isSpace(decodeUtf8(text, lead).first))
            break;
        end = lead;
    }
    return text.substr(begin, end - begin);
}

// The blocks Walker reads, written at once as the HTML that HTMLRenderer makes of them, in
// UTF-8: no run, block or string of UTF-16 is made on the way, and a section's page is handed
// on before the next section is parsed. Any change to what Walker reads or HTMLRenderer
// writes belongs here too; a test holds the two roads to the same bytes.
class HtmlWalker {
public:
    explicit HtmlWalker(const MarkdownReader::ImageSource& imageSource)
        : m_imageSource(imageSource)
    {
    }

    // The tree is left to its arena.
    void consumeDocument(cmark_node* document)
    {
        for (cmark_node* child = cmark_node_first_child(document); child; child = cmark_node_next(child))
            visitBlock(child, 1);
        m_quoteTail = nullptr;
    }

    // Closes the lists still open.
    void finish()
    {
        while (!m_open.empty())
            closeList();
    }

    void flushTo(const std::function<void(QByteArrayView)>& write)
    {
        if (!m_out.empty())
            write(QByteArrayView(m_out.data(), qsizetype(m_out.size())));
        m_out.clear();
    }

    const std::optional<QString>& title() const { return m_title; }

private:
    using Kind = DocBlock::Kind;

    struct Style {
        bool bold = false;
        bool italic = false;
        bool code = false;
        bool strike = false;
        // Valid while the node it comes from is.
        const char* link = nullptr;

        bool operator==(const Style& other) const
        {
            return bold == other.bold && italic == other.italic && code == other.code && strike == other.strike
                && (link == other.link || (link && other.link && std::strcmp(link, other.link) == 0));
        }
    };

    struct Run {
        Style style;
        size_t begin = 0;
        size_t end = 0;
    };

    struct BlockKind {
        Kind kind = Kind::paragraph;
        int level = 0;
        bool ordered = false;
    };

    const MarkdownReader::ImageSource& m_imageSource;
    std::optional<QString> m_title;
    std::string m_out;
    std::vector<bool> m_open;
    qsizetype m_pieces = 0;
    QList<bool> m_lists;
    int m_quotes = 0;
    bool m_afterImage = false;
    // The paragraph whose quote was the last thing written, and where that quote's end starts.
    cmark_node* m_quoteTail = nullptr;
    size_t m_quoteEnd = 0;
    bool m_joining = false;
    static constexpr std::string_view quoteEnd = "</p></blockquote>";

    // The pending block's runs, each a stretch of m_text; kept between blocks for their room.
    std::vector<Run> m_runs;
    std::string m_text;
    size_t m_first = 0;
    std::string m_scratch;

    // Output

    void piece()
    {
        if (m_pieces++ > 0)
            m_out += '\n';
    }

    void escaped(std::string_view text, bool breaks = false)
    {
        const char* at = text.data();
        const char* end = at + text.size();
        const char* plain = at;
        for (; at != end; ++at) {
            const char* entity;
            switch (*at) {
            case '&': entity = "&amp;"; break;
            case '<': entity = "&lt;"; break;
            case '>': entity = "&gt;"; break;
            case '"': entity = "&quot;"; break;
            case '\n':
                if (!breaks)
                    continue;
                entity = "<br>";
                break;
            default: continue;
            }
            m_out.append(plain, size_t(at - plain));
            m_out += entity;
            plain = at + 1;
        }
        m_out.append(plain, size_t(end - plain));
    }

    void closeList()
    {
        piece();
        m_out += m_open.back() ? "</li></ol>" : "</li></ul>";
        m_open.pop_back();
    }

    void openList(bool ordered)
    {
        piece();
        m_out += ordered ? "<ol><li>" : "<ul><li>";
        m_open.push_back(ordered);
    }

    // Opens the block's place: a list item inside its lists, anything else after them.
    void startBlock(const BlockKind& block)
    {
        if (block.kind == Kind::listItem) {
            if (qsizetype(m_open.size()) < block.level) {
                while (qsizetype(m_open.size()) < block.level)
                    openList(block.ordered);
            } else {
                while (qsizetype(m_open.size()) > block.level)
                    closeList();
                if (m_open.back() == block.ordered) {
                    piece();
                    m_out += "</li><li>";
                } else {
                    closeList();
                    openList(block.ordered);
                }
            }
            piece();
            return;
        }
        finish();
        piece();
    }

    void writeRun(const Run& run)
    {
        const Style& style = run.style;
        if (style.link) {
            m_out += "<a href=\"";
            escaped(style.link);
            m_out += "\">";
        }
        if (style.bold)
            m_out += "<strong>";
        if (style.italic)
            m_out += "<em>";
        if (style.strike)
            m_out += "<del>";
        if (style.code)
            m_out += "<code>";
        escaped(std::string_view(m_text).substr(run.begin, run.end - run.begin), true);
        if (style.code)
            m_out += "</code>";
        if (style.strike)
            m_out += "</del>";
        if (style.italic)
            m_out += "</em>";
        if (style.bold)
            m_out += "</strong>";
        if (style.link)
            m_out += "</a>";
    }

    // A block of the pending runs.
    void writeRunsBlock(const BlockKind& block)
    {
        if (!(block.kind == Kind::quote && m_joining))
            startBlock(block);
        const auto runs = [&] {
            for (size_t i = m_first; i < m_runs.size(); ++i)
                writeRun(m_runs[i]);
        };
        switch (block.kind) {
        case Kind::heading: {
            const char level = char('0' + std::clamp(block.level, 1, 6));
            m_out += "<h";
            m_out += level;
            m_out += '>';
            runs();
            m_out += "</h";
            m_out += level;
            m_out += '>';
            if (block.level == 1 && !m_title) {
                QString text;
                for (size_t i = m_first; i < m_runs.size(); ++i)
                    text += QString::fromUtf8(m_text.data() + m_runs[i].begin, qsizetype(m_runs[i].end - m_runs[i].begin));
                m_title = text;
            }
            break;
        }
        case Kind::quote:
            if (m_joining) {
                m_out.resize(m_out.size() - quoteEnd.size());
                m_out += "</p><p>";
            } else {
                m_out += "<blockquote><p>";
            }
            runs();
            m_out += quoteEnd;
            break;
        case Kind::listItem:
            runs();
            break;
        default:
            m_out += "<p>";
            runs();
            m_out += "</p>";
            break;
        }
    }

    // A block of one run of plain text.
    void writeTextBlock(const BlockKind& block, std::string_view text)
    {
        clearRuns();
        appendText(Style{}, text);
        writeRunsBlock(block);
        clearRuns();
    }

    void writeImage(const DocBlock& image)
    {
        // Text after a picture starts a quote of its own.
        m_joining = false;
        finish();
        const std::optional<QString> src = m_imageSource ? m_imageSource(image) : std::nullopt;
        if (!src)
            return;
        piece();
        m_out += "<p><img src=\"";
        escaped(src->toStdString());
        m_out += "\" alt=\"";
        for (const DocRun& run : image.runs)
            escaped(run.text.toStdString());
        m_out += "\"></p>";
    }

    // Runs

    void clearRuns()
    {
        m_runs.clear();
        m_text.clear();
        m_first = 0;
    }

    bool noRuns() const { return m_first == m_runs.size(); }

    void appendText(const Style& style, std::string_view text)
    {
        if (text.empty())
            return;
        if (!noRuns() && m_runs.back().style == style) {
            m_text += text;
            m_runs.back().end = m_text.size();
            return;
        }
        const size_t begin = m_text.size();
        m_text += text;
        m_runs.push_back({style, begin, m_text.size()});
    }

    void appendText(const Style& style, const char* utf8)
    {
        if (utf8)
            appendText(style, std::string_view(utf8));
    }

    static bool isOuterSpace(char c) { return c == ' ' || c == '\n'; }

    void trimOuterSpaces()
    {
        while (!noRuns()) {
            Run& run = m_runs[m_first];
            while (run.begin < run.end && isOuterSpace(m_text[run.begin]))
                ++run.begin;
            if (run.begin < run.end)
                break;
            ++m_first;
        }
        while (!noRuns()) {
            Run& run = m_runs.back();
            while (run.end > run.begin && isOuterSpace(m_text[run.end - 1]))
                --run.end;
            if (run.end > run.begin)
                break;
            m_runs.pop_back();
        }
    }

    // Blocks

    BlockKind containerKind() const
    {
        if (!m_lists.isEmpty())
            return {Kind::listItem, int(m_lists.size()), m_lists.last()};
        return {m_quotes > 0 ? Kind::quote : Kind::paragraph, 0, false};
    }

    void visitBlock(cmark_node* node, int depth)
    {
        if (depth > MarkdownReader::maximumDepth) {
            m_scratch.clear();
            appendFlatText(node, m_scratch);
            const std::string_view text = trimmedUtf8(m_scratch);
            if (!text.empty())
                writeTextBlock({Kind::paragraph, 0, false}, text);
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
            readInlineBlock(node, {Kind::heading, cmark_node_get_heading_level(node), false}, depth);
            return;
        case CMARK_NODE_PARAGRAPH: {
            const BlockKind kind = containerKind();
            if (kind.kind != Kind::quote) {
                readInlineBlock(node, kind, depth);
                return;
            }
            // Paragraphs of one block quote stay one quote, a blank line between them.
            const bool joins = m_quoteTail && cmark_node_previous(node) == m_quoteTail
                && cmark_node_get_type(cmark_node_parent(node)) == CMARK_NODE_BLOCK_QUOTE
                && m_out.size() >= m_quoteEnd && std::string_view(m_out).substr(m_quoteEnd) == quoteEnd;
            m_quoteTail = nullptr;
            const size_t before = m_out.size();
            m_joining = joins;
            readInlineBlock(node, kind, depth);
            m_joining = false;
            if (m_afterImage || m_out.size() == before)
                return;
            m_quoteTail = node;
            m_quoteEnd = m_out.size() - quoteEnd.size();
            return;
        }
        case CMARK_NODE_CODE_BLOCK: {
            const char* literal = cmark_node_get_literal(node);
            std::string_view text = literal ? std::string_view(literal) : std::string_view();
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.remove_suffix(1);
            while (!text.empty() && (text.front() == '\n' || text.front() == '\r'))
                text.remove_prefix(1);
            finish();
            piece();
            m_out += "<pre><code>";
            escaped(text);
            m_out += "</code></pre>";
            return;
        }
        case CMARK_NODE_THEMATIC_BREAK:
            finish();
            piece();
            m_out += "<hr>";
            return;
        case CMARK_NODE_HTML_BLOCK: {
            const char* literal = cmark_node_get_literal(node);
            const std::string_view text = trimmedUtf8(literal ? std::string_view(literal) : std::string_view());
            if (!text.empty() && !text.starts_with("<!--"))
                writeTextBlock(containerKind(), text);
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

    void visitChildren(cmark_node* node, int depth)
    {
        for (cmark_node* child = cmark_node_first_child(node); child; child = cmark_node_next(child))
            visitBlock(child, depth + 1);
    }

    void readInlineBlock(cmark_node* node, const BlockKind& kind, int depth)
    {
        clearRuns();
        bool hasPending = true;
        const auto flush = [&] {
            trimOuterSpaces();
            if (hasPending && !(kind.kind == Kind::paragraph && noRuns()))
                writeRunsBlock(kind);
            hasPending = false;
        };
        const auto onImage = [&](const DocBlock& image) {
            if (!noRuns())
                flush();
            writeImage(image);
            clearRuns();
            hasPending = true;
            m_afterImage = true;
        };
        m_afterImage = false;
        readInlines(node, Style{}, onImage, depth);
        if (!(m_afterImage && noRuns()))
            flush();
        clearRuns();
    }

    template <typename OnImage>
    void readInlines(cmark_node* parent, const Style& style, OnImage& onImage, int depth)
    {
        for (cmark_node* node = cmark_node_first_child(parent); node; node = cmark_node_next(node)) {
            if (depth > MarkdownReader::maximumDepth) {
                const size_t start = m_scratch.size();
                appendFlatText(node, m_scratch);
                appendText(style, std::string_view(m_scratch).substr(start));
                m_scratch.resize(start);
                continue;
            }
            Style run = style;
            switch (cmark_node_get_type(node)) {
            case CMARK_NODE_TEXT:
            case CMARK_NODE_HTML_INLINE:
                appendText(style, cmark_node_get_literal(node));
                break;
            case CMARK_NODE_SOFTBREAK:
                appendText(style, std::string_view(" "));
                break;
            case CMARK_NODE_LINEBREAK:
                appendText(style, std::string_view("\n"));
                break;
            case CMARK_NODE_CODE:
                run.code = true;
                appendText(run, cmark_node_get_literal(node));
                break;
            case CMARK_NODE_EMPH:
                run.italic = true;
                readInlines(node, run, onImage, depth + 1);
                break;
            case CMARK_NODE_STRONG:
                run.bold = true;
                readInlines(node, run, onImage, depth + 1);
                break;
            case CMARK_NODE_LINK: {
                const char* url = cmark_node_get_url(node);
                run.link = url ? url : "";
                readInlines(node, run, onImage, depth + 1);
                break;
            }
            case CMARK_NODE_IMAGE: {
                const QString path = imagePath(QString::fromUtf8(cmark_node_get_url(node)));
                const QString alt = flatText(node);
                onImage(DocBlock::image(path, std::nullopt, QFileInfo(path).suffix().toLower(), {DocRun{alt}}));
                break;
            }
            default:
                if (isType(node, "strikethrough"))
                    run.strike = true;
                readInlines(node, run, onImage, depth + 1);
                break;
            }
        }
    }

    void readTable(cmark_node* table)
    {
        finish();
        piece();
        m_out += "<table>";
        bool header = true;
        std::vector<std::string_view> cells;
        std::vector<size_t> ends;
        for (cmark_node* row = cmark_node_first_child(table); row; row = cmark_node_next(row)) {
            // The cells' texts stand in m_scratch one after another; views are taken once it
            // has stopped growing.
            m_scratch.clear();
            ends.clear();
            for (cmark_node* cell = cmark_node_first_child(row); cell; cell = cmark_node_next(cell)) {
                appendFlatText(cell, m_scratch);
                ends.push_back(m_scratch.size());
            }
            cells.clear();
            size_t begin = 0;
            for (const size_t end : ends) {
                cells.push_back(trimmedUtf8(std::string_view(m_scratch).substr(begin, end - begin)));
                begin = end;
            }
            while (!cells.empty() && cells.back().empty())
                cells.pop_back();
            m_out += "<tr>";
            for (const std::string_view cell : cells) {
                m_out += header ? "<th>" : "<td>";
                escaped(cell);
                m_out += header ? "</th>" : "</td>";
            }
            m_out += "</tr>";
            header = false;
        }
        m_out += "</table>";
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
    // Spares a long text the expression's pass over it.
    if (!source.startsWith(QLatin1String("---")))
        return source;
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

// Memory for the parse of one section, taken back all at once when the section has been read:
// freeing a tree node by node costs nearly as much as building it. Blocks freed on the way
// serve later requests of their size, so a section costs about what its tree holds. The
// parser's allocator carries no context: the arena is the thread's.
class ParseArena {
public:
    ParseArena()
        : m_previous(s_current)
    {
        s_current = this;
    }

    ~ParseArena()
    {
        rewind();
        for (void* chunk : m_chunks)
            std::free(chunk);
        s_current = m_previous;
    }

    ParseArena(const ParseArena&) = delete;
    ParseArena& operator=(const ParseArena&) = delete;

    // Forgets every block: the chunks stay for the next section, large blocks go back.
    void rewind()
    {
        while (m_large) {
            Large* next = m_large->next;
            std::free(m_large);
            m_large = next;
        }
        m_chunk = 0;
        m_used = 0;
        m_free.fill(nullptr);
    }

    static cmark_mem* allocator()
    {
        static cmark_mem mem{arenaCalloc, arenaRealloc, arenaFree};
        return &mem;
    }

private:
    static constexpr size_t granule = 16;
    static constexpr size_t smallLimit = 4096;
    static constexpr size_t chunkSize = size_t(1) << 20;
    static constexpr size_t largeClass = 0;

    // Before every block, keeping it aligned as malloc's; its class is 0 for a large block.
    struct Small {
        size_t size;
        size_t sizeClass;
    };
    struct Large {
        Large* previous;
        Large* next;
        size_t size;
        size_t sizeClass;
    };
    static_assert(sizeof(Small) % alignof(std::max_align_t) == 0 && sizeof(Large) % alignof(std::max_align_t) == 0);

    static thread_local ParseArena* s_current;
    ParseArena* m_previous;
    std::vector<void*> m_chunks;
    size_t m_chunk = 0;
    size_t m_used = 0;
    Large* m_large = nullptr;
    std::array<void*, smallLimit / granule + 1> m_free{};

    static size_t& classOf(void* block) { return static_cast<size_t*>(block)[-1]; }
    static size_t& sizeOf(void* block) { return static_cast<size_t*>(block)[-2]; }

    void* allocate(size_t size)
    {
        if (size > smallLimit) {
            auto* large = static_cast<Large*>(std::malloc(sizeof(Large) + size));
            if (!large)
                return nullptr;
            *large = {nullptr, m_large, size, largeClass};
            if (m_large)
                m_large->previous = large;
            m_large = large;
            return large + 1;
        }
        const size_t sizeClass = std::max<size_t>(1, (size + granule - 1) / granule);
        if (void* block = m_free[sizeClass]) {
            m_free[sizeClass] = *static_cast<void**>(block);
            sizeOf(block) = size;
            return block;
        }
        const size_t need = sizeof(Small) + sizeClass * granule;
        if (m_chunk == m_chunks.size() || m_used + need > chunkSize) {
            if (m_chunk < m_chunks.size())
                ++m_chunk;
            if (m_chunk == m_chunks.size()) {
                void* chunk = std::malloc(chunkSize);
                if (!chunk)
                    return nullptr;
                m_chunks.push_back(chunk);
            }
            m_used = 0;
        }
        auto* header = reinterpret_cast<Small*>(static_cast<char*>(m_chunks[m_chunk]) + m_used);
        m_used += need;
        *header = {size, sizeClass};
        return header + 1;
    }

    void release(void* block)
    {
        if (!block)
            return;
        if (classOf(block) == largeClass) {
            Large* large = static_cast<Large*>(block) - 1;
            (large->previous ? large->previous->next : m_large) = large->next;
            if (large->next)
                large->next->previous = large->previous;
            std::free(large);
            return;
        }
        *static_cast<void**>(block) = m_free[classOf(block)];
        m_free[classOf(block)] = block;
    }

    void* resize(void* block, size_t size)
    {
        if (!block)
            return allocate(size);
        const size_t sizeClass = classOf(block);
        if (sizeClass != largeClass && size <= sizeClass * granule) {
            sizeOf(block) = size;
            return block;
        }
        void* moved = allocate(size);
        if (!moved)
            return nullptr;
        std::memcpy(moved, block, std::min(sizeOf(block), size));
        release(block);
        return moved;
    }

    // cmark aborts when memory runs out, as with its own allocator.
    static void* checked(void* block)
    {
        if (!block)
            std::abort();
        return block;
    }

    static void* arenaCalloc(size_t count, size_t size)
    {
        if (size != 0 && count > SIZE_MAX / 2 / size)
            std::abort();
        void* block = checked(s_current->allocate(count * size));
        std::memset(block, 0, count * size);
        return block;
    }

    static void* arenaRealloc(void* block, size_t size) { return checked(s_current->resize(block, size)); }

    static void arenaFree(void* block) { s_current->release(block); }
};

thread_local ParseArena* ParseArena::s_current = nullptr;

// Parses the text a section at a time and hands each section's document to consume. A
// section of up to arenaLimit characters parses in an arena, which takes the whole tree back
// after consume (consume need free none of it, and what it frees stays the arena's until then);
// nodes of a longer one that consume frees go straight back to the heap.
template <typename Consume>
void parseSections(QStringView text, qsizetype arenaLimit, Consume&& consume)
{
    std::optional<ParseArena> arenaMemory;
    // Registration fills a global list: once, whichever thread comes first.
    static std::once_flag registered;
    std::call_once(registered, cmark_gfm_core_extensions_ensure_registered);
    // Attaching an extension switches its characters on in a table that every parser of the
    // process shares, and finishing switches them off again: parses take turns.
    static std::mutex parsing;
    const QList<qsizetype> starts = sectionStarts(text, sectionLength);
    for (qsizetype i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        ParseArena* arena = nullptr;
        if (end - starts[i] <= arenaLimit) {
            if (!arenaMemory)
                arenaMemory.emplace();
            arena = &*arenaMemory;
        }
        std::unique_ptr<cmark_node, void (*)(cmark_node*)> document(
            nullptr, arena ? +[](cmark_node*) {} : cmark_node_free);
        {
            const std::lock_guard lock(parsing);
            const std::unique_ptr<cmark_parser, void (*)(cmark_parser*)> parser(
                cmark_parser_new_with_mem(CMARK_OPT_DEFAULT,
                                          arena ? ParseArena::allocator() : cmark_get_default_mem_allocator()),
                cmark_parser_free);
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
            consume(document.get());
        document.reset();
        if (arena)
            arena->rewind();
    }
}

} // namespace

std::pair<std::optional<QString>, QList<DocBlock>>
MarkdownReader::parseMarkdown(QString source, const std::optional<QString>& title)
{
    std::optional<QString> declaredTitle;
    source = withoutFrontMatter(source, declaredTitle);
    Walker walker;
    // The tree is freed as it is read: a long section's room goes to its blocks as they grow.
    parseSections(QStringView(source), 2 * sectionLength,
                  [&](cmark_node* document) { walker.consumeDocument(document); });
    const auto firstHeading = [&]() -> std::optional<QString> {
        for (const DocBlock& block : walker.blocks) {
            if (block.kind == DocBlock::Kind::heading && block.level == 1)
                return block.plainText();
        }
        return std::nullopt;
    };
    std::optional<QString> result = title ? title : declaredTitle ? declaredTitle : firstHeading();
    return {std::move(result), std::move(walker.blocks)};
}

std::optional<QString> MarkdownReader::writeHTML(QString source, const ImageSource& imageSource,
                                                 const std::function<void(QByteArrayView)>& write)
{
    std::optional<QString> declaredTitle;
    source = withoutFrontMatter(source, declaredTitle);
    HtmlWalker walker(imageSource);
    parseSections(QStringView(source), std::numeric_limits<qsizetype>::max(), [&](cmark_node* document) {
        walker.consumeDocument(document);
        walker.flushTo(write);
    });
    walker.finish();
    walker.flushTo(write);
    return declaredTitle ? declaredTitle : walker.title();
}

} // namespace qv
