#include "documents/sheets/XlsxReader.h"

#include "documents/model/TextInterner.h"
#include "documents/office/OfficeEncryption.h"
#include "documents/readers/ZipPackageReader.h"
#include "documents/sheets/DecimalNumber.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QTime>
#include <QUrl>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlreader.h>
#include <libxml/xpath.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace qv {

namespace {

const QString damagedMessage = QStringLiteral("This spreadsheet is damaged");
const QString notWorkbookMessage = QStringLiteral("This file is not a valid XLSX workbook");
const QString noSheetsMessage = QStringLiteral("This workbook has no sheets");

// Entities are never substituted and no DTD is fetched; the default limits stay on.
constexpr int xmlOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
// Workbook, relationships and styles are small; a bigger one is not an honest part.
constexpr qint64 maximumPartBytes = qint64(64) << 20;

void initXML()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// A part as a tree; nothing when it is no well-formed XML or carries a DTD (OOXML has none).
DocPtr parseDocument(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return nullptr;
    initXML();
    DocPtr doc(xmlReadMemory(bytes.constData(), int(bytes.size()), "part.xml", nullptr, xmlOptions));
    if (doc && doc->intSubset)
        return nullptr;
    return doc;
}

QString fromXml(const xmlChar* text)
{
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

QList<xmlNode*> nodesForXPath(xmlDoc* doc, const char* path)
{
    QList<xmlNode*> nodes;
    std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(
        xmlXPathNewContext(doc), xmlXPathFreeContext);
    if (!context)
        return nodes;
    std::unique_ptr<xmlXPathObject, decltype(&xmlXPathFreeObject)> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), context.get()),
        xmlXPathFreeObject);
    if (!result || !result->nodesetval)
        return nodes;
    for (int i = 0; i < result->nodesetval->nodeNr; ++i)
        nodes.append(result->nodesetval->nodeTab[i]);
    return nodes;
}

QString nodeText(xmlNode* node)
{
    xmlChar* text = xmlNodeGetContent(node);
    QString value = fromXml(text);
    xmlFree(text);
    return value;
}

// The attribute of that local name, whatever its prefix.
std::optional<QString> attribute(xmlNode* node, const char* localName)
{
    for (xmlAttr* attr = node->properties; attr; attr = attr->next) {
        if (std::strcmp(reinterpret_cast<const char*>(attr->name), localName) == 0)
            return nodeText(reinterpret_cast<xmlNode*>(attr));
    }
    return std::nullopt;
}

std::optional<int> integerAttribute(xmlNode* node, const char* localName)
{
    const auto text = attribute(node, localName);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int value = text->toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

// What a package may make us hold, over all its parts.
struct Budget {
    qint64 cells = 0;      // grid cells and shared strings
    qint64 characters = 0; // text kept
    qint64 expanded = 0;   // text of every cell, a shared string counted at each use

    void addCharacters(qint64 n)
    {
        characters += n;
        if (characters > SheetLimits::maximumCharacters)
            throw EngineError(SheetLimits::tooLargeMessage);
    }

    // A shared string costs its memory once but is written out at every cell that names it.
    void addCellText(qint64 n)
    {
        expanded += n;
        if (expanded > SheetLimits::maximumExpandedCharacters)
            throw EngineError(SheetLimits::tooLargeMessage);
    }
};

// Feeds one package entry to xmlTextReader; errors of the entry wait in `error` until the
// parser has returned, as they may not cross its C frames.
struct EntrySource {
    ZipPackageReader::Entry* entry;
    std::exception_ptr error;
};

int readEntry(void* context, char* buffer, int size)
{
    auto* source = static_cast<EntrySource*>(context);
    try {
        return int(source->entry->read(buffer, size));
    } catch (...) {
        source->error = std::current_exception();
        return -1;
    }
}

int closeEntry(void*)
{
    return 0;
}

struct ReaderFree {
    void operator()(xmlTextReader* reader) const { xmlFreeTextReader(reader); }
};
using ReaderPtr = std::unique_ptr<xmlTextReader, ReaderFree>;

ReaderPtr openReader(EntrySource& source)
{
    initXML();
    ReaderPtr reader(xmlReaderForIO(readEntry, closeEntry, &source, "part.xml", nullptr, xmlOptions));
    if (!reader)
        throw std::bad_alloc();
    return reader;
}

bool isNamed(const xmlChar* name, const char* wanted)
{
    return name && std::strcmp(reinterpret_cast<const char*>(name), wanted) == 0;
}

// Elements count when they are SpreadsheetML's, whatever prefix names them, or in no namespace
// at all; extensions of other namespaces may reuse the same local names.
bool isSpreadsheetElement(xmlTextReader* reader)
{
    const xmlChar* uri = xmlTextReaderConstNamespaceUri(reader);
    if (!uri || !*uri)
        return true;
    const char* text = reinterpret_cast<const char*>(uri);
    return std::strcmp(text, "http://schemas.openxmlformats.org/spreadsheetml/2006/main") == 0
        || std::strcmp(text, "http://purl.oclc.org/ooxml/spreadsheetml/main") == 0;
}

bool isTextNode(int type)
{
    return type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA
        || type == XML_READER_TYPE_WHITESPACE || type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE;
}

// Walks a part's events; false when it is not well-formed. Rethrows what the entry threw.
template<typename Handler>
bool walkPart(ZipPackageReader::Entry& entry, Handler&& handle)
{
    EntrySource source{&entry, nullptr};
    ReaderPtr reader = openReader(source);
    int status = 0;
    while ((status = xmlTextReaderRead(reader.get())) == 1) {
        const int type = xmlTextReaderNodeType(reader.get());
        if (type == XML_READER_TYPE_DOCUMENT_TYPE) {
            status = -1;
            break;
        }
        handle(reader.get(), type);
    }
    if (source.error)
        std::rethrow_exception(source.error);
    return status == 0;
}

QByteArray attributeBytes(xmlTextReader* reader, const char* name)
{
    xmlChar* value = xmlTextReaderGetAttribute(reader, reinterpret_cast<const xmlChar*>(name));
    QByteArray bytes(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return bytes;
}

// Cell text with its "_x000D_" escapes undone: SpreadsheetML writes characters XML cannot
// carry, and a literal "_x" followed by four hex digits, that way ("_x005F_" is "_").
QString unescapedCellText(const QString& text)
{
    if (!text.contains(QLatin1String("_x")))
        return text;
    static const QRegularExpression escape(QStringLiteral("_x([0-9A-Fa-f]{4})_"));
    QString result;
    qsizetype from = 0;
    for (auto match = escape.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch m = match.next();
        result += QStringView(text).mid(from, m.capturedStart() - from);
        result += QChar(char16_t(m.captured(1).toUShort(nullptr, 16)));
        from = m.capturedEnd();
    }
    result += QStringView(text).mid(from);
    return result;
}

// A cell of type "d" holds an ISO 8601 date and time, shown as the other dates are.
QString isoDateCellText(const QString& value)
{
    QDateTime moment = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!moment.isValid())
        moment = QDateTime::fromString(value, Qt::ISODate);
    if (moment.isValid()) {
        if (moment.time() == QTime(0, 0))
            return moment.date().toString(u"yyyy-MM-dd");
        return moment.toString(u"yyyy-MM-dd HH:mm:ss");
    }
    if (const QDate date = QDate::fromString(value, Qt::ISODate); date.isValid())
        return date.toString(u"yyyy-MM-dd");
    if (const QTime time = QTime::fromString(value, Qt::ISODateWithMs); time.isValid())
        return time.toString(u"HH:mm:ss");
    return value;
}

QStringList parseSharedStrings(ZipPackageReader::Entry& entry, Budget& budget)
{
    QStringList strings;
    QByteArray current;
    bool inItem = false;
    bool inText = false;
    int phoneticDepth = 0;
    auto element = [&](const xmlChar* name, bool start) {
        if (isNamed(name, "si")) {
            if (start) {
                inItem = true;
                current.clear();
            } else {
                strings.append(unescapedCellText(QString::fromUtf8(current)));
                inItem = false;
                if (++budget.cells > SheetLimits::maximumCells)
                    throw EngineError(SheetLimits::tooLargeMessage);
            }
        } else if (isNamed(name, "t")) {
            inText = start && phoneticDepth == 0;
        } else if (isNamed(name, "rPh")) {
            phoneticDepth += start ? 1 : -1;
        }
    };
    // A parse error keeps what came before it.
    walkPart(entry, [&](xmlTextReader* reader, int type) {
        const xmlChar* name = xmlTextReaderConstLocalName(reader);
        if ((type == XML_READER_TYPE_ELEMENT || type == XML_READER_TYPE_END_ELEMENT) && !isSpreadsheetElement(reader))
            return;
        if (type == XML_READER_TYPE_ELEMENT) {
            element(name, true);
            if (xmlTextReaderIsEmptyElement(reader))
                element(name, false);
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            element(name, false);
        } else if (isTextNode(type) && inItem && inText) {
            const char* text = reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
            const qsizetype length = text ? qsizetype(std::strlen(text)) : 0;
            budget.addCharacters(length);
            current.append(text, length);
        }
    });
    return strings;
}

std::optional<qint64> decimalInteger(const QByteArray& text)
{
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

char16_t unitOf(QChar c)
{
    return c.unicode();
}

char16_t unitOf(char c)
{
    return static_cast<unsigned char>(c);
}

template<typename Units>
std::optional<CellPosition> positionOf(const Units& reference)
{
    qint64 column = 0;
    qint64 row = 0;
    bool digits = false;
    for (const auto unit : reference) {
        char16_t u = unitOf(unit);
        if (u >= 'a' && u <= 'z')
            u = char16_t(u - 'a' + 'A');
        if (u >= 'A' && u <= 'Z' && !digits) {
            column = column * 26 + (u - 'A' + 1);
            if (column > maximumSheetColumns)
                return std::nullopt;
        } else if (u >= '0' && u <= '9') {
            digits = true;
            row = row * 10 + (u - '0');
            if (row > maximumSheetRows)
                return std::nullopt;
        }
    }
    if (column == 0 || !digits)
        return std::nullopt;
    return CellPosition{column - 1, row - 1};
}

// The cells of one worksheet, read as its events come.
class SheetParser {
public:
    SheetParser(const QStringList& shared, const QHash<int, NumberFormat>& formats, bool use1904, Budget& budget)
        : m_shared(shared), m_formats(formats), m_use1904(use1904), m_budget(budget),
          m_cellsBefore(budget.cells)
    {
    }

    void start(xmlTextReader* reader, const xmlChar* name)
    {
        if (isNamed(name, "row")) {
            const auto number = decimalInteger(attributeBytes(reader, "r"));
            const qint64 row = number && *number <= maximumSheetRows ? *number : m_rowIndex + 2;
            m_rowIndex = row - 1;
            m_nextColumn = 0;
        } else if (isNamed(name, "c")) {
            m_cellReference.reset();
            m_cellType = "n";
            m_cellStyle = 0;
            // Read in place: no copies of the attribute values.
            for (int more = xmlTextReaderMoveToFirstAttribute(reader); more == 1;
                 more = xmlTextReaderMoveToNextAttribute(reader)) {
                const xmlChar* attributeName = xmlTextReaderConstName(reader);
                const char* value = reinterpret_cast<const char*>(xmlTextReaderConstValue(reader));
                if (isNamed(attributeName, "r"))
                    m_cellReference = QByteArray(value ? value : "");
                else if (isNamed(attributeName, "t"))
                    m_cellType = QByteArray(value ? value : "");
                else if (isNamed(attributeName, "s"))
                    m_cellStyle = decimalInteger(QByteArray::fromRawData(value, value ? qsizetype(std::strlen(value)) : 0)).value_or(0);
            }
            xmlTextReaderMoveToElement(reader);
            m_value.clear();
            m_inline.clear();
            m_hasInline = false;
            m_hasFormula = false;
            m_hasValue = false;
        } else if (isNamed(name, "rPh")) {
            ++m_phoneticDepth;
        } else if (isNamed(name, "f")) {
            m_hasFormula = true;
        } else if (isNamed(name, "v")) {
            m_capturing = &m_value;
            m_hasValue = true;
        } else if (isNamed(name, "t")) {
            // An inline string's reading aid is not its text.
            m_capturing = m_phoneticDepth == 0 ? &m_inline : nullptr;
            m_hasInline = true;
        } else if (isNamed(name, "is")) {
            m_hasInline = true;
        }
    }

    void end(const xmlChar* name)
    {
        if (isNamed(name, "v") || isNamed(name, "t"))
            m_capturing = nullptr;
        else if (isNamed(name, "rPh"))
            m_phoneticDepth = std::max(m_phoneticDepth - 1, 0);
        else if (isNamed(name, "c"))
            finishCell();
    }

    void text(const char* text)
    {
        if (!m_capturing || !text)
            return;
        const qsizetype length = qsizetype(std::strlen(text));
        m_budget.addCharacters(length);
        m_capturing->append(text, length);
    }

    // Every row up to the last, each as wide as the widest.
    QList<QStringList> grid()
    {
        QList<QStringList> rows;
        if (m_maxRow < 0)
            return rows;
        rows.reserve(m_maxRow + 1);
        for (qint64 r = 0; r <= m_maxRow; ++r) {
            QStringList row;
            row.reserve(m_maxColumn + 1);
            if (r < qint64(m_rows.size())) {
                for (QString& cell : m_rows[r])
                    row.append(std::move(cell));
                std::vector<QString>().swap(m_rows[r]);
            }
            while (row.size() <= m_maxColumn)
                row.append(QString());
            rows.append(std::move(row));
        }
        return rows;
    }

    qint64 cellCount() const { return m_maxRow < 0 ? 0 : (m_maxRow + 1) * (m_maxColumn + 1); }
    qint64 formulasWithoutValue() const { return m_formulasWithoutValue; }

private:
    void finishCell()
    {
        CellPosition position{m_nextColumn, m_rowIndex};
        if (m_cellReference) {
            if (const auto parsed = positionOf(QByteArrayView(*m_cellReference)))
                position = *parsed;
        }
        m_nextColumn = position.column + 1;
        m_cellReference.reset();
        // A text result may be empty; a number never is.
        if (m_hasFormula && m_cellType != "inlineStr"
            && (!m_hasValue || (m_value.isEmpty() && m_cellType != "str")))
            ++m_formulasWithoutValue;
        QString text = cellText();
        if (text.isEmpty() || position.row < 0)
            return;
        m_budget.addCellText(text.size());
        const bool fromShared = m_cellType == "s";
        // Running positions past the last row or column describe more than a sheet can hold.
        if (position.row >= maximumSheetRows || position.column >= maximumSheetColumns)
            throw EngineError(SheetLimits::tooLargeMessage);
        if (!fromShared)
            m_interner.intern(text);
        const qint64 maxRow = std::max(m_maxRow, position.row);
        const qint64 maxColumn = std::max(m_maxColumn, position.column);
        // A far cell asks for the whole rectangle up to it.
        if (m_cellsBefore + (maxRow + 1) * (maxColumn + 1) > SheetLimits::maximumCells)
            throw EngineError(SheetLimits::tooLargeMessage);
        m_maxRow = maxRow;
        m_maxColumn = maxColumn;
        if (qint64(m_rows.size()) <= position.row)
            m_rows.resize(position.row + 1);
        std::vector<QString>& row = m_rows[position.row];
        if (qint64(row.size()) <= position.column)
            row.resize(position.column + 1);
        row[position.column] = std::move(text);
    }

    QString cellText() const
    {
        if (m_cellType == "s") {
            const auto index = decimalInteger(m_value);
            return index && *index >= 0 && *index < m_shared.size() ? m_shared[*index] : QString();
        }
        if (m_cellType == "b")
            return m_value == "1" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        // An inline string is its <is>, whatever cached value a writer left beside it.
        if (m_cellType == "inlineStr")
            return unescapedCellText(QString::fromUtf8(m_hasInline ? m_inline : m_value));
        const QString value = QString::fromUtf8(m_value);
        if (m_cellType == "str")
            return unescapedCellText(value);
        if (m_cellType == "e")
            return value;
        if (m_cellType == "d")
            return isoDateCellText(value);
        if (value.isEmpty())
            return m_hasInline ? QString::fromUtf8(m_inline) : value;
        if (const auto format = m_formats.constFind(int(m_cellStyle)); format != m_formats.cend()) {
            const auto serial = parseDecimalNumber(value);
            if (serial && format->kind == NumberFormat::Kind::elapsed && std::fabs(*serial) < lastDateSerial)
                return excelElapsedText(*serial, format->code);
            if (serial && *serial >= 0 && *serial < lastDateSerial)
                return format->kind == NumberFormat::Kind::time ? excelTimeText(*serial)
                                                                : excelDateText(*serial, m_use1904);
        }
        return numberText(value);
    }

    const QStringList& m_shared;
    const QHash<int, NumberFormat>& m_formats;
    bool m_use1904;
    Budget& m_budget;
    qint64 m_cellsBefore;
    std::vector<std::vector<QString>> m_rows;
    TextInterner m_interner;
    qint64 m_maxRow = -1;
    qint64 m_maxColumn = -1;
    std::optional<QByteArray> m_cellReference;
    QByteArray m_cellType;
    qint64 m_cellStyle = 0;
    QByteArray m_value;  // of <v>
    QByteArray m_inline; // of <t> runs, in <is> or loose
    bool m_hasInline = false;
    bool m_hasFormula = false;
    bool m_hasValue = false;
    qint64 m_formulasWithoutValue = 0;
    QByteArray* m_capturing = nullptr;
    int m_phoneticDepth = 0;
    qint64 m_rowIndex = -1;
    qint64 m_nextColumn = 0;
};

std::optional<Sheet> parseWorksheet(ZipPackageReader::Entry& entry,
                                                 const QStringList& shared,
                                                 const QHash<int, NumberFormat>& formats, bool use1904,
                                                 Budget& budget)
{
    SheetParser parser(shared, formats, use1904, budget);
    const bool wellFormed = walkPart(entry, [&](xmlTextReader* reader, int type) {
        const xmlChar* name = xmlTextReaderConstLocalName(reader);
        if ((type == XML_READER_TYPE_ELEMENT || type == XML_READER_TYPE_END_ELEMENT) && !isSpreadsheetElement(reader))
            return;
        if (type == XML_READER_TYPE_ELEMENT) {
            parser.start(reader, name);
            if (xmlTextReaderIsEmptyElement(reader))
                parser.end(name);
        } else if (type == XML_READER_TYPE_END_ELEMENT) {
            parser.end(name);
        } else if (isTextNode(type)) {
            parser.text(reinterpret_cast<const char*>(xmlTextReaderConstValue(reader)));
        }
    });
    if (!wellFormed)
        return std::nullopt;
    budget.cells += parser.cellCount();
    return Sheet{QString(), parser.grid(), parser.formulasWithoutValue()};
}

// A part name as the package's parts and the relationships' targets are matched: "/" for
// "\", no leading "/" or "./", lower-cased. Escapes are undone by the caller, once.
QString normalizedPart(QString name)
{
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = QDir::cleanPath(name);
    while (name.startsWith(QLatin1Char('/')))
        name.remove(0, 1);
    if (name.startsWith(QLatin1String("./")))
        name.remove(0, 2);
    return name.toLower();
}

// The key of a package entry: writers store part names percent-escaped or not.
QString partKey(const QString& entryName)
{
    return normalizedPart(QUrl::fromPercentEncoding(entryName.toUtf8()));
}

// A target as a part's key: absolute from the package's root, relative from the folder of the
// part that names it.
QString resolvedPart(const QString& sourcePart, const QString& target)
{
    QString decoded = QUrl::fromPercentEncoding(target.toUtf8());
    decoded.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (decoded.startsWith(QLatin1Char('/')))
        return normalizedPart(decoded);
    const qsizetype slash = sourcePart.lastIndexOf(QLatin1Char('/'));
    return normalizedPart((slash < 0 ? QString() : sourcePart.left(slash + 1)) + decoded);
}

// The parts [Content_Types].xml declares with a content type that ends with one of the
// suffixes, in the order of the suffixes.
QStringList partsOfContentType(const QByteArray& contentTypes, const QStringList& suffixes)
{
    QStringList parts;
    const DocPtr doc = parseDocument(contentTypes);
    if (!doc)
        return parts;
    const QList<xmlNode*> overrides = nodesForXPath(doc.get(), "//*[local-name()='Override']");
    for (const QString& suffix : suffixes) {
        for (xmlNode* node : overrides) {
            const auto name = attribute(node, "PartName");
            if (name && attribute(node, "ContentType").value_or(QString()).endsWith(suffix, Qt::CaseInsensitive))
                parts.append(resolvedPart(QString(), *name));
        }
    }
    return parts;
}

struct Relationships {
    QHash<QString, QString> byId;
    // The last word of the relationship's type ("officeDocument", "sharedStrings") to the first
    // part of that type.
    QHash<QString, QString> byType;
};

// The relationships of a part (the package's own for an empty name), read from the part's
// "_rels" neighbour among the relationship parts.
Relationships relationshipTargets(const QHash<QString, QByteArray>& relationshipParts, const QString& part)
{
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : part.left(slash + 1);
    const QString name = slash < 0 ? part : part.mid(slash + 1);
    Relationships result;
    const DocPtr doc = parseDocument(relationshipParts.value(folder + QStringLiteral("_rels/") + name + QStringLiteral(".rels")));
    if (!doc)
        return result;
    for (xmlNode* node : nodesForXPath(doc.get(), "//*[local-name()='Relationship']")) {
        const auto id = attribute(node, "Id");
        const auto target = attribute(node, "Target");
        if (!target || attribute(node, "TargetMode").value_or(QString()) == QLatin1String("External"))
            continue;
        const QString resolved = resolvedPart(part, *target);
        if (id)
            result.byId.insert(*id, resolved);
        const QString type = attribute(node, "Type").value_or(QString());
        const QString word = type.mid(type.lastIndexOf(QLatin1Char('/')) + 1);
        if (!word.isEmpty() && !result.byType.contains(word))
            result.byType.insert(word, resolved);
    }
    return result;
}

struct SheetEntry {
    QString name;
    QString part; // lower-cased path inside the package
};

} // namespace

std::optional<CellPosition> cellPosition(QStringView reference)
{
    return positionOf(reference);
}

QString excelDateText(double serial, bool use1904)
{
    // Shown to the second, as spreadsheets show them.
    const qint64 seconds = std::llround(serial * 86'400.0);
    const qint64 days = seconds / 86'400;
    const QString time = QTime(0, 0).addSecs(int(seconds % 86'400)).toString(u"HH:mm:ss");
    if (serial < 1.0)
        return time;
    QString date;
    if (!use1904 && days == 60) {
        // Lotus counted 1900 as a leap year, and Excel kept the day for its serials.
        date = QStringLiteral("1900-02-29");
    } else {
        const QDate reference = use1904 ? QDate(1904, 1, 1)
                                        : (days < 60 ? QDate(1899, 12, 31) : QDate(1899, 12, 30));
        date = reference.addDays(days).toString(u"yyyy-MM-dd");
    }
    if (seconds % 86'400 != 0)
        return date + QLatin1Char(' ') + time;
    return date;
}

QString excelTimeText(double serial)
{
    const qint64 seconds = std::llround(serial * 86'400.0) % 86'400;
    return QTime(0, 0).addSecs(int(seconds)).toString(u"HH:mm:ss");
}

namespace {

// One piece of a format code as the time formats read it.
struct TimeToken {
    enum class Kind { literal, hours, minutes, seconds, fraction } kind = Kind::literal;
    bool elapsed = false; // "[h]": counts past the day or the hour
    int width = 0;
    QString text;
};

// The first section of a format code as pieces; quoted text, escapes and colours are handled
// as spreadsheets handle them.
QList<TimeToken> timeTokens(QStringView code)
{
    QList<TimeToken> tokens;
    auto literal = [&](QStringView text) {
        if (tokens.isEmpty() || tokens.last().kind != TimeToken::Kind::literal)
            tokens.append(TimeToken{});
        tokens.last().text += text;
    };
    auto unitKind = [](QChar c) {
        switch (c.toLower().unicode()) {
        case 'h': return TimeToken::Kind::hours;
        case 'm': return TimeToken::Kind::minutes;
        case 's': return TimeToken::Kind::seconds;
        default: return TimeToken::Kind::literal;
        }
    };
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (c == QLatin1Char(';'))
            break;
        if (c == QLatin1Char('"')) {
            const qsizetype close = code.indexOf(QLatin1Char('"'), i + 1);
            const qsizetype end = close < 0 ? code.size() : close;
            literal(code.mid(i + 1, end - i - 1));
            i = end;
        } else if (c == QLatin1Char('\\') && i + 1 < code.size()) {
            literal(code.mid(++i, 1));
        } else if (c == QLatin1Char('_') && i + 1 < code.size()) {
            literal(u" ");
            ++i;
        } else if (c == QLatin1Char('*') && i + 1 < code.size()) {
            ++i;
        } else if (c == QLatin1Char('[')) {
            const qsizetype close = code.indexOf(QLatin1Char(']'), i + 1);
            if (close < 0)
                break;
            const QStringView inside = code.mid(i + 1, close - i - 1);
            const auto kind = inside.isEmpty() ? TimeToken::Kind::literal : unitKind(inside.front());
            bool same = kind != TimeToken::Kind::literal;
            for (const QChar u : inside)
                same = same && u.toLower() == inside.front().toLower();
            if (same) // colours and locales show nothing
                tokens.append(TimeToken{kind, true, int(inside.size()), {}});
            i = close;
        } else if (unitKind(c) != TimeToken::Kind::literal) {
            qsizetype end = i + 1;
            while (end < code.size() && code[end].toLower() == c.toLower())
                ++end;
            tokens.append(TimeToken{unitKind(c), false, int(end - i), {}});
            i = end - 1;
        } else if (c == QLatin1Char('.') && i + 1 < code.size() && code[i + 1] == QLatin1Char('0')
                   && !tokens.isEmpty() && tokens.last().kind == TimeToken::Kind::seconds) {
            qsizetype end = i + 1;
            while (end < code.size() && code[end] == QLatin1Char('0'))
                ++end;
            tokens.append(TimeToken{TimeToken::Kind::fraction, false, int(std::min<qsizetype>(end - i - 1, 3)), {}});
            i = end - 1;
        } else {
            literal(code.mid(i, 1));
        }
    }
    return tokens;
}

// The code without quoted text, escapes and bracketed sections, lower-cased: the letters left
// say what the format shows.
QString formatLetters(QStringView code)
{
    static const QRegularExpression literals(QStringLiteral("\\[[^\\]]*\\]|\"[^\"]*\"|\\\\.|_.|\\*."));
    QString cleaned = code.toString();
    cleaned.remove(literals);
    return cleaned.toLower();
}

} // namespace

QString excelElapsedText(double serial, QStringView formatCode)
{
    const QList<TimeToken> tokens = timeTokens(formatCode);
    int digits = 0;
    TimeToken::Kind largest = TimeToken::Kind::seconds;
    for (const TimeToken& token : tokens) {
        if (token.kind == TimeToken::Kind::fraction)
            digits = std::max(digits, token.width);
        if (token.elapsed && token.kind < largest)
            largest = token.kind;
    }
    qint64 scale = 1;
    for (int i = 0; i < digits; ++i)
        scale *= 10;
    const qint64 units = std::llround(std::fabs(serial) * 86'400.0 * double(scale));
    const qint64 seconds = units / scale;
    auto padded = [](qint64 value, int width) { return QString::number(value).rightJustified(width, QLatin1Char('0')); };
    QString text = serial < 0 && units > 0 ? QStringLiteral("-") : QString();
    for (const TimeToken& token : tokens) {
        switch (token.kind) {
        case TimeToken::Kind::literal: text += token.text; break;
        case TimeToken::Kind::hours:
            text += padded(largest == TimeToken::Kind::hours ? seconds / 3600 : (seconds / 3600) % 24, std::min(token.width, 2));
            break;
        case TimeToken::Kind::minutes:
            text += padded(largest == TimeToken::Kind::minutes ? seconds / 60 : (seconds / 60) % 60, std::min(token.width, 2));
            break;
        case TimeToken::Kind::seconds:
            text += padded(largest == TimeToken::Kind::seconds ? seconds : seconds % 60, std::min(token.width, 2));
            break;
        case TimeToken::Kind::fraction:
            text += QLatin1Char('.') + padded(units % scale, digits).left(token.width);
            break;
        }
    }
    return text;
}

std::optional<NumberFormat::Kind> numberFormatKind(QStringView formatCode)
{
    static const QRegularExpression elapsedUnit(QStringLiteral("\\[(?:h+|m+|s+)\\]"),
                                                QRegularExpression::CaseInsensitiveOption);
    const qsizetype end = formatCode.indexOf(QLatin1Char(';'));
    const QStringView first = end < 0 ? formatCode : formatCode.left(end);
    const QString letters = formatLetters(first);
    if (letters.contains(QLatin1Char('d')) || letters.contains(QLatin1Char('y')))
        return NumberFormat::Kind::date;
    if (elapsedUnit.match(first).hasMatch())
        return NumberFormat::Kind::elapsed;
    if (letters.contains(QLatin1Char('h')) || letters.contains(QLatin1Char('s')))
        return NumberFormat::Kind::time;
    if (letters.contains(QLatin1Char('m'))) // months alone
        return NumberFormat::Kind::date;
    return std::nullopt;
}

namespace {

// Whether text is already what numberText would print: plain digits with at most 15
// significant ones, no leading or trailing zeros, no exponent "%.15g" would choose, not "-0".
bool isCanonicalNumber(QStringView text)
{
    QStringView body = text;
    const bool negative = body.startsWith(QLatin1Char('-'));
    if (negative)
        body = body.mid(1);
    const qsizetype point = body.indexOf(QLatin1Char('.'));
    const QStringView whole = point < 0 ? body : body.left(point);
    const QStringView fraction = point < 0 ? QStringView() : body.mid(point + 1);
    auto digitsOnly = [](QStringView part) {
        for (const QChar c : part)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        return true;
    };
    if (whole.isEmpty() || !digitsOnly(whole) || !digitsOnly(fraction))
        return false;
    if (whole.size() > 1 && whole.front() == QLatin1Char('0'))
        return false;
    if (point >= 0 && (fraction.isEmpty() || fraction.back() == QLatin1Char('0')))
        return false;
    const bool zeroWhole = whole == QLatin1String("0");
    if (zeroWhole && fraction.isEmpty())
        return !negative;
    qsizetype leadingZeros = 0;
    if (zeroWhole) {
        while (leadingZeros < fraction.size() && fraction[leadingZeros] == QLatin1Char('0'))
            ++leadingZeros;
        if (leadingZeros >= 4) // "%.15g" writes 0.00001 as 1e-05
            return false;
    }
    const qsizetype significant = (zeroWhole ? 0 : whole.size()) + fraction.size() - leadingZeros;
    return significant <= 15;
}

} // namespace

QString numberText(const QString& text)
{
    if (isCanonicalNumber(text))
        return text;
    const auto value = parseDecimalNumber(text);
    if (!value)
        return text;
    if (std::isfinite(*value) && *value == std::floor(*value) && std::fabs(*value) < 1e15)
        return QString::number(qint64(*value));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", *value);
    QString printed = QString::fromLatin1(buffer);
    if (printed.contains(QLatin1Char('e')))
        return printed;
    if (printed.contains(QLatin1Char('.'))) {
        while (printed.endsWith(QLatin1Char('0')))
            printed.chop(1);
        if (printed.endsWith(QLatin1Char('.')))
            printed.chop(1);
    }
    return printed;
}

QHash<int, NumberFormat> numberFormatStyles(const QByteArray& stylesXml)
{
    QHash<int, NumberFormat> styles;
    const DocPtr doc = parseDocument(stylesXml);
    if (!doc)
        return styles;
    using Kind = NumberFormat::Kind;
    QHash<int, NumberFormat> formats;
    for (int id : {14, 15, 16, 17, 22})
        formats.insert(id, {Kind::date, {}});
    for (int id : {18, 19, 20, 21, 45, 47})
        formats.insert(id, {Kind::time, {}});
    formats.insert(46, {Kind::elapsed, QStringLiteral("[h]:mm:ss")});
    for (xmlNode* node :
         nodesForXPath(doc.get(), "//*[local-name()='numFmts']/*[local-name()='numFmt']")) {
        const auto id = integerAttribute(node, "numFmtId");
        const auto code = attribute(node, "formatCode");
        if (!id || !code)
            continue;
        if (const auto kind = numberFormatKind(*code))
            formats.insert(*id, {*kind, *code});
        else
            formats.remove(*id);
    }
    int k = 0;
    for (xmlNode* node : nodesForXPath(doc.get(), "//*[local-name()='cellXfs']/*[local-name()='xf']")) {
        const auto id = integerAttribute(node, "numFmtId");
        if (id && formats.contains(*id))
            styles.insert(k, formats.value(*id));
        ++k;
    }
    return styles;
}

QSet<int> dateStyleIndexes(const QByteArray& stylesXml)
{
    const QHash<int, NumberFormat> styles = numberFormatStyles(stylesXml);
    return QSet<int>(styles.keyBegin(), styles.keyEnd());
}

QList<Sheet> readXLSX(const QString& path, std::stop_token stop)
{
    if (OfficeEncryption::isEncryptedPackage(path))
        throw EngineError(OfficeEncryption::passwordProtectedMessage);
    ZipPackageReader package(path, {damagedMessage, SheetLimits::tooLargeMessage}, stop);
    Budget budget;

    // First pass: the relationships and the content types, which say where the workbook and
    // its parts are. Writers name them as they like and point at them by absolute or relative
    // targets; some leave the package's relationships out and only declare the types.
    QHash<QString, QByteArray> relationshipParts;
    QByteArray contentTypes;
    QSet<QString> partNames;
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        const QString key = partKey(name);
        partNames.insert(key);
        if (key.endsWith(QLatin1String(".rels")))
            relationshipParts.insert(key, entry.readAll(maximumPartBytes));
        else if (key == QLatin1String("[content_types].xml"))
            contentTypes = entry.readAll(maximumPartBytes);
    });
    // The first candidate the package holds, else the first.
    const auto present = [&](const QStringList& candidates) {
        for (const QString& candidate : candidates)
            if (!candidate.isEmpty() && partNames.contains(candidate))
                return candidate;
        return candidates.value(0);
    };
    const auto relationships = [&](const QString& part) { return relationshipTargets(relationshipParts, part); };
    const QString workbookPart = present(
        QStringList{relationships(QString()).byType.value(QStringLiteral("officeDocument"))}
        + partsOfContentType(contentTypes, {QStringLiteral(".sheet.main+xml"), QStringLiteral(".template.main+xml"),
                                            QStringLiteral(".sheet.macroEnabled.main+xml"),
                                            QStringLiteral(".template.macroEnabled.main+xml")})
        + QStringList{QStringLiteral("xl/workbook.xml")});
    const Relationships fromWorkbook = relationships(workbookPart);
    const QString stylesPart = present(
        QStringList{fromWorkbook.byType.value(QStringLiteral("styles")), resolvedPart(workbookPart, QStringLiteral("styles.xml"))}
        + partsOfContentType(contentTypes, {QStringLiteral(".styles+xml")}));
    const QString sharedPart = present(
        QStringList{fromWorkbook.byType.value(QStringLiteral("sharedStrings")),
                    resolvedPart(workbookPart, QStringLiteral("sharedStrings.xml"))}
        + partsOfContentType(contentTypes, {QStringLiteral(".sharedStrings+xml")}));

    // Second pass: the small parts, and the shared strings as they stream by.
    QByteArray workbookXml;
    QByteArray stylesXml;
    QStringList shared;
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        const QString key = partKey(name);
        if (key == workbookPart)
            workbookXml = entry.readAll(maximumPartBytes);
        else if (key == stylesPart)
            stylesXml = entry.readAll(maximumPartBytes);
        else if (key == sharedPart)
            shared = parseSharedStrings(entry, budget);
    });

    const DocPtr workbook = parseDocument(workbookXml);
    if (!workbook)
        throw EngineError(notWorkbookMessage);

    const QHash<int, NumberFormat> formats = numberFormatStyles(stylesXml);
    bool use1904 = false;
    if (const QList<xmlNode*> flag =
            nodesForXPath(workbook.get(), "//*[local-name()='workbookPr']/@date1904");
        !flag.isEmpty()) {
        const QString text = nodeText(flag.first());
        use1904 = text == QLatin1String("1") || text == QLatin1String("true");
    }

    QList<SheetEntry> entries;
    int i = 0;
    for (xmlNode* node :
         nodesForXPath(workbook.get(), "//*[local-name()='sheets']/*[local-name()='sheet']")) {
        ++i;
        SheetEntry entry;
        entry.name = attribute(node, "name").value_or(QStringLiteral("Sheet") + QString::number(i));
        const QString numbered =
            resolvedPart(workbookPart, QStringLiteral("worksheets/sheet") + QString::number(i) + QLatin1String(".xml"));
        const auto id = attribute(node, "id");
        entry.part = id && fromWorkbook.byId.contains(*id) ? present({fromWorkbook.byId.value(*id), numbered}) : numbered;
        entries.append(entry);
    }

    // Second pass: each worksheet part that a sheet names, in the package's order.
    QHash<QString, std::optional<Sheet>> grids;
    for (const SheetEntry& entry : entries)
        grids.insert(entry.part, std::nullopt);
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        const QString key = partKey(name);
        const auto found = grids.find(key);
        if (found == grids.end() || found->has_value())
            return;
        *found = parseWorksheet(entry, shared, formats, use1904, budget);
    });
    shared.clear();

    QList<Sheet> sheets;
    for (const SheetEntry& entry : entries) {
        const auto& grid = grids.value(entry.part);
        if (grid)
            sheets.append(Sheet{entry.name, grid->rows, grid->formulasWithoutValue});
    }
    if (sheets.isEmpty())
        throw EngineError(noSheetsMessage);
    return sheets;
}

} // namespace qv
