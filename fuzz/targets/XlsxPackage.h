#pragma once

// A small valid workbook, one of whose parts the fuzzer's bytes replace.

#include "FuzzSupport.h"

namespace qvfuzz {

enum class XlsxPart { sheet, sharedStrings, workbook, styles, workbookRels, rootRels, count };

inline QByteArray xlsxPackage(XlsxPart replaced, const QByteArray& bytes)
{
    QList<QPair<QString, QByteArray>> parts{
        {QStringLiteral("[Content_Types].xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>"},
        {QStringLiteral("_rels/.rels"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"xl/workbook.xml\"/>"
         "</Relationships>"},
        {QStringLiteral("xl/workbook.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
         "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><workbookPr date1904=\"false\"/>"
         "<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"More\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>"},
        {QStringLiteral("xl/_rels/workbook.xml.rels"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" Target=\"/xl/worksheets/sheet2.xml\"/>"
         "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" Target=\"sharedStrings.xml\"/>"
         "<Relationship Id=\"rId4\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
         "</Relationships>"},
        {QStringLiteral("xl/styles.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
         "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/></numFmts>"
         "<cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/></cellXfs></styleSheet>"},
        {QStringLiteral("xl/sharedStrings.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" count=\"3\" uniqueCount=\"3\">"
         "<si><t>Name</t></si><si><r><t>Rich </t></r><r><t xml:space=\"preserve\">text </t></r></si><si><t/></si></sst>"},
        {QStringLiteral("xl/worksheets/sheet1.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
         "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"inlineStr\"><is><t>inline</t></is></c></row>"
         "<row r=\"2\"><c r=\"A2\"><v>0.1</v></c><c r=\"B2\" s=\"1\"><v>45000.5</v></c><c r=\"C2\" t=\"b\"><v>1</v></c><c r=\"D2\" t=\"str\"><f>A2</f><v>x</v></c></row>"
         "<row><c><v>3</v></c><c t=\"e\"><v>#DIV/0!</v></c></row></sheetData></worksheet>"},
        {QStringLiteral("xl/worksheets/sheet2.xml"),
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>"
         "<row r=\"3\"><c r=\"C3\" s=\"2\"><v>1</v></c></row></sheetData></worksheet>"},
    };
    static const char* const names[] = {"xl/worksheets/sheet1.xml", "xl/sharedStrings.xml", "xl/workbook.xml",
                                        "xl/styles.xml", "xl/_rels/workbook.xml.rels", "_rels/.rels"};
    const QString name = QLatin1String(names[int(replaced)]);
    for (auto& part : parts) {
        if (part.first == name)
            part.second = bytes;
    }
    return storedZip(parts);
}

} // namespace qvfuzz
