#include "documents/readers/PandocInput.h"

#include "documents/readers/RtfDecoder.h"
#include "documents/readers/ZipPackageReader.h"
#include "documents/styles/OpenDocumentStyleReader.h"
#include "documents/styles/RtfStyleReader.h"
#include "documents/styles/WordStyleReader.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QUuid>
#include <QXmlStreamReader>

#include <cerrno>

namespace qv {
namespace {

constexpr qint64 partLimit = 256LL * 1024 * 1024;

QString freshPath(const QString& workFolder, const QString& ext)
{
    return QDir(workFolder).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper()
                                     + QStringLiteral("-source.") + ext);
}

void writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw SystemError::fromErrno(EEXIST, QStringLiteral("Cannot create ") + path);
    if (out.write(bytes) != bytes.size() || !out.flush()) {
        const int error = errno ? errno : EIO;
        out.close();
        QFile::remove(path);
        throw SystemError::fromErrno(error, QStringLiteral("Cannot write ") + path);
    }
    out.close();
}

// A Word border that shows: not nil or none, and not of zero width.
bool wordBorderShows(const QXmlStreamAttributes& attributes)
{
    const QString value = attributes.value(QLatin1String("w:val")).toString();
    if (value.isEmpty() || value == QLatin1String("nil") || value == QLatin1String("none"))
        return false;
    const QString size = attributes.value(QLatin1String("w:sz")).toString();
    return size.isEmpty() || size.toInt() > 0;
}

constexpr int horizontal = 1;
constexpr int vertical = 2;

int borderSide(QStringView element)
{
    static const QStringList across{QStringLiteral("w:top"), QStringLiteral("w:bottom"), QStringLiteral("w:insideH")};
    static const QStringList down{QStringLiteral("w:left"), QStringLiteral("w:right"), QStringLiteral("w:start"),
                                  QStringLiteral("w:end"), QStringLiteral("w:insideV")};
    if (across.contains(element))
        return horizontal;
    if (down.contains(element))
        return vertical;
    return 0;
}

// Start and end (one past) of the first element named tag at or after from, nested ones counted.
std::optional<std::pair<qsizetype, qsizetype>> elementSpan(const QByteArray& xml, const QByteArray& tag, qsizetype from)
{
    const QByteArray open = '<' + tag;
    const QByteArray close = "</" + tag + '>';
    qsizetype start = from;
    for (;;) {
        start = xml.indexOf(open, start);
        if (start < 0)
            return std::nullopt;
        const char after = start + open.size() < xml.size() ? xml[start + open.size()] : '>';
        if (after == ' ' || after == '>' || after == '/' || after == '\n' || after == '\t' || after == '\r')
            break;
        start += open.size();
    }
    const qsizetype tagEnd = xml.indexOf('>', start);
    if (tagEnd < 0)
        return std::nullopt;
    if (xml[tagEnd - 1] == '/')
        return std::make_pair(start, tagEnd + 1);
    int depth = 1;
    qsizetype at = tagEnd + 1;
    while (depth > 0) {
        const qsizetype nextOpen = xml.indexOf(open, at);
        const qsizetype nextClose = xml.indexOf(close, at);
        if (nextClose < 0)
            return std::nullopt;
        if (nextOpen >= 0 && nextOpen < nextClose) {
            const qsizetype openEnd = xml.indexOf('>', nextOpen);
            const char after = nextOpen + open.size() < xml.size() ? xml[nextOpen + open.size()] : '>';
            if ((after == ' ' || after == '>' || after == '\n' || after == '\t' || after == '\r') && openEnd > 0
                && xml[openEnd - 1] != '/')
                ++depth;
            at = nextOpen + open.size();
        } else {
            --depth;
            at = nextClose + close.size();
        }
    }
    return std::make_pair(start, at);
}

// Page breaks as runs and as paragraphs that begin a page.
QByteArray markPageBreaks(const QByteArray& documentXml)
{
    static const QRegularExpression pageBreak(QStringLiteral("<w:br\\b[^>]*w:type=\"page\"[^>]*/>"));
    static const QRegularExpression breakBefore(
        QStringLiteral("(<w:pPr>(?:(?!</w:pPr>).)*<w:pageBreakBefore(?:\\s+w:val=\"(?:1|true|on)\")?\\s*/>(?:(?!</w:pPr>).)*</w:pPr>)"),
        QRegularExpression::DotMatchesEverythingOption);
    if (!documentXml.contains("w:type=\"page\"") && !documentXml.contains("<w:pageBreakBefore"))
        return documentXml;
    QString text = QString::fromUtf8(documentXml);
    text.replace(pageBreak, QStringLiteral("<w:t>&#xE00C;</w:t>"));
    text.replace(breakBefore, QStringLiteral("\\1<w:r><w:t>&#xE00C;</w:t></w:r>"));
    return text.toUtf8();
}

// When the file was last saved, as its properties state it.
std::optional<QDateTime> savedDate(const QByteArray& coreXml)
{
    static const QRegularExpression modified(QStringLiteral("<dcterms:modified[^>]*>([^<]+)</dcterms:modified>"));
    const QRegularExpressionMatch m = modified.match(QString::fromUtf8(coreXml));
    if (!m.hasMatch())
        return std::nullopt;
    const QDateTime when = QDateTime::fromString(m.captured(1).trimmed(), Qt::ISODate);
    return when.isValid() ? std::optional<QDateTime>(when) : std::nullopt;
}

// SAVEDATE fields show the date the file was saved, as Word and LibreOffice show them when the
// document is printed, not the result stored when the field last ran. Only date pictures made
// of days, months and years are rewritten.
QByteArray updateSaveDates(const QByteArray& documentXml, const std::optional<QDateTime>& saved)
{
    if (!saved || !documentXml.contains("SAVEDATE"))
        return documentXml;
    static const QRegularExpression field(QStringLiteral(
        "(<w:instrText[^>]*>\\s*SAVEDATE(?:\\s+\\\\@\\s+&quot;([^&<]*)&quot;|\\s+\\\\@\\s+\"([^\"<]*)\")?[^<]*</w:instrText>"
        "(?:(?!w:fldCharType=\"separate\").)*w:fldCharType=\"separate\"/>)"
        "((?:(?!w:fldCharType=\"end\").)*)"),
        QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression picture(QStringLiteral("^[dMy ,./\\-]+$"));
    static const QRegularExpression texts(QStringLiteral("(<w:t(?:\\s[^>]*)?>)[^<]*(</w:t>)"));
    const QString xml = QString::fromUtf8(documentXml);
    QString out;
    qsizetype last = 0;
    for (auto it = field.globalMatch(xml); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QString format = !m.captured(2).isEmpty() ? m.captured(2) : m.captured(3);
        if (format.isEmpty())
            format = QStringLiteral("M/d/yyyy");
        if (!picture.match(format).hasMatch())
            continue;
        const QString date = QLocale(QLocale::English, QLocale::UnitedStates).toString(saved->date(), format);
        QString result = m.captured(4);
        bool first = true;
        QString rewritten;
        qsizetype at = 0;
        for (auto t = texts.globalMatch(result); t.hasNext();) {
            const QRegularExpressionMatch text = t.next();
            rewritten += QStringView(result).mid(at, text.capturedStart() - at);
            rewritten += text.captured(1) + (first ? date.toHtmlEscaped() : QString()) + text.captured(2);
            first = false;
            at = text.capturedEnd();
        }
        if (first)
            continue;
        rewritten += QStringView(result).mid(at);
        out += QStringView(xml).mid(last, m.capturedStart(4) - last);
        out += rewritten;
        last = m.capturedEnd(4);
    }
    if (last == 0)
        return documentXml;
    out += QStringView(xml).mid(last);
    return out.toUtf8();
}

// Paragraphs whose style begins a page start with a page mark.
QByteArray markOpenDocumentPageBreaks(const QByteArray& contentXml, const QByteArray& stylesXml)
{
    QStringList breaking;
    for (const QByteArray* xml : {&stylesXml, &contentXml}) {
        QXmlStreamReader reader(*xml);
        QString current;
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (!reader.isStartElement())
                continue;
            if (reader.qualifiedName() == QLatin1String("style:style"))
                current = reader.attributes().value(QLatin1String("style:name")).toString();
            else if (reader.qualifiedName() == QLatin1String("style:paragraph-properties") && !current.isEmpty()
                     && reader.attributes().value(QLatin1String("fo:break-before")) == QLatin1String("page"))
                breaking.append(current);
        }
    }
    if (breaking.isEmpty())
        return contentXml;
    QString text = QString::fromUtf8(contentXml);
    static const QRegularExpression paragraph(QStringLiteral("<text:(?:p|h)\\b[^>]*\\btext:style-name=\"([^\"]*)\"[^>]*(?<!/)>"));
    QString marked;
    qsizetype last = 0;
    for (auto it = paragraph.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (!breaking.contains(m.captured(1)))
            continue;
        marked += QStringView(text).mid(last, m.capturedEnd() - last);
        marked += QChar(RtfDecoder::pageMark);
        last = m.capturedEnd();
    }
    marked += QStringView(text).mid(last);
    return marked.toUtf8();
}

std::optional<QString> propertyTitle(const QByteArray& xml)
{
    QXmlStreamReader reader(xml);
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("title")
            && reader.namespaceUri() == QLatin1String("http://purl.org/dc/elements/1.1/")) {
            const QString title = reader.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
            if (title.isEmpty())
                return std::nullopt;
            return title;
        }
    }
    return std::nullopt;
}

// The parts of a package that are looked into; the others stay in the file.
struct PackageParts {
    QHash<QString, QByteArray> parts;
    QByteArray part(const QString& name) const { return parts.value(name); }
};

const QString brokenPackage = QStringLiteral("broken");
const QString outsizedPackage = QStringLiteral("outsized");

// Every part is inflated once, so a damaged one (a bad checksum, data that does not inflate)
// is found here: pandoc would leave it out, or read what it could of it, and say nothing.
PackageParts readPackage(const QString& file, const QStringList& wanted, std::stop_token stop)
{
    PackageParts parts;
    ZipPackageReader package(file, {brokenPackage, outsizedPackage}, stop);
    QByteArray buffer(64 * 1024, Qt::Uninitialized);
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        if (wanted.contains(name)) {
            parts.parts.insert(name, entry.readAll(partLimit));
            return;
        }
        while (entry.read(buffer.data(), buffer.size()) > 0) {
        }
    });
    return parts;
}

// The package again at a fresh path in the work folder, one part changed, an ODT's mimetype
// kept first and stored.
QString writePackage(const QString& file, const QString& workFolder, const QString& ext, const QString& changed,
                     const QByteArray& bytes, std::stop_token stop)
{
    const QString path = freshPath(workFolder, ext);
    ZipPackageWriter writer(path, stop);
    ZipPackageReader package(file, {brokenPackage, brokenPackage}, stop);
    package.forEachEntry([&](const QString& name, ZipPackageReader::Entry& entry) {
        if (name == changed)
            writer.add(name, bytes, ZipPackageWriter::Method::deflated);
        else
            writer.add(name, entry.readAll(partLimit),
                       name == QLatin1String("mimetype") ? ZipPackageWriter::Method::stored : ZipPackageWriter::Method::deflated);
    });
    writer.finish();
    return path;
}

// The original when the package cannot be read again (pandoc then says why).
QString rewritePackage(const QString& file, const QString& workFolder, const QString& ext, const QString& changed,
                       const QByteArray& bytes, std::stop_token stop)
{
    try {
        return writePackage(file, workFolder, ext, changed, bytes, stop);
    } catch (const EngineError&) {
        return file;
    }
}

// Cell borders both across and down somewhere in the file.
bool isMarkedRtfBorder(const QByteArray& rtf)
{
    static const QRegularExpression across(QStringLiteral("\\\\clbrdr[tb]\\s*\\\\brdr(?!nil|none)[a-z]"));
    static const QRegularExpression down(QStringLiteral("\\\\clbrdr[lr]\\s*\\\\brdr(?!nil|none)[a-z]"));
    const QString text = QString::fromLatin1(rtf);
    return across.match(text).hasMatch() && down.match(text).hasMatch();
}

} // namespace

QByteArray PandocInput::liftTextBoxes(const QByteArray& documentXml)
{
    QByteArray xml = documentXml;
    static const QList<QByteArray> holders{"mc:AlternateContent", "w:drawing", "w:pict", "w:object"};
    // Nothing before done holds a box: the boxes moved out land after it.
    qsizetype done = 0;
    // Each lift moves the rest of the part; a file of thousands of boxes keeps the later ones.
    constexpr int mostBoxes = 500;
    for (int pass = 0; pass < mostBoxes; ++pass) {
        const qsizetype box = xml.indexOf("<w:txbxContent", done);
        if (box < 0)
            break;
        // The outermost holder of the first box.
        std::optional<std::pair<qsizetype, qsizetype>> holder;
        for (const QByteArray& tag : holders) {
            qsizetype from = done;
            while (auto span = elementSpan(xml, tag, from)) {
                if (span->first > box)
                    break;
                if (span->second > box) {
                    if (!holder || span->first < holder->first)
                        holder = span;
                    break;
                }
                from = span->second;
            }
        }
        const auto content = elementSpan(xml, "w:txbxContent", box);
        if (!holder || !content) {
            // A box outside any holder we know stays where it is.
            done = box + 1;
            continue;
        }
        const qsizetype innerStart = xml.indexOf('>', content->first) + 1;
        const qsizetype innerEnd = content->second - QByteArrayLiteral("</w:txbxContent>").size();
        const QByteArray inner = innerEnd > innerStart ? xml.mid(innerStart, innerEnd - innerStart) : QByteArray();
        xml.remove(holder->first, holder->second - holder->first);
        const qsizetype paragraphEnd = xml.indexOf("</w:p>", holder->first);
        if (paragraphEnd < 0)
            break;
        xml.insert(paragraphEnd + 6, inner);
        done = holder->first;
    }
    return xml;
}

QList<bool> PandocInput::wordTableBorders(const QByteArray& documentXml, const QByteArray& stylesXml)
{
    struct Style {
        QString basedOn;
        std::optional<int> borders; // sides that show
    };
    QHash<QString, Style> styles;
    QString defaultStyle;
    {
        QXmlStreamReader reader(stylesXml);
        QString current;
        bool inTablePr = false;
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            const QStringView name = reader.qualifiedName();
            if (reader.isStartElement()) {
                if (name == QLatin1String("w:style")) {
                    current.clear();
                    if (reader.attributes().value(QLatin1String("w:type")) == QLatin1String("table")) {
                        current = reader.attributes().value(QLatin1String("w:styleId")).toString();
                        styles.insert(current, {});
                        const QStringView isDefault = reader.attributes().value(QLatin1String("w:default"));
                        if (isDefault == QLatin1String("1") || isDefault == QLatin1String("true"))
                            defaultStyle = current;
                    }
                } else if (current.isEmpty()) {
                    continue;
                } else if (name == QLatin1String("w:tblStylePr")) {
                    // Borders of the first row or column only are no grid.
                    reader.skipCurrentElement();
                } else if (name == QLatin1String("w:basedOn")) {
                    styles[current].basedOn = reader.attributes().value(QLatin1String("w:val")).toString();
                } else if (name == QLatin1String("w:tblBorders") || name == QLatin1String("w:tcBorders")) {
                    inTablePr = true;
                    if (!styles[current].borders)
                        styles[current].borders = 0;
                } else if (inTablePr && wordBorderShows(reader.attributes())) {
                    *styles[current].borders |= borderSide(name);
                }
            } else if (reader.isEndElement()) {
                if (name == QLatin1String("w:tblBorders") || name == QLatin1String("w:tcBorders"))
                    inTablePr = false;
                else if (name == QLatin1String("w:style"))
                    current.clear();
            }
        }
    }
    const auto styleBorders = [&](QString id) {
        for (int depth = 0; depth < 20 && !id.isEmpty(); ++depth) {
            const auto it = styles.constFind(id);
            if (it == styles.constEnd())
                return 0;
            if (it->borders)
                return *it->borders;
            id = it->basedOn;
        }
        return 0;
    };

    struct Table {
        qsizetype index = 0;
        QString style;
        std::optional<int> direct;
        int cellBorders = 0;
    };
    QList<bool> result;
    QList<Table> open;
    QXmlStreamReader reader(documentXml);
    int borderDepth = 0; // inside w:tblBorders or w:tcBorders
    bool tableLevel = false;
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        if (reader.isStartElement()) {
            if (name == QLatin1String("w:tbl")) {
                open.append({result.size(), {}, {}, 0});
                result.append(false);
            } else if (open.isEmpty()) {
                continue;
            } else if (name == QLatin1String("w:tblStyle")) {
                open.last().style = reader.attributes().value(QLatin1String("w:val")).toString();
            } else if (name == QLatin1String("w:tblBorders")) {
                borderDepth = 1;
                tableLevel = true;
                if (!open.last().direct)
                    open.last().direct = 0;
            } else if (name == QLatin1String("w:tcBorders")) {
                borderDepth = 1;
                tableLevel = false;
            } else if (borderDepth > 0 && wordBorderShows(reader.attributes())) {
                if (tableLevel)
                    *open.last().direct |= borderSide(name);
                else
                    open.last().cellBorders |= borderSide(name);
            }
        } else if (reader.isEndElement()) {
            if (name == QLatin1String("w:tblBorders") || name == QLatin1String("w:tcBorders")) {
                borderDepth = 0;
            } else if (name == QLatin1String("w:tbl") && !open.isEmpty()) {
                const Table table = open.takeLast();
                const int fromStyle = styleBorders(table.style.isEmpty() ? defaultStyle : table.style);
                // A grid has lines both ways; a rule under the head row alone is none.
                result[table.index] = (table.cellBorders | table.direct.value_or(fromStyle)) == (horizontal | vertical);
            }
        }
    }
    return result;
}

QList<bool> PandocInput::openDocumentTableBorders(const QByteArray& contentXml, const QByteArray& stylesXml)
{
    QHash<QString, int> cellStyles; // sides that show
    const auto readStyles = [&](const QByteArray& xml) {
        QXmlStreamReader reader(xml);
        QString current;
        while (!reader.atEnd() && !reader.hasError()) {
            reader.readNext();
            if (!reader.isStartElement())
                continue;
            const QStringView name = reader.qualifiedName();
            if (name == QLatin1String("style:style")) {
                current = reader.attributes().value(QLatin1String("style:family")) == QLatin1String("table-cell")
                              ? reader.attributes().value(QLatin1String("style:name")).toString()
                              : QString();
            } else if (name == QLatin1String("style:table-cell-properties") && !current.isEmpty()) {
                int sides = 0;
                for (const QXmlStreamAttribute& attribute : reader.attributes()) {
                    const QStringView name = attribute.qualifiedName();
                    if (!name.startsWith(QLatin1String("fo:border")))
                        continue;
                    const QString value = attribute.value().toString().trimmed();
                    if (value.isEmpty() || value == QLatin1String("none") || value.startsWith(QLatin1String("0pt"))
                        || value.startsWith(QLatin1String("0cm")) || value.startsWith(QLatin1String("0in")))
                        continue;
                    if (name == QLatin1String("fo:border"))
                        sides |= horizontal | vertical;
                    else if (name == QLatin1String("fo:border-top") || name == QLatin1String("fo:border-bottom"))
                        sides |= horizontal;
                    else if (name == QLatin1String("fo:border-left") || name == QLatin1String("fo:border-right"))
                        sides |= vertical;
                }
                cellStyles.insert(current, sides);
            }
        }
    };
    readStyles(stylesXml);
    readStyles(contentXml);

    QList<int> sides;
    QList<qsizetype> open;
    QXmlStreamReader reader(contentXml);
    while (!reader.atEnd() && !reader.hasError()) {
        reader.readNext();
        const QStringView name = reader.qualifiedName();
        if (reader.isStartElement()) {
            if (name == QLatin1String("table:table")) {
                open.append(sides.size());
                sides.append(0);
            } else if (!open.isEmpty() && name == QLatin1String("table:table-cell")) {
                sides[open.last()] |= cellStyles.value(reader.attributes().value(QLatin1String("table:style-name")).toString());
            }
        } else if (reader.isEndElement() && name == QLatin1String("table:table") && !open.isEmpty()) {
            open.removeLast();
        }
    }
    QList<bool> result;
    for (const int shown : std::as_const(sides))
        result.append(shown == (horizontal | vertical));
    return result;
}

PandocInput::Prepared PandocInput::prepare(const QString& file, const QString& format, const QString& workFolder,
                                           std::stop_token stop)
{
    Prepared prepared;
    prepared.path = file;
    if (format == QLatin1String("rtf")) {
        QFile in(file);
        if (!in.open(QIODevice::ReadOnly))
            return prepared;
        const QByteArray rtf = in.readAll();
        throwIfCancelled(stop);
        prepared.anyBorders = isMarkedRtfBorder(rtf);
        static const QRegularExpression nested(QStringLiteral("\\\\(?:nesttableprops|itap[2-9])"));
        prepared.betterThroughOffice = nested.match(QString::fromLatin1(rtf)).hasMatch();
        const QByteArray decoded = RtfDecoder::toUtf8(rtf);
        throwIfCancelled(stop);
        prepared.styles = RtfStyleReader::read(decoded);
        prepared.title = prepared.styles.title;
        if (decoded != rtf) {
            prepared.path = freshPath(workFolder, QStringLiteral("rtf"));
            writeWhole(prepared.path, decoded);
        }
        return prepared;
    }
    PackageParts parts;
    const QStringList wanted = format == QLatin1String("odt")
                                   ? QStringList{QStringLiteral("content.xml"), QStringLiteral("styles.xml"), QStringLiteral("meta.xml")}
                                   : QStringList{QStringLiteral("word/document.xml"), QStringLiteral("word/styles.xml"),
                                                 QStringLiteral("docProps/core.xml"),
                                                 QStringLiteral("word/_rels/document.xml.rels"),
                                                 QStringLiteral("word/header1.xml"), QStringLiteral("word/header2.xml"),
                                                 QStringLiteral("word/header3.xml"), QStringLiteral("word/footer1.xml"),
                                                 QStringLiteral("word/footer2.xml"), QStringLiteral("word/footer3.xml")};
    try {
        parts = readPackage(file, wanted, stop);
    } catch (const EngineError& e) {
        if (e.message() == brokenPackage)
            throw EngineError(QStringLiteral("This document is damaged or not in a supported format"), e.log());
        // pandoc says what is wrong with it.
        return prepared;
    }
    throwIfCancelled(stop);
    if (format == QLatin1String("odt")) {
        const QByteArray content = parts.part(QStringLiteral("content.xml"));
        prepared.title = propertyTitle(parts.part(QStringLiteral("meta.xml")));
        prepared.borderedTables = openDocumentTableBorders(content, parts.part(QStringLiteral("styles.xml")));
        prepared.bordersKnown = true;
        prepared.anyBorders = prepared.borderedTables.contains(true);
        prepared.styles = OpenDocumentStyleReader::read(content, parts.part(QStringLiteral("styles.xml")));
        // pandoc leaves out a table's header rows; as plain rows they are kept.
        QByteArray rewritten = markOpenDocumentPageBreaks(content, parts.part(QStringLiteral("styles.xml")));
        rewritten.replace("<table:table-header-rows>", "").replace("</table:table-header-rows>", "");
        if (rewritten == content)
            return prepared;
        prepared.path = rewritePackage(file, workFolder, QStringLiteral("odt"), QStringLiteral("content.xml"), rewritten, stop);
        return prepared;
    }
    const QByteArray document = parts.part(QStringLiteral("word/document.xml"));
    prepared.title = propertyTitle(parts.part(QStringLiteral("docProps/core.xml")));
    prepared.borderedTables = wordTableBorders(document, parts.part(QStringLiteral("word/styles.xml")));
    prepared.bordersKnown = true;
    prepared.anyBorders = prepared.borderedTables.contains(true);
    if (document.isEmpty())
        return prepared;
    const QByteArray lifted = liftTextBoxes(document);
    prepared.styles = WordStyleReader::read(lifted, parts.part(QStringLiteral("word/styles.xml")));
    {
        const QHash<QString, QString> targets =
            WordStyleReader::relationTargets(parts.part(QStringLiteral("word/_rels/document.xml.rels")));
        const auto running = [&](const QString& id) {
            const QString target = targets.value(id);
            return target.isEmpty() ? QString() : WordStyleReader::runningText(parts.part(QStringLiteral("word/") + target));
        };
        prepared.styles.header = running(prepared.styles.headerPart);
        prepared.styles.footer = running(prepared.styles.footerPart);
    }
    const QByteArray rewritten =
        markPageBreaks(updateSaveDates(lifted, savedDate(parts.part(QStringLiteral("docProps/core.xml")))));
    if (rewritten == document)
        return prepared;
    prepared.path = rewritePackage(file, workFolder, QStringLiteral("docx"), QStringLiteral("word/document.xml"), rewritten, stop);
    return prepared;
}

} // namespace qv
