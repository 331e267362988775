#include "documents/sheets/XlsxWriter.h"

#include "documents/sheets/DecimalNumber.h"
#include "documents/writers/XMLNamespaces.h"
#include "documents/writers/ZipPackageWriter.h"

#include <QSet>
#include <QTextBoundaryFinder>

namespace qv {

namespace {

const char* const xmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
QString ns(const char* key)
{
    return XMLNamespaces::value(QString::fromLatin1(key));
}

// Parts are written in pieces of about this size.
constexpr qsizetype chunkBytes = 1 << 20;

QByteArray part(const QString& body)
{
    return QByteArray(xmlDeclaration) + body.toUtf8();
}

// The longest prefix of at most limit UTF-16 units that ends between two characters.
QString prefixWithin(const QString& text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype at = finder.toNextBoundary(); at >= 0 && at <= limit; at = finder.toNextBoundary())
        end = at;
    return text.left(end);
}

bool isHorizontalSpace(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

QByteArray contentTypes(qsizetype count)
{
    QString xml = QStringLiteral("<Types xmlns=\"%1\">").arg(ns("contentTypes"));
    xml += QLatin1String(
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
        "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>");
    for (qsizetype n = 1; n <= count; ++n)
        xml += QStringLiteral("<Override PartName=\"/xl/worksheets/sheet%1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>").arg(n);
    xml += QLatin1String(
        "<Override PartName=\"/docProps/app.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/></Types>");
    return part(xml);
}

QByteArray packageRelationships()
{
    return part(QStringLiteral(
        "<Relationships xmlns=\"%1\"><Relationship Id=\"rId1\" Type=\"%2\" "
        "Target=\"xl/workbook.xml\"/><Relationship Id=\"rId2\" Type=\"%3\" "
        "Target=\"docProps/app.xml\"/></Relationships>")
                    .arg(ns("packageRelationships"), ns("relOfficeDocument"), ns("relExtendedProperties")));
}

QByteArray appProperties()
{
    return part(QStringLiteral("<Properties xmlns=\"%1\"><Application>Quorvenda</Application></Properties>")
                    .arg(ns("extendedProperties")));
}

QByteArray workbook(const QStringList& names)
{
    QString xml = QStringLiteral("<workbook xmlns=\"%1\" xmlns:r=\"%2\"><sheets>")
                      .arg(ns("spreadsheetMain"), ns("officeRelationships"));
    for (qsizetype i = 0; i < names.size(); ++i)
        xml += QStringLiteral("<sheet name=\"%1\" sheetId=\"%2\" r:id=\"rId%2\"/>")
                   .arg(xlsxEscape(names[i]))
                   .arg(i + 1);
    xml += QLatin1String("</sheets></workbook>");
    return part(xml);
}

QByteArray workbookRelationships(qsizetype count)
{
    QString xml = QStringLiteral("<Relationships xmlns=\"%1\">").arg(ns("packageRelationships"));
    for (qsizetype n = 1; n <= count; ++n)
        xml += QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2\" Target=\"worksheets/sheet%1.xml\"/>")
                   .arg(n)
                   .arg(ns("relWorksheet"));
    xml += QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2\" Target=\"styles.xml\"/></Relationships>")
               .arg(count + 1)
               .arg(ns("relStyles"));
    return part(xml);
}

QByteArray styles()
{
    return part(QStringLiteral(
        "<styleSheet xmlns=\"%1\"><fonts count=\"2\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font>"
        "<font><b/><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts><fills count=\"2\"><fill>"
        "<patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>"
        "</fills><borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border>"
        "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
        "</cellStyleXfs><cellXfs count=\"2\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" "
        "xfId=\"0\"/><xf numFmtId=\"0\" fontId=\"1\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyFont=\"1\"/>"
        "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
        "</cellStyles></styleSheet>")
                    .arg(ns("spreadsheetMain")));
}

void writeWorksheet(ZipPackageWriter& zip, qsizetype n, const Sheet& sheet)
{
    zip.begin(QStringLiteral("xl/worksheets/sheet%1.xml").arg(n));
    QByteArray chunk(xmlDeclaration);
    chunk += "<worksheet xmlns=\"" + ns("spreadsheetMain").toUtf8() + "\"><sheetData>";
    for (qsizetype r = 0; r < sheet.rows.size(); ++r) {
        const QByteArray rowNumber = QByteArray::number(r + 1);
        chunk += "<row r=\"" + rowNumber + "\">";
        const QStringList& row = sheet.rows[r];
        for (qsizetype c = 0; c < row.size(); ++c) {
            const QString& text = row[c];
            if (text.isEmpty())
                continue;
            const QByteArray reference = columnLetters(c + 1).toLatin1() + rowNumber;
            if (isNumericCell(text))
                chunk += "<c r=\"" + reference + "\"><v>" + text.toLatin1() + "</v></c>";
            else
                chunk += "<c r=\"" + reference + "\" t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                    + xlsxEscape(text).toUtf8() + "</t></is></c>";
        }
        chunk += "</row>";
        if (chunk.size() >= chunkBytes) {
            zip.write(chunk);
            chunk.clear();
        }
    }
    chunk += "</sheetData></worksheet>";
    zip.write(chunk);
}

} // namespace

QString xlsxEscape(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        switch (u) {
        case '&': escaped += QLatin1String("&amp;"); continue;
        case '<': escaped += QLatin1String("&lt;"); continue;
        case '>': escaped += QLatin1String("&gt;"); continue;
        case '"': escaped += QLatin1String("&quot;"); continue;
        case '\r': escaped += QLatin1String("&#13;"); continue;
        default: break;
        }
        if (u < 0x20 && u != '\t' && u != '\n')
            continue;
        if (u == 0xFFFE || u == 0xFFFF)
            continue;
        if (c.isHighSurrogate()) {
            if (i + 1 < size && text[i + 1].isLowSurrogate()) {
                escaped += c;
                escaped += text[++i];
            }
            continue;
        }
        if (c.isLowSurrogate())
            continue;
        escaped += c;
    }
    return escaped;
}

bool isNumericCell(const QString& text)
{
    if (text.isEmpty() || text.size() > 19)
        return false;
    if (!parseDecimalNumber(text))
        return false;
    const QString lower = text.toLower();
    if (text.startsWith(QLatin1Char('+')) || lower.contains(QLatin1Char('e')) || lower.contains(QLatin1Char('n')))
        return false;
    QStringView rest(text);
    if (rest.startsWith(QLatin1Char('-')))
        rest = rest.mid(1);
    if (rest.size() >= 2 && rest.startsWith(QLatin1Char('0')) && !rest.startsWith(QLatin1String("0.")))
        return false;
    for (const QChar c : rest) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

QString columnLetters(qint64 column)
{
    QString letters;
    qint64 k = column;
    while (k > 0) {
        letters.prepend(QChar(char16_t(u'A' + (k - 1) % 26)));
        k = (k - 1) / 26;
    }
    return letters;
}

QString sanitizedSheetName(const QString& name, qsizetype index)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : name) {
        if (QStringView(u"\\/?*[]:").contains(c)) {
            if (!piece.isEmpty())
                pieces.append(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.isEmpty())
        pieces.append(piece);
    const QString joined = pieces.join(QLatin1Char(' '));
    qsizetype begin = 0;
    qsizetype end = joined.size();
    while (begin < end && isHorizontalSpace(joined[begin]))
        ++begin;
    while (end > begin && isHorizontalSpace(joined[end - 1]))
        --end;
    const QString trimmed = joined.mid(begin, end - begin);
    if (trimmed.isEmpty())
        return QStringLiteral("Sheet") + QString::number(index + 1);
    return prefixWithin(trimmed, maximumSheetNameLength);
}

QStringList uniqueSheetNames(const QList<Sheet>& sheets)
{
    QStringList names;
    QSet<QString> taken;
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        const QString base = sanitizedSheetName(sheets[i].name, i);
        QString name = base;
        for (int k = 2; taken.contains(name.toCaseFolded()); ++k) {
            const QString tail = QStringLiteral(" (%1)").arg(k);
            name = prefixWithin(base, maximumSheetNameLength - tail.size()) + tail;
        }
        taken.insert(name.toCaseFolded());
        names.append(name);
    }
    return names;
}

void writeXLSX(const QList<Sheet>& sheets, const QString& destination, std::stop_token stop)
{
    const QList<Sheet> written = sheets.isEmpty() ? QList<Sheet>{Sheet{QStringLiteral("Sheet1"), {}}} : sheets;
    const qsizetype count = written.size();
    using M = ZipPackageWriter::Method;
    ZipPackageWriter zip(destination, stop);
    zip.add(QStringLiteral("[Content_Types].xml"), contentTypes(count), M::deflated);
    zip.add(QStringLiteral("_rels/.rels"), packageRelationships(), M::deflated);
    zip.add(QStringLiteral("docProps/app.xml"), appProperties(), M::deflated);
    zip.add(QStringLiteral("xl/workbook.xml"), workbook(uniqueSheetNames(written)), M::deflated);
    zip.add(QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRelationships(count), M::deflated);
    zip.add(QStringLiteral("xl/styles.xml"), styles(), M::deflated);
    for (qsizetype i = 0; i < count; ++i)
        writeWorksheet(zip, i + 1, written[i]);
    zip.finish();
}

} // namespace qv
