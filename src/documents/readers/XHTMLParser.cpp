#include "documents/readers/XHTMLParser.h"

#include "documents/model/DocumentPictures.h"

#include "model/errors/EngineError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringDecoder>

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <mutex>
#include <vector>

namespace qv {
namespace {

// No document of ours ever needs an outside entity or DTD.
xmlParserInputPtr refuseExternalEntity(const char*, const char*, xmlParserCtxtPtr)
{
    return nullptr;
}

void silentError(void*, const char*, ...) {}
void silentStructuredError(void*, xmlErrorPtr) {}

void prepareLibxml()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xmlSetExternalEntityLoader(refuseExternalEntity);
    });
}

using Doc = std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)>;

QString name(xmlNodePtr node)
{
    return node->name ? QString::fromUtf8(reinterpret_cast<const char*>(node->name)).toLower() : QString();
}

QString attribute(xmlNodePtr node, const char* attr)
{
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(attr));
    if (!value)
        return {};
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

bool hasAttribute(xmlNodePtr node, const char* attr)
{
    return xmlHasProp(node, reinterpret_cast<const xmlChar*>(attr)) != nullptr;
}

const QSet<QString>& skipped()
{
    static const QSet<QString> names{"script", "style", "head", "title", "noscript", "template",
                                     "svg", "math", "iframe", "object"};
    return names;
}

const QSet<QString>& containers()
{
    static const QSet<QString> names{"body", "div", "section", "article", "main", "header", "footer",
                                     "aside", "nav", "figure", "figcaption", "center", "form", "fieldset",
                                     "details", "summary", "dl", "dd", "dt", "address", "hgroup", "html"};
    return names;
}

bool isText(xmlNodePtr node)
{
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

QString nodeText(xmlNodePtr node)
{
    return node->content ? QString::fromUtf8(reinterpret_cast<const char*>(node->content)) : QString();
}

// The string value: every text below the node, script and style included as a browser's
// textContent would; walked without recursion so any depth is safe. Entity references are
// not expanded.
QString stringValue(xmlNodePtr top)
{
    if (isText(top))
        return nodeText(top);
    QString text;
    xmlNodePtr node = top->children;
    while (node) {
        if (isText(node))
            text += nodeText(node);
        if (node->type == XML_ELEMENT_NODE && node->children) {
            node = node->children;
            continue;
        }
        while (node && !node->next) {
            node = node->parent;
            if (node == top)
                return text;
        }
        if (node)
            node = node->next;
    }
    return text;
}

const QRegularExpression& whitespace()
{
    static const QRegularExpression pattern(QStringLiteral("[ \\t\\r\\n\\f]+"));
    return pattern;
}

QList<DocRun> normalizeRuns(const QList<DocRun>& runs)
{
    QList<DocRun> out;
    for (const DocRun& run : runs) {
        QString text = run.text;
        if (!run.code && text != QLatin1String("\n"))
            text.replace(whitespace(), QStringLiteral(" "));
        if (!out.isEmpty() && text.startsWith(QLatin1Char(' '))
            && (out.last().text.endsWith(QLatin1Char(' ')) || out.last().text.endsWith(QLatin1Char('\n'))))
            text.remove(0, 1);
        if (text.isEmpty())
            continue;
        DocRun copy = run;
        copy.text = text;
        appendMergedRun(out, copy);
    }
    const auto blank = [](const DocRun& run) { return run.text.trimmed().isEmpty(); };
    while (!out.isEmpty() && blank(out.first()))
        out.removeFirst();
    while (!out.isEmpty() && blank(out.last()))
        out.removeLast();
    if (!out.isEmpty()) {
        QString& first = out.first().text;
        qsizetype i = 0;
        while (i < first.size() && (first[i] == QLatin1Char(' ') || first[i] == QLatin1Char('\n')))
            ++i;
        first.remove(0, i);
        QString& last = out.last().text;
        while (!last.isEmpty() && (last.endsWith(QLatin1Char(' ')) || last.endsWith(QLatin1Char('\n'))))
            last.chop(1);
        if (out.last().text.isEmpty())
            out.removeLast();
    }
    return out;
}

class Walker {
public:
    Walker(std::optional<QUrl> baseURL, std::optional<QUrl> root)
        : m_baseURL(std::move(baseURL)), m_root(std::move(root))
    {
    }

    QList<DocBlock> blocks;
    int leftOut = 0; // pictures outside the root

    void visitNode(xmlNodePtr node, int depth)
    {
        if (isText(node)) {
            m_pending.append(DocRun{nodeText(node)});
            return;
        }
        if (node->type != XML_ELEMENT_NODE)
            return;
        const QString tag = name(node);
        if (skipped().contains(tag))
            return;
        if (depth > XHTMLParser::maximumDepth) {
            m_pending.append(DocRun{stringValue(node)});
            return;
        }
        if (tag.size() == 2 && tag[0] == QLatin1Char('h') && tag[1] >= QLatin1Char('1') && tag[1] <= QLatin1Char('6')) {
            flushPending();
            const QList<DocRun> runs = normalizeRuns(inlineRuns(node, DocRun{}, depth));
            if (!runs.isEmpty())
                blocks.append(DocBlock::heading(tag[1].digitValue(), runs));
        } else if (tag == QLatin1String("p") || tag == QLatin1String("li")) {
            flushPending();
            m_pending = inlineRuns(node, DocRun{}, depth);
            flushPending();
        } else if (tag == QLatin1String("ul") || tag == QLatin1String("ol")) {
            flushPending();
            m_lists.append(tag == QLatin1String("ol"));
            for (xmlNodePtr child = node->children; child; child = child->next) {
                if (child->type == XML_ELEMENT_NODE && name(child) == QLatin1String("li"))
                    readListItem(child, depth + 1);
                else
                    visitNode(child, depth + 1);
            }
            flushPending();
            m_lists.removeLast();
        } else if (tag == QLatin1String("pre")) {
            flushPending();
            QString text = stringValue(node);
            while (text.startsWith(QLatin1Char('\n')) || text.startsWith(QLatin1Char('\r')))
                text.remove(0, 1);
            while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r')))
                text.chop(1);
            if (!text.isEmpty())
                blocks.append(DocBlock::code(text));
        } else if (tag == QLatin1String("blockquote")) {
            flushPending();
            const QList<DocRun> runs = normalizeRuns(inlineRuns(node, DocRun{}, depth));
            if (!runs.isEmpty())
                blocks.append(DocBlock::quote(runs));
        } else if (tag == QLatin1String("hr")) {
            flushPending();
            blocks.append(DocBlock::rule());
        } else if (tag == QLatin1String("img") || tag == QLatin1String("image")) {
            flushPending();
            if (auto image = readImage(node))
                blocks.append(*image);
        } else if (tag == QLatin1String("table")) {
            flushPending();
            const QList<QStringList> rows = readTableRows(node, depth);
            if (!rows.isEmpty())
                blocks.append(DocBlock::table(rows));
        } else if (tag == QLatin1String("br")) {
            m_pending.append(DocRun{QStringLiteral("\n")});
        } else if (containers().contains(tag)) {
            flushPending();
            for (xmlNodePtr child = node->children; child; child = child->next)
                visitNode(child, depth + 1);
            flushPending();
        } else {
            m_pending.append(inlineRuns(node, DocRun{}, depth));
        }
    }

    void flushPending()
    {
        const QList<DocRun> runs = normalizeRuns(m_pending);
        m_pending.clear();
        if (!runs.isEmpty())
            blocks.append(DocBlock::paragraph(runs));
    }

private:
    std::optional<QUrl> m_baseURL;
    std::optional<QUrl> m_root;
    QList<DocRun> m_pending;
    QList<bool> m_lists;

    QList<DocRun> inlineRuns(xmlNodePtr element, const DocRun& style, int depth)
    {
        QList<DocRun> runs;
        for (xmlNodePtr child = element->children; child; child = child->next)
            appendInline(child, style, depth, runs);
        return runs;
    }

    // One inline node with its own style added to the inherited one.
    void appendInline(xmlNodePtr child, const DocRun& style, int depth, QList<DocRun>& runs)
    {
        if (isText(child)) {
            DocRun run = style;
            run.text = nodeText(child);
            runs.append(run);
            return;
        }
        if (child->type != XML_ELEMENT_NODE)
            return;
        const QString tag = name(child);
        if (skipped().contains(tag))
            return;
        if (depth > XHTMLParser::maximumDepth) {
            DocRun run = style;
            run.text = stringValue(child);
            runs.append(run);
            return;
        }
        DocRun inner = style;
        inner.text.clear();
        if (tag == QLatin1String("strong") || tag == QLatin1String("b")) {
            inner.bold = true;
        } else if (tag == QLatin1String("em") || tag == QLatin1String("i") || tag == QLatin1String("cite")
                   || tag == QLatin1String("var") || tag == QLatin1String("dfn")) {
            inner.italic = true;
        } else if (tag == QLatin1String("code") || tag == QLatin1String("kbd") || tag == QLatin1String("samp")
                   || tag == QLatin1String("tt")) {
            inner.code = true;
        } else if (tag == QLatin1String("s") || tag == QLatin1String("strike") || tag == QLatin1String("del")) {
            inner.strike = true;
        } else if (tag == QLatin1String("a")) {
            const QString href = attribute(child, "href");
            if (hasAttribute(child, "href") && !href.startsWith(QLatin1Char('#')))
                inner.link = href;
        } else if (tag == QLatin1String("br")) {
            runs.append(DocRun{QStringLiteral("\n")});
            return;
        } else if (tag == QLatin1String("img") || tag == QLatin1String("image")) {
            m_pending.append(runs);
            flushPending();
            runs.clear();
            if (auto image = readImage(child))
                blocks.append(*image);
            return;
        }
        runs.append(inlineRuns(child, inner, depth + 1));
    }

    void readListItem(xmlNodePtr item, int depth)
    {
        QList<DocRun> runs;
        QList<xmlNodePtr> nested;
        for (xmlNodePtr child = item->children; child; child = child->next) {
            if (child->type != XML_ELEMENT_NODE) {
                if (isText(child))
                    runs.append(DocRun{nodeText(child)});
                continue;
            }
            const QString tag = name(child);
            if (tag == QLatin1String("ul") || tag == QLatin1String("ol")) {
                nested.append(child);
            } else if (tag == QLatin1String("p")) {
                if (!runs.isEmpty())
                    runs.append(DocRun{QStringLiteral(" ")});
                runs.append(inlineRuns(child, DocRun{}, depth + 1));
            } else {
                // An element directly in the item styles its own text.
                appendInline(child, DocRun{}, depth + 1, runs);
            }
        }
        const QList<DocRun> normalized = normalizeRuns(runs);
        if (!normalized.isEmpty())
            blocks.append(DocBlock::listItem(m_lists.isEmpty() ? false : m_lists.last(), int(m_lists.size()), normalized));
        for (xmlNodePtr list : nested)
            visitNode(list, depth + 1);
    }

    QList<QStringList> readTableRows(xmlNodePtr table, int depth)
    {
        QList<QStringList> rows;
        // Rows of nested tables count too, in document order.
        QList<xmlNodePtr> trs;
        const std::function<void(xmlNodePtr, int)> collect = [&](xmlNodePtr node, int d) {
            for (xmlNodePtr child = node->children; child; child = child->next) {
                if (child->type != XML_ELEMENT_NODE)
                    continue;
                if (name(child) == QLatin1String("tr"))
                    trs.append(child);
                if (d < XHTMLParser::maximumDepth)
                    collect(child, d + 1);
            }
        };
        collect(table, depth);
        for (xmlNodePtr tr : trs) {
            QStringList cells;
            for (xmlNodePtr cell = tr->children; cell; cell = cell->next) {
                if (cell->type != XML_ELEMENT_NODE)
                    continue;
                const QString tag = name(cell);
                if (tag != QLatin1String("td") && tag != QLatin1String("th"))
                    continue;
                QString text = stringValue(cell).replace(whitespace(), QStringLiteral(" "));
                while (text.startsWith(QLatin1Char(' ')) || text.startsWith(QLatin1Char('\t')))
                    text.remove(0, 1);
                while (text.endsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char('\t')))
                    text.chop(1);
                cells.append(text);
            }
            if (!cells.isEmpty())
                rows.append(cells);
        }
        return rows;
    }

    std::optional<DocBlock> readImage(xmlNodePtr node)
    {
        QString source = attribute(node, "src");
        if (source.isEmpty())
            source = attribute(node, "href");
        if (source.isEmpty()) {
            for (xmlAttrPtr attr = node->properties; attr; attr = attr->next) {
                if (attr->name && QByteArray(reinterpret_cast<const char*>(attr->name)) == "href") {
                    xmlChar* value = xmlNodeListGetString(node->doc, attr->children, 1);
                    if (value) {
                        source = QString::fromUtf8(reinterpret_cast<const char*>(value));
                        xmlFree(value);
                    }
                    break;
                }
            }
        }
        if (source.isEmpty())
            return std::nullopt;
        const QList<DocRun> alt{DocRun{attribute(node, "alt")}};
        if (source.startsWith(QLatin1String("data:"))) {
            const qsizetype comma = source.indexOf(QLatin1Char(','));
            if (comma < 0)
                return std::nullopt;
            const QString header = source.left(comma);
            const QString ext = header.contains(QLatin1String("png"))   ? QStringLiteral("png")
                              : header.contains(QLatin1String("gif"))   ? QStringLiteral("gif")
                              : header.contains(QLatin1String("svg"))   ? QStringLiteral("svg")
                                                                        : QStringLiteral("jpg");
            if (!header.contains(QLatin1String("base64")))
                return std::nullopt;
            const auto decoded = QByteArray::fromBase64Encoding(
                source.mid(comma + 1).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded || decoded.decoded.isEmpty())
                return std::nullopt;
            return DocBlock::image(std::nullopt, decoded.decoded, ext, alt);
        }
        QString path;
        if (m_root) {
            const DocumentPictures::Resolved resolved =
                DocumentPictures::resolve(source, m_baseURL ? m_baseURL->toLocalFile() : m_root->toLocalFile(),
                                          m_root->toLocalFile());
            if (resolved.place == DocumentPictures::Place::outside)
                ++leftOut;
            if (resolved.place != DocumentPictures::Place::inside)
                return std::nullopt;
            path = resolved.path;
        } else if (source.contains(QLatin1String("://")) && !source.startsWith(QLatin1String("file:"))) {
            return std::nullopt;
        } else if (source.startsWith(QLatin1String("file:"))) {
            path = QUrl(source).toLocalFile();
        } else {
            if (!m_baseURL)
                return std::nullopt;
            QString decoded = QUrl::fromPercentEncoding(source.toUtf8());
            if (decoded.contains(QChar::ReplacementCharacter))
                decoded = source;
            path = QDir(m_baseURL->toLocalFile()).filePath(decoded);
        }
        if (path.isEmpty())
            return std::nullopt;
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly) || file.size() > XHTMLParser::maximumImageBytes)
            return std::nullopt;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        return DocBlock::image(std::nullopt, bytes, QFileInfo(path).suffix().toLower(), alt);
    }
};

xmlNodePtr findBody(xmlNodePtr node)
{
    // Breadth of search without recursion: the first element named body in document order.
    xmlNodePtr cur = node;
    while (cur) {
        if (cur->type == XML_ELEMENT_NODE && name(cur) == QLatin1String("body"))
            return cur;
        if (cur->children && cur->type == XML_ELEMENT_NODE) {
            cur = cur->children;
            continue;
        }
        while (cur && !cur->next) {
            cur = cur->parent;
            if (cur == node || !cur)
                return nullptr;
        }
        if (cur)
            cur = cur->next;
    }
    return nullptr;
}

// An XHTML file that names the XHTML DTD may use HTML's entities (&nbsp;, &eacute;) without
// defining them; the XML parser leaves them as empty references, which are their characters.
void expandHTMLEntities(xmlDocPtr doc)
{
    xmlNodePtr root = xmlDocGetRootElement(doc);
    std::vector<xmlNodePtr> references;
    xmlNodePtr node = root;
    while (node) {
        if (node->type == XML_ENTITY_REF_NODE && !node->children && node->name)
            references.push_back(node);
        if (node->type == XML_ELEMENT_NODE && node->children) {
            node = node->children;
            continue;
        }
        while (node && node != root && !node->next)
            node = node->parent;
        node = node && node != root ? node->next : nullptr;
    }
    for (xmlNodePtr reference : references) {
        const htmlEntityDesc* entity = htmlEntityLookup(reference->name);
        if (!entity)
            continue;
        const char32_t code = entity->value;
        const QByteArray utf8 = QString::fromUcs4(&code, 1).toUtf8();
        if (xmlNodePtr text = xmlNewDocText(doc, reinterpret_cast<const xmlChar*>(utf8.constData()))) {
            xmlReplaceNode(reference, text);
            xmlFreeNode(reference);
        }
    }
}

bool declaresCharset(const QByteArray& bytes)
{
    return bytes.left(2048).toLower().contains("charset");
}

} // namespace

QList<DocBlock> XHTMLParser::parse(const QByteArray& bytes, const std::optional<QUrl>& baseURL,
                                   bool tryStrictXML, const std::optional<QUrl>& root, int* leftOut)
{
    if (bytes.trimmed().isEmpty())
        return {};
    prepareLibxml();
    xmlSetGenericErrorFunc(nullptr, silentError);
    xmlSetStructuredErrorFunc(nullptr, silentStructuredError);
    const int size = int(std::min<qsizetype>(bytes.size(), INT_MAX));
    Doc doc(nullptr, xmlFreeDoc);
    if (tryStrictXML) {
        doc.reset(xmlReadMemory(bytes.constData(), size, nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
        if (doc)
            expandHTMLEntities(doc.get());
    }
    if (!doc) {
        // Without a declared charset, bytes that are valid UTF-8 are taken as UTF-8.
        const char* encoding = nullptr;
        if (!declaresCharset(bytes)) {
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            (void)decoder.decode(bytes);
            if (!decoder.hasError())
                encoding = "UTF-8";
        }
        doc.reset(htmlReadMemory(bytes.constData(), size, nullptr, encoding,
                                 HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING
                                     | HTML_PARSE_NONET));
    }
    if (!doc)
        throw EngineError(QStringLiteral("This document couldn't be read"),
                          QStringLiteral("Neither the XML nor the HTML parser accepted the document"));
    xmlNodePtr top = xmlDocGetRootElement(doc.get());
    if (!top)
        return {};
    xmlNodePtr body = findBody(top);
    if (!body)
        body = top;
    Walker walker(baseURL, root);
    for (xmlNodePtr child = body->children; child; child = child->next)
        walker.visitNode(child, 1);
    walker.flushPending();
    if (leftOut)
        *leftOut += walker.leftOut;
    return walker.blocks;
}

} // namespace qv
