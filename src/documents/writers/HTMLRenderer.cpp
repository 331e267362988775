#include "documents/writers/HTMLRenderer.h"

#include "documents/model/DocumentPictures.h"

#include "engines/image/foreign/ImageToPng.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace qv {
namespace {

std::optional<QString> sniffedMediaType(const QByteArray& bytes)
{
    if (bytes.startsWith("\x89PNG\r\n\x1a\n"))
        return QStringLiteral("image/png");
    if (bytes.startsWith("\xff\xd8\xff"))
        return QStringLiteral("image/jpeg");
    if (bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a"))
        return QStringLiteral("image/gif");
    if (bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP")
        return QStringLiteral("image/webp");
    QByteArray head = bytes.left(1024);
    if (head.startsWith("\xef\xbb\xbf"))
        head.remove(0, 3);
    head = head.trimmed();
    if ((head.startsWith("<?xml") || head.startsWith("<svg") || head.startsWith("<!--")
         || head.startsWith("<!DOCTYPE svg"))
        && bytes.contains("<svg"))
        return QStringLiteral("image/svg+xml");
    return std::nullopt;
}

// An unreadable file keeps its path as the source; unreadable bytes drop the picture.
std::optional<QString> embeddedSource(const DocBlock& block, const std::optional<QUrl>& baseURL)
{
    if (block.data)
        return HTMLRenderer::imageDataURI(*block.data);
    if (!block.path)
        return std::nullopt;
    if (!baseURL)
        return *block.path;
    // Only pictures of the document's own folder travel in the page; another file of the
    // reader's is neither carried nor pointed at.
    const QString folder = baseURL->toLocalFile();
    const DocumentPictures::Resolved resolved = DocumentPictures::resolve(*block.path, folder, folder);
    if (resolved.place == DocumentPictures::Place::outside)
        return std::nullopt;
    if (resolved.place == DocumentPictures::Place::missing)
        return *block.path;
    QFile in(resolved.path);
    // A picture bigger than this is not worth carrying inside a page.
    constexpr qint64 limit = 256LL * 1024 * 1024;
    if (!in.open(QIODevice::ReadOnly) || in.size() > limit)
        return *block.path;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return *block.path;
    return HTMLRenderer::imageDataURI(bytes);
}

// Writes escaped text and markup straight into one growing string: a page of many blocks is
// written without a string per run or per line. finish() cuts the string to what was written.
class HtmlBuilder {
public:
    HtmlBuilder(QString& out, bool xhtml, qsizetype expected = 0)
        : m_out(out)
        , m_xhtml(xhtml)
    {
        m_out.resize(std::max<qsizetype>(expected, 64));
        m_at = 0;
    }

    ~HtmlBuilder() { finish(); }

    void finish()
    {
        if (m_at >= 0)
            m_out.truncate(m_at);
        m_at = -1;
    }

    void escaped(QStringView text, bool breaks = false)
    {
        // An entity or a break is at most six characters.
        char16_t* to = room(text.size() * 6);
        const char16_t* from = text.utf16();
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t c = from[i];
            switch (c) {
            case u'&': to = put(to, "&amp;"); break;
            case u'<': to = put(to, "&lt;"); break;
            case u'>': to = put(to, "&gt;"); break;
            case u'"': to = put(to, "&quot;"); break;
            case u'\n':
                if (breaks)
                    to = put(to, m_xhtml ? "<br />" : "<br>");
                else
                    *to++ = c;
                break;
            default: *to++ = c; break;
            }
        }
        m_at = to - m_data;
    }

    template <qsizetype N>
    void markup(const char (&text)[N])
    {
        m_at = put(room(N - 1), text) - m_data;
    }

    void markup(QLatin1String text)
    {
        char16_t* to = room(text.size());
        for (const char c : text)
            *to++ = char16_t(uchar(c));
        m_at = to - m_data;
    }


    void run(const DocRun& run)
    {
        if (run.link) {
            markup(QLatin1String("<a href=\""));
            escaped(*run.link);
            markup(QLatin1String("\">"));
        }
        if (run.bold)
            markup(QLatin1String("<strong>"));
        if (run.italic)
            markup(QLatin1String("<em>"));
        if (run.strike)
            markup(QLatin1String("<del>"));
        if (run.underline)
            markup(QLatin1String("<u>"));
        if (run.script != 0)
            markup(run.script > 0 ? QLatin1String("<sup>") : QLatin1String("<sub>"));
        if (run.code)
            markup(QLatin1String("<code>"));
        escaped(run.text, true);
        if (run.code)
            markup(QLatin1String("</code>"));
        if (run.script != 0)
            markup(run.script > 0 ? QLatin1String("</sup>") : QLatin1String("</sub>"));
        if (run.underline)
            markup(QLatin1String("</u>"));
        if (run.strike)
            markup(QLatin1String("</del>"));
        if (run.italic)
            markup(QLatin1String("</em>"));
        if (run.bold)
            markup(QLatin1String("</strong>"));
        if (run.link)
            markup(QLatin1String("</a>"));
    }

    void runs(const QList<DocRun>& runs)
    {
        for (const DocRun& one : runs)
            run(one);
    }

    // Pieces stand on lines of their own.
    void piece()
    {
        if (m_pieces++ > 0)
            markup("\n");
    }

private:
    QString& m_out;
    bool m_xhtml;
    char16_t* m_data = nullptr;
    qsizetype m_at = 0;
    qsizetype m_pieces = 0;

    // Where `count` more characters can be written.
    char16_t* room(qsizetype count)
    {
        if (m_at + count > m_out.size())
            m_out.resize(std::max(m_out.size() * 2, m_at + count));
        m_data = reinterpret_cast<char16_t*>(m_out.data());
        return m_data + m_at;
    }

    template <qsizetype N>
    static char16_t* put(char16_t* to, const char (&text)[N])
    {
        for (qsizetype i = 0; i < N - 1; ++i)
            *to++ = char16_t(text[i]);
        return to;
    }

    static char16_t* put(char16_t* to, const char* text)
    {
        while (*text)
            *to++ = char16_t(*text++);
        return to;
    }
};

// Room for the text and its markup, so the page grows in place.
qsizetype expectedSize(const QList<DocBlock>& blocks)
{
    qsizetype size = 0;
    for (const DocBlock& block : blocks) {
        size += 24;
        for (const DocRun& run : block.runs)
            size += run.text.size() + 16 + (run.link ? run.link->size() + 16 : 0);
        for (const QStringList& row : block.rows) {
            size += 9;
            for (const QString& cell : row)
                size += cell.size() + 9;
        }
    }
    return size + size / 16;
}

// Markdown's pages are written the same way straight from its parser (MarkdownReader::writeHTML):
// a change here is one there.
QString renderBlocks(const QList<DocBlock>& blocks, bool xhtml,
                     const std::function<std::optional<QString>(int, const DocBlock&)>& source)
{
    QString out;
    HtmlBuilder html(out, xhtml, expectedSize(blocks));
    QList<bool> open;
    const auto closeList = [&] {
        html.piece();
        html.markup(open.takeLast() ? QLatin1String("</li></ol>") : QLatin1String("</li></ul>"));
    };
    const auto openList = [&](bool ordered) {
        html.piece();
        html.markup(ordered ? QLatin1String("<ol><li>") : QLatin1String("<ul><li>"));
        open.append(ordered);
    };
    for (int i = 0; i < blocks.size(); ++i) {
        const DocBlock& block = blocks[i];
        if (block.kind == DocBlock::Kind::listItem) {
            if (open.size() < block.level) {
                while (open.size() < block.level)
                    openList(block.ordered);
            } else {
                while (open.size() > block.level)
                    closeList();
                if (open.last() == block.ordered) {
                    html.piece();
                    html.markup(QLatin1String("</li><li>"));
                } else {
                    // Numbered items after bullets (or the other way round) are a list of their own.
                    closeList();
                    openList(block.ordered);
                }
            }
            html.piece();
            html.runs(block.runs);
            continue;
        }
        while (!open.isEmpty())
            closeList();
        switch (block.kind) {
        case DocBlock::Kind::heading: {
            const char level[2] = {char('0' + std::clamp(block.level, 1, 6)), 0};
            html.piece();
            html.markup(QLatin1String("<h"));
            html.markup(QLatin1String(level));
            html.markup(QLatin1String(">"));
            html.runs(block.runs);
            html.markup(QLatin1String("</h"));
            html.markup(QLatin1String(level));
            html.markup(QLatin1String(">"));
            break;
        }
        case DocBlock::Kind::paragraph:
            html.piece();
            html.markup(QLatin1String("<p>"));
            html.runs(block.runs);
            html.markup(QLatin1String("</p>"));
            break;
        case DocBlock::Kind::quote: {
            // A quote keeps its paragraphs apart by an empty line.
            html.piece();
            html.markup(QLatin1String("<blockquote><p>"));
            for (const DocRun& run : block.runs) {
                qsizetype from = 0;
                for (qsizetype at = run.text.indexOf(QLatin1String("\n\n")); at >= 0;
                     at = run.text.indexOf(QLatin1String("\n\n"), from)) {
                    DocRun part = run;
                    part.text = run.text.mid(from, at - from);
                    if (!part.text.isEmpty())
                        html.run(part);
                    html.markup(QLatin1String("</p><p>"));
                    from = at + 2;
                }
                DocRun rest = run;
                rest.text = run.text.mid(from);
                if (from == 0 || !rest.text.isEmpty())
                    html.run(from == 0 ? run : rest);
            }
            html.markup(QLatin1String("</p></blockquote>"));
            break;
        }
        case DocBlock::Kind::code:
            html.piece();
            html.markup(QLatin1String("<pre><code>"));
            for (const DocRun& run : block.runs)
                html.escaped(run.text);
            html.markup(QLatin1String("</code></pre>"));
            break;
        case DocBlock::Kind::table: {
            html.piece();
            html.markup(QLatin1String("<table>"));
            for (qsizetype r = 0; r < block.rows.size(); ++r) {
                html.markup(QLatin1String("<tr>"));
                for (const QString& cell : block.rows[r]) {
                    html.markup(r == 0 ? QLatin1String("<th>") : QLatin1String("<td>"));
                    html.escaped(cell);
                    html.markup(r == 0 ? QLatin1String("</th>") : QLatin1String("</td>"));
                }
                html.markup(QLatin1String("</tr>"));
            }
            html.markup(QLatin1String("</table>"));
            break;
        }
        case DocBlock::Kind::image: {
            const std::optional<QString> src = source(i, block);
            if (!src)
                break;
            html.piece();
            html.markup(QLatin1String("<p><img src=\""));
            html.escaped(*src);
            html.markup(QLatin1String("\" alt=\""));
            for (const DocRun& run : block.runs)
                html.escaped(run.text);
            html.markup(xhtml ? QLatin1String("\" /></p>") : QLatin1String("\"></p>"));
            break;
        }
        case DocBlock::Kind::rule:
            html.piece();
            html.markup(xhtml ? QLatin1String("<hr />") : QLatin1String("<hr>"));
            break;
        case DocBlock::Kind::pageBreak:
        case DocBlock::Kind::listItem:
            break;
        }
    }
    while (!open.isEmpty())
        closeList();
    html.finish();
    if (xhtml)
        out = HTMLRenderer::removeXMLForbidden(out);
    return out;
}

} // namespace

QString HTMLRenderer::renderHTML(const QList<DocBlock>& blocks, bool xhtml, const ImageReference& imageReference)
{
    return renderBlocks(blocks, xhtml, [&](int index, const DocBlock& block) -> std::optional<QString> {
        return imageReference ? imageReference(index, block) : std::nullopt;
    });
}

QString HTMLRenderer::renderHTMLWithEmbeddedImages(const QList<DocBlock>& blocks, bool xhtml,
                                                   const std::optional<QUrl>& baseURL)
{
    return renderBlocks(blocks, xhtml, [&](int, const DocBlock& block) { return embeddedSource(block, baseURL); });
}

std::optional<QString> HTMLRenderer::embeddedImageSource(const DocBlock& image, const std::optional<QUrl>& baseURL)
{
    return embeddedSource(image, baseURL);
}

QString HTMLRenderer::htmlInline(const QList<DocRun>& runs)
{
    QString out;
    HtmlBuilder(out, false).runs(runs);
    return out;
}

QString HTMLRenderer::htmlRun(const DocRun& run)
{
    QString out;
    HtmlBuilder(out, false).run(run);
    return out;
}

QString HTMLRenderer::escapeHTML(const QString& text)
{
    QString out;
    HtmlBuilder(out, false, text.size() + text.size() / 8).escaped(text);
    return out;
}

std::optional<QString> HTMLRenderer::imageDataURI(const QByteArray& bytes)
{
    std::optional<QString> type = sniffedMediaType(bytes);
    QByteArray payload = bytes;
    if (!type) {
        const std::optional<QByteArray> png = imageToPng(bytes);
        if (!png)
            return std::nullopt;
        payload = *png;
        type = QStringLiteral("image/png");
    }
    return QStringLiteral("data:") + *type + QStringLiteral(";base64,") + QString::fromLatin1(payload.toBase64());
}

QString HTMLRenderer::removeXMLForbidden(const QString& text)
{
    QString out;
    out.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        if ((u < 0x20 && u != '\t' && u != '\n' && u != '\r') || u == 0xFFFE || u == 0xFFFF)
            continue;
        // A surrogate without its partner is no character at all.
        if (c.isHighSurrogate()) {
            if (i + 1 < size && text[i + 1].isLowSurrogate()) {
                out += c;
                out += text[++i];
            }
            continue;
        }
        if (c.isLowSurrogate())
            continue;
        out += c;
    }
    return out;
}

} // namespace qv
