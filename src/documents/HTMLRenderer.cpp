#include "documents/HTMLRenderer.h"

#include "engines/image/ImageToPng.h"

#include <QDir>
#include <QFile>

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
    QString decoded = QUrl::fromPercentEncoding(block.path->toUtf8());
    if (decoded.contains(QChar::ReplacementCharacter))
        decoded = *block.path;
    const QString file = QDir(baseURL->toLocalFile()).filePath(decoded);
    QFile in(file);
    // A picture bigger than this is not worth carrying inside a page.
    constexpr qint64 limit = 256LL * 1024 * 1024;
    if (!in.open(QIODevice::ReadOnly) || in.size() > limit)
        return *block.path;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return *block.path;
    return HTMLRenderer::imageDataURI(bytes);
}

QString renderBlocks(const QList<DocBlock>& blocks, bool xhtml,
                     const std::function<std::optional<QString>(int, const DocBlock&)>& source)
{
    QStringList pieces;
    QList<bool> open;
    const auto closeList = [&] {
        pieces.append(open.takeLast() ? QStringLiteral("</li></ol>") : QStringLiteral("</li></ul>"));
    };
    for (int i = 0; i < blocks.size(); ++i) {
        const DocBlock& block = blocks[i];
        if (block.kind == DocBlock::Kind::listItem) {
            if (open.size() < block.level) {
                while (open.size() < block.level) {
                    pieces.append(block.ordered ? QStringLiteral("<ol><li>") : QStringLiteral("<ul><li>"));
                    open.append(block.ordered);
                }
            } else {
                while (open.size() > block.level)
                    closeList();
                if (open.last() == block.ordered) {
                    pieces.append(QStringLiteral("</li><li>"));
                } else {
                    // Numbered items after bullets (or the other way round) are a list of their own.
                    closeList();
                    pieces.append(block.ordered ? QStringLiteral("<ol><li>") : QStringLiteral("<ul><li>"));
                    open.append(block.ordered);
                }
            }
            pieces.append(HTMLRenderer::htmlInline(block.runs));
            continue;
        }
        while (!open.isEmpty())
            closeList();
        switch (block.kind) {
        case DocBlock::Kind::heading: {
            const QString n = QString::number(std::clamp(block.level, 1, 6));
            pieces.append(QStringLiteral("<h") + n + QLatin1Char('>') + HTMLRenderer::htmlInline(block.runs)
                          + QStringLiteral("</h") + n + QLatin1Char('>'));
            break;
        }
        case DocBlock::Kind::paragraph:
            pieces.append(QStringLiteral("<p>") + HTMLRenderer::htmlInline(block.runs) + QStringLiteral("</p>"));
            break;
        case DocBlock::Kind::quote:
            pieces.append(QStringLiteral("<blockquote><p>") + HTMLRenderer::htmlInline(block.runs)
                          + QStringLiteral("</p></blockquote>"));
            break;
        case DocBlock::Kind::code:
            pieces.append(QStringLiteral("<pre><code>") + HTMLRenderer::escapeHTML(block.plainText())
                          + QStringLiteral("</code></pre>"));
            break;
        case DocBlock::Kind::table: {
            QString table = QStringLiteral("<table>");
            for (qsizetype r = 0; r < block.rows.size(); ++r) {
                table += QStringLiteral("<tr>");
                for (const QString& cell : block.rows[r]) {
                    table += (r == 0 ? QStringLiteral("<th>") : QStringLiteral("<td>"))
                        + HTMLRenderer::escapeHTML(cell)
                        + (r == 0 ? QStringLiteral("</th>") : QStringLiteral("</td>"));
                }
                table += QStringLiteral("</tr>");
            }
            pieces.append(table + QStringLiteral("</table>"));
            break;
        }
        case DocBlock::Kind::image: {
            const std::optional<QString> src = source(i, block);
            if (!src)
                break;
            pieces.append(QStringLiteral("<p><img src=\"") + HTMLRenderer::escapeHTML(*src)
                          + QStringLiteral("\" alt=\"") + HTMLRenderer::escapeHTML(block.plainText())
                          + QLatin1Char('"') + (xhtml ? QStringLiteral(" />") : QStringLiteral(">"))
                          + QStringLiteral("</p>"));
            break;
        }
        case DocBlock::Kind::rule:
            pieces.append(xhtml ? QStringLiteral("<hr />") : QStringLiteral("<hr>"));
            break;
        case DocBlock::Kind::pageBreak:
        case DocBlock::Kind::listItem:
            break;
        }
    }
    while (!open.isEmpty())
        closeList();
    QString out = pieces.join(QLatin1Char('\n'));
    if (xhtml) {
        out.replace(QLatin1String("<br>"), QLatin1String("<br />"));
        out = HTMLRenderer::removeXMLForbidden(out);
    }
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

QString HTMLRenderer::htmlInline(const QList<DocRun>& runs)
{
    QString out;
    for (const DocRun& run : runs)
        out += htmlRun(run);
    return out;
}

QString HTMLRenderer::htmlRun(const DocRun& run)
{
    QString text = escapeHTML(run.text).replace(QLatin1Char('\n'), QLatin1String("<br>"));
    if (run.code)
        text = QLatin1String("<code>") + text + QLatin1String("</code>");
    if (run.strike)
        text = QLatin1String("<del>") + text + QLatin1String("</del>");
    if (run.italic)
        text = QLatin1String("<em>") + text + QLatin1String("</em>");
    if (run.bold)
        text = QLatin1String("<strong>") + text + QLatin1String("</strong>");
    if (run.link)
        text = QLatin1String("<a href=\"") + escapeHTML(*run.link) + QLatin1String("\">") + text + QLatin1String("</a>");
    return text;
}

QString HTMLRenderer::escapeHTML(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        default: out += c; break;
        }
    }
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
