#include "documents/writers/DocxWriter.h"

#include "documents/layout/DocumentFonts.h"
#include "documents/writers/PackageImage.h"
#include "documents/writers/XMLNamespaces.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"

#include <cmath>

namespace qv {
namespace {

const QString xmlDeclaration = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");

QString ns(const char* key)
{
    return XMLNamespaces::value(QString::fromLatin1(key));
}

struct PageGeometry {
    int width;
    int height;
    int textWidth;
    double widestPicture;
};

// A4 is rounded down a twip on each side, as word processors write it.
constexpr PageGeometry letterGeometry{12240, 15840, 9972, 498.6};
constexpr PageGeometry a4Geometry{11905, 16837, 9637, 481.88};

struct DocxWriterState {
    PageGeometry page;
    const ImageDataLoader* imageDataLoader = nullptr;
    QList<std::pair<QString, QByteArray>> media; // package path, bytes
    QStringList relationships;
    int nextRelationshipNumber = 1;
    int imageCount = 0;
    QList<int> orderedListIDs;
    int currentOrderedListID = 0;
    bool noOrderedListYet = true;
};

QString addDocxRelationship(const QString& type, const QString& target, bool external, DocxWriterState& state)
{
    const QString id = QStringLiteral("rId") + QString::number(state.nextRelationshipNumber++);
    state.relationships.append(QStringLiteral("<Relationship Id=\"") + id + QStringLiteral("\" Type=\"") + type
                               + QStringLiteral("\" Target=\"") + docxEscape(target) + QLatin1Char('"')
                               + (external ? QStringLiteral(" TargetMode=\"External\"") : QString())
                               + QStringLiteral("/>"));
    return id;
}

QString textElements(const QString& text)
{
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines.append(QStringLiteral("<w:t xml:space=\"preserve\">") + docxEscape(line) + QStringLiteral("</w:t>"));
    return lines.join(QStringLiteral("<w:br/>"));
}

// The face code is set in: the one the layout draws it in, by a name word processors know.
QString codeFonts()
{
    const QString face = docxEscape(DocumentFonts::code(10).family());
    return QStringLiteral("<w:rFonts w:ascii=\"") + face + QStringLiteral("\" w:hAnsi=\"") + face
        + QStringLiteral("\" w:cs=\"") + face + QStringLiteral("\"/>");
}

QString renderDocxRun(const DocRun& run, DocxWriterState& state)
{
    QString properties;
    if (run.link)
        properties += QStringLiteral("<w:rStyle w:val=\"Hyperlink\"/>");
    if (run.code)
        properties += codeFonts() + QStringLiteral("<w:sz w:val=\"20\"/>");
    if (run.bold)
        properties += QStringLiteral("<w:b/>");
    if (run.italic)
        properties += QStringLiteral("<w:i/>");
    if (run.strike)
        properties += QStringLiteral("<w:strike/>");
    if (run.underline)
        properties += QStringLiteral("<w:u w:val=\"single\"/>");
    if (run.script != 0)
        properties += run.script > 0 ? QStringLiteral("<w:vertAlign w:val=\"superscript\"/>")
                                     : QStringLiteral("<w:vertAlign w:val=\"subscript\"/>");
    QString xml = QStringLiteral("<w:r>");
    if (!properties.isEmpty())
        xml += QStringLiteral("<w:rPr>") + properties + QStringLiteral("</w:rPr>");
    xml += textElements(run.text) + QStringLiteral("</w:r>");
    if (run.link && !run.link->isEmpty() && !run.link->startsWith(QLatin1Char('#'))) {
        const QString id = addDocxRelationship(ns("relHyperlink"), *run.link, true, state);
        xml = QStringLiteral("<w:hyperlink r:id=\"") + id + QStringLiteral("\">") + xml + QStringLiteral("</w:hyperlink>");
    }
    return xml;
}

QString renderRuns(const QList<DocRun>& runs, DocxWriterState& state)
{
    QString xml;
    for (const DocRun& run : runs)
        xml += renderDocxRun(run, state);
    return xml;
}

QString styledParagraph(const QString& style, const QString& runs)
{
    return QStringLiteral("<w:p><w:pPr><w:pStyle w:val=\"") + style + QStringLiteral("\"/></w:pPr>") + runs
        + QStringLiteral("</w:p>");
}

QString renderTable(const QList<QStringList>& rows, const DocxWriterState& state)
{
    qsizetype columns = 0;
    for (const QStringList& row : rows)
        columns = std::max(columns, row.size());
    if (columns == 0)
        return {};
    const QString width = QString::number(state.page.textWidth / columns);
    QString xml = QStringLiteral("<w:tbl><w:tblPr><w:tblStyle w:val=\"TableGrid\"/><w:tblW w:w=\"0\" w:type=\"auto\"/>"
                                 "</w:tblPr><w:tblGrid>");
    for (qsizetype c = 0; c < columns; ++c)
        xml += QStringLiteral("<w:gridCol w:w=\"") + width + QStringLiteral("\"/>");
    xml += QStringLiteral("</w:tblGrid>");
    for (qsizetype r = 0; r < rows.size(); ++r) {
        xml += QStringLiteral("<w:tr>");
        for (qsizetype c = 0; c < columns; ++c) {
            const QString cell = c < rows[r].size() ? rows[r][c] : QString();
            xml += QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"") + width
                + QStringLiteral("\" w:type=\"dxa\"/></w:tcPr><w:p><w:r>")
                + (r == 0 ? QStringLiteral("<w:rPr><w:b/></w:rPr>") : QString())
                + QStringLiteral("<w:t xml:space=\"preserve\">") + docxEscape(cell)
                + QStringLiteral("</w:t></w:r></w:p></w:tc>");
        }
        xml += QStringLiteral("</w:tr>");
    }
    return xml + QStringLiteral("</w:tbl><w:p/>");
}

// EMUs of a length in points; a hair of slack so 498.6 pt is not cut to one EMU less.
QString emu(double points)
{
    return QString::number(qint64(std::trunc(points * 12700.0 + 1e-6)));
}

QString renderPicture(const DocBlock& block, DocxWriterState& state)
{
    std::optional<QByteArray> bytes = block.data;
    if (!bytes && block.path && state.imageDataLoader && *state.imageDataLoader)
        bytes = (*state.imageDataLoader)(*block.path);
    if (!bytes)
        return {};
    const std::optional<PackageImage> image = PackageImage::fromBytes(*bytes);
    if (!image)
        return {};
    const int n = ++state.imageCount;
    const QString number = QString::number(n);
    const QString file = QStringLiteral("image") + number + QLatin1Char('.') + image->ext;
    state.media.append({QStringLiteral("word/media/") + file, image->bytes});
    const QString id = addDocxRelationship(ns("relImage"), QStringLiteral("media/") + file, false, state);
    const double dpi = std::max(72.0, image->dpi.value_or(72.0));
    double width = image->pixelSize.width() * 72.0 / dpi;
    double height = image->pixelSize.height() * 72.0 / dpi;
    if (width > state.page.widestPicture) {
        height *= state.page.widestPicture / width;
        width = state.page.widestPicture;
    }
    const QString cx = emu(width);
    const QString cy = emu(height);
    return QStringLiteral("<w:p><w:pPr><w:jc w:val=\"center\"/></w:pPr><w:r><w:drawing><wp:inline distT=\"0\" "
                          "distB=\"0\" distL=\"0\" distR=\"0\"><wp:extent cx=\"")
        + cx + QStringLiteral("\" cy=\"") + cy + QStringLiteral("\"/><wp:docPr id=\"") + number
        + QStringLiteral("\" name=\"Picture ") + number + QStringLiteral("\" descr=\"") + docxEscape(block.plainText())
        + QStringLiteral("\"/><a:graphic><a:graphicData uri=\"") + ns("drawingPicture")
        + QStringLiteral("\"><pic:pic><pic:nvPicPr><pic:cNvPr id=\"") + number + QStringLiteral("\" name=\"") + file
        + QStringLiteral("\"/><pic:cNvPicPr/></pic:nvPicPr><pic:blipFill><a:blip r:embed=\"") + id
        + QStringLiteral("\"/><a:stretch><a:fillRect/></a:stretch></pic:blipFill><pic:spPr><a:xfrm><a:off x=\"0\" "
                         "y=\"0\"/><a:ext cx=\"")
        + cx + QStringLiteral("\" cy=\"") + cy
        + QStringLiteral("\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic>"
                         "</a:graphicData></a:graphic></wp:inline></w:drawing></w:r></w:p>");
}

QString renderDocxBlock(const DocBlock& block, DocxWriterState& state)
{
    switch (block.kind) {
    case DocBlock::Kind::paragraph:
        return QStringLiteral("<w:p>") + renderRuns(block.runs, state) + QStringLiteral("</w:p>");
    case DocBlock::Kind::heading:
        return styledParagraph(QStringLiteral("Heading") + QString::number(std::clamp(block.level, 1, 6)),
                               renderRuns(block.runs, state));
    case DocBlock::Kind::quote:
        return styledParagraph(QStringLiteral("Quote"), renderRuns(block.runs, state));
    case DocBlock::Kind::listItem: {
        const int id = !block.ordered ? 1 : (state.noOrderedListYet ? 2 : state.currentOrderedListID);
        return QStringLiteral("<w:p><w:pPr><w:pStyle w:val=\"ListParagraph\"/><w:numPr><w:ilvl w:val=\"")
            + QString::number(std::clamp(block.level - 1, 0, 8)) + QStringLiteral("\"/><w:numId w:val=\"")
            + QString::number(id) + QStringLiteral("\"/></w:numPr></w:pPr>") + renderRuns(block.runs, state)
            + QStringLiteral("</w:p>");
    }
    case DocBlock::Kind::code:
        return styledParagraph(QStringLiteral("Code"),
                               QStringLiteral("<w:r>") + textElements(block.plainText()) + QStringLiteral("</w:r>"));
    case DocBlock::Kind::rule:
        return QStringLiteral("<w:p><w:pPr><w:pBdr><w:bottom w:val=\"single\" w:sz=\"6\" w:space=\"1\" "
                              "w:color=\"BBBBBB\"/></w:pBdr></w:pPr></w:p>");
    case DocBlock::Kind::pageBreak:
        return QStringLiteral("<w:p><w:r><w:br w:type=\"page\"/></w:r></w:p>");
    case DocBlock::Kind::table:
        return renderTable(block.rows, state);
    case DocBlock::Kind::image:
        return renderPicture(block, state);
    }
    return {};
}

QString contentTypes()
{
    return QStringLiteral("<Types xmlns=\"") + ns("contentTypes")
        + QStringLiteral(
               "\"><Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
               "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Default Extension=\"png\" "
               "ContentType=\"image/png\"/><Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/><Default "
               "Extension=\"gif\" ContentType=\"image/gif\"/><Override PartName=\"/word/document.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
               "<Override PartName=\"/word/styles.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/><Override "
               "PartName=\"/word/numbering.xml\" "
               "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.numbering+xml\"/>"
               "<Override PartName=\"/docProps/core.xml\" "
               "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/></Types>");
}

QString packageRelationships()
{
    return QStringLiteral("<Relationships xmlns=\"") + ns("packageRelationships")
        + QStringLiteral("\"><Relationship Id=\"rId1\" Type=\"") + ns("relOfficeDocument")
        + QStringLiteral("\" Target=\"word/document.xml\"/><Relationship Id=\"rId2\" Type=\"")
        + ns("relCoreProperties") + QStringLiteral("\" Target=\"docProps/core.xml\"/></Relationships>");
}

QString coreProperties(const QString& title)
{
    return QStringLiteral("<cp:coreProperties xmlns:cp=\"") + ns("coreProperties") + QStringLiteral("\" xmlns:dc=\"")
        + ns("dc") + QStringLiteral("\"><dc:title>") + docxEscape(title)
        + QStringLiteral("</dc:title></cp:coreProperties>");
}

QString documentRelationships(const DocxWriterState& state)
{
    return QStringLiteral("<Relationships xmlns=\"") + ns("packageRelationships")
        + QStringLiteral("\"><Relationship Id=\"rIdStyles\" Type=\"") + ns("relStyles")
        + QStringLiteral("\" Target=\"styles.xml\"/><Relationship Id=\"rIdNumbering\" Type=\"") + ns("relNumbering")
        + QStringLiteral("\" Target=\"numbering.xml\"/>") + state.relationships.join(QString())
        + QStringLiteral("</Relationships>");
}

QString document(const QString& body, const DocxWriterState& state)
{
    return QStringLiteral("<w:document xmlns:w=\"") + ns("wordMain") + QStringLiteral("\" xmlns:r=\"")
        + ns("officeRelationships") + QStringLiteral("\" xmlns:wp=\"") + ns("wordDrawing")
        + QStringLiteral("\" xmlns:a=\"") + ns("drawingMain") + QStringLiteral("\" xmlns:pic=\"")
        + ns("drawingPicture") + QStringLiteral("\"><w:body>") + body + QStringLiteral("<w:sectPr><w:pgSz w:w=\"")
        + QString::number(state.page.width) + QStringLiteral("\" w:h=\"") + QString::number(state.page.height)
        + QStringLiteral("\"/><w:pgMar w:top=\"1134\" w:right=\"1134\" w:bottom=\"1134\" w:left=\"1134\" "
                         "w:header=\"567\" w:footer=\"567\" w:gutter=\"0\"/></w:sectPr></w:body></w:document>");
}

QString docxStyles()
{
    QString headings;
    static const int sizes[6] = {40, 32, 28, 24, 22, 22};
    for (int k = 0; k < 6; ++k) {
        const QString n = QString::number(k + 1);
        headings += QStringLiteral("<w:style w:type=\"paragraph\" w:styleId=\"Heading") + n
            + QStringLiteral("\"><w:name w:val=\"heading ") + n
            + QStringLiteral("\"/><w:basedOn w:val=\"Normal\"/><w:next w:val=\"Normal\"/><w:uiPriority w:val=\"9\"/>"
                             "<w:qFormat/><w:pPr><w:keepNext/><w:spacing w:before=\"")
            + QString::number(k < 2 ? 360 : 240) + QStringLiteral("\" w:after=\"120\"/><w:outlineLvl w:val=\"")
            + QString::number(k) + QStringLiteral("\"/></w:pPr><w:rPr><w:b/><w:sz w:val=\"")
            + QString::number(sizes[k]) + QStringLiteral("\"/></w:rPr></w:style>");
    }
    const QString border = QStringLiteral(" w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"BFBFBF\"/>");
    return QStringLiteral("<w:styles xmlns:w=\"") + ns("wordMain")
        + QStringLiteral("\"><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Helvetica Neue\" "
                         "w:hAnsi=\"Helvetica Neue\" w:eastAsia=\"Helvetica Neue\" w:cs=\"Helvetica Neue\"/><w:sz "
                         "w:val=\"22\"/><w:lang w:val=\"en-US\"/></w:rPr></w:rPrDefault><w:pPrDefault><w:pPr>"
                         "<w:spacing w:after=\"160\" w:line=\"276\" w:lineRule=\"auto\"/></w:pPr></w:pPrDefault>"
                         "</w:docDefaults><w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Normal\">"
                         "<w:name w:val=\"Normal\"/><w:qFormat/></w:style>")
        + headings
        + QStringLiteral("<w:style w:type=\"paragraph\" w:styleId=\"ListParagraph\"><w:name w:val=\"List Paragraph\"/>"
                         "<w:basedOn w:val=\"Normal\"/><w:pPr><w:spacing w:after=\"60\"/><w:contextualSpacing/>"
                         "</w:pPr></w:style><w:style w:type=\"paragraph\" w:styleId=\"Code\"><w:name "
                         "w:val=\"Code\"/><w:basedOn w:val=\"Normal\"/><w:pPr><w:shd w:val=\"clear\" "
                         "w:color=\"auto\" w:fill=\"F2F2F2\"/><w:spacing w:after=\"120\" w:line=\"240\" "
                         "w:lineRule=\"auto\"/><w:ind w:left=\"240\"/></w:pPr><w:rPr>")
        + codeFonts()
        + QStringLiteral("<w:sz w:val=\"19\"/></w:rPr></w:style><w:style "
                         "w:type=\"paragraph\" w:styleId=\"Quote\"><w:name w:val=\"Quote\"/><w:basedOn "
                         "w:val=\"Normal\"/><w:pPr><w:ind w:left=\"720\"/></w:pPr><w:rPr><w:i/><w:color "
                         "w:val=\"555555\"/></w:rPr></w:style><w:style w:type=\"character\" "
                         "w:styleId=\"Hyperlink\"><w:name w:val=\"Hyperlink\"/><w:rPr><w:color w:val=\"0563C1\"/>"
                         "<w:u w:val=\"single\"/></w:rPr></w:style><w:style w:type=\"table\" "
                         "w:styleId=\"TableGrid\"><w:name w:val=\"Table Grid\"/><w:tblPr><w:tblBorders><w:top")
        + border + QStringLiteral("<w:left") + border + QStringLiteral("<w:bottom") + border
        + QStringLiteral("<w:right") + border + QStringLiteral("<w:insideH") + border + QStringLiteral("<w:insideV")
        + border
        + QStringLiteral("</w:tblBorders><w:tblCellMar><w:left w:w=\"100\" w:type=\"dxa\"/><w:right w:w=\"100\" "
                         "w:type=\"dxa\"/></w:tblCellMar></w:tblPr></w:style></w:styles>");
}

QString docxNumbering(const DocxWriterState& state)
{
    static const char16_t symbols[3] = {0x2022, 0x25E6, 0x25AA};
    static const char* const formats[3] = {"decimal", "lowerLetter", "lowerRoman"};
    QString bullets;
    QString numbers;
    for (int i = 0; i < 9; ++i) {
        const QString level = QStringLiteral("<w:lvl w:ilvl=\"") + QString::number(i)
            + QStringLiteral("\"><w:start w:val=\"1\"/><w:numFmt w:val=\"");
        const QString tail = QStringLiteral("\"/><w:lvlJc w:val=\"left\"/><w:pPr><w:ind w:left=\"")
            + QString::number((i + 1) * 720) + QStringLiteral("\" w:hanging=\"360\"/></w:pPr></w:lvl>");
        bullets += level + QStringLiteral("bullet\"/><w:lvlText w:val=\"") + QChar(symbols[i % 3]) + tail;
        numbers += level + QLatin1String(formats[i % 3]) + QStringLiteral("\"/><w:lvlText w:val=\"%")
            + QString::number(i + 1) + QStringLiteral(".") + tail;
    }
    const QList<int> ids = state.orderedListIDs.isEmpty() ? QList<int>{2} : state.orderedListIDs;
    QString instances;
    for (const int id : ids)
        instances += QStringLiteral("<w:num w:numId=\"") + QString::number(id)
            + QStringLiteral("\"><w:abstractNumId w:val=\"1\"/><w:lvlOverride w:ilvl=\"0\"><w:startOverride "
                             "w:val=\"1\"/></w:lvlOverride></w:num>");
    return QStringLiteral("<w:numbering xmlns:w=\"") + ns("wordMain")
        + QStringLiteral("\"><w:abstractNum w:abstractNumId=\"0\"><w:multiLevelType w:val=\"hybridMultilevel\"/>")
        + bullets
        + QStringLiteral("</w:abstractNum><w:abstractNum w:abstractNumId=\"1\"><w:multiLevelType "
                         "w:val=\"hybridMultilevel\"/>")
        + numbers + QStringLiteral("</w:abstractNum><w:num w:numId=\"1\"><w:abstractNumId w:val=\"0\"/></w:num>")
        + instances + QStringLiteral("</w:numbering>");
}

QByteArray part(const QString& body)
{
    return (xmlDeclaration + body).toUtf8();
}

} // namespace

QString docxEscape(const QString& text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = text[i];
        const char16_t u = c.unicode();
        switch (u) {
        case '&': out += QLatin1String("&amp;"); continue;
        case '<': out += QLatin1String("&lt;"); continue;
        case '>': out += QLatin1String("&gt;"); continue;
        case '"': out += QLatin1String("&quot;"); continue;
        default: break;
        }
        if ((u < 0x20 && u != '\t' && u != '\n') || u == 0xFFFE || u == 0xFFFF)
            continue;
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

namespace {

void writePackage(const QString& body, const DocxWriterState& state, const QString& title, const QString& destination,
                  std::stop_token stop)
{
    using M = ZipPackageWriter::Method;
    ZipPackageWriter zip(destination, stop);
    zip.add(QStringLiteral("[Content_Types].xml"), part(contentTypes()), M::deflated);
    zip.add(QStringLiteral("_rels/.rels"), part(packageRelationships()), M::deflated);
    zip.add(QStringLiteral("docProps/core.xml"), part(coreProperties(title)), M::deflated);
    // Pictures are compressed already.
    for (const auto& [path, bytes] : state.media)
        zip.add(path, bytes, M::stored);
    zip.add(QStringLiteral("word/_rels/document.xml.rels"), part(documentRelationships(state)), M::deflated);
    zip.add(QStringLiteral("word/document.xml"), part(document(body, state)), M::deflated);
    zip.add(QStringLiteral("word/styles.xml"), part(docxStyles()), M::deflated);
    zip.add(QStringLiteral("word/numbering.xml"), part(docxNumbering(state)), M::deflated);
    zip.finish();
}

} // namespace

void writeDOCXPackage(const QString& body, const QStringList& relationships, const QList<int>& orderedListIDs,
                      const QString& title, bool letterPaper, const QString& destination, std::stop_token stop)
{
    DocxWriterState state;
    state.page = letterPaper ? letterGeometry : a4Geometry;
    state.relationships = relationships;
    state.orderedListIDs = orderedListIDs;
    writePackage(body, state, title, destination, std::move(stop));
}

void writeDOCX(const QList<DocBlock>& blocks, const QString& title, bool letterPaper, const QString& destination,
               const ImageDataLoader& imageDataLoader, std::stop_token stop)
{
    DocxWriterState state;
    state.page = letterPaper ? letterGeometry : a4Geometry;
    state.imageDataLoader = &imageDataLoader;
    QString body;
    bool numberingOpen = false;
    for (const DocBlock& block : blocks) {
        throwIfCancelled(stop);
        if (block.kind == DocBlock::Kind::listItem) {
            if (block.ordered && !numberingOpen) {
                const int id = int(state.orderedListIDs.size()) + 2;
                state.orderedListIDs.append(id);
                state.currentOrderedListID = id;
                state.noOrderedListYet = false;
                numberingOpen = true;
            }
        } else {
            numberingOpen = false;
        }
        body += renderDocxBlock(block, state);
    }
    writePackage(body, state, title, destination, std::move(stop));
}

} // namespace qv
