#include "documents/sheets/XlsxReader.h"
#include "documents/sheets/XlsxWriter.h"
#include "documents/writers/ZipPackageWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "support/RepeatingZip.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>


using namespace qv;

using Rows = QList<QStringList>;

namespace {

using Parts = QList<std::pair<QString, QByteArray>>;

QString writePackage(const QString& path, const Parts& parts)
{
    ZipPackageWriter zip(path, {});
    for (const auto& [name, bytes] : parts)
        zip.add(name, bytes, ZipPackageWriter::Method::deflated);
    zip.finish();
    return path;
}

const QByteArray mainNS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const QByteArray relNS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

QByteArray workbookXml(const QByteArray& sheets, const QByteArray& properties = "")
{
    return "<?xml version=\"1.0\"?><x:workbook xmlns:x=\"" + mainNS + "\" xmlns:r=\"" + relNS + "\">"
        + properties + "<x:sheets>" + sheets + "</x:sheets></x:workbook>";
}

QByteArray sheetXml(const QByteArray& rows)
{
    return "<worksheet xmlns=\"" + mainNS + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

// A workbook of one sheet holding the given rows.
QString oneSheetBook(const QString& path, const QByteArray& rows)
{
    return writePackage(path, {{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>")},
                               {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
}

QString readFailure(const QString& path)
{
    try {
        readXLSX(path);
    } catch (const EngineError& error) {
        return error.message();
    }
    return QStringLiteral("<read>");
}

} // namespace

TEST(SheetXlsx, CellReferencesStayInsideTheGrid)
{
    EXPECT_EQ(cellPosition(u"AA10"), (CellPosition{26, 9}));
    EXPECT_EQ(cellPosition(u"b3"), (CellPosition{1, 2}));
    EXPECT_EQ(cellPosition(u"XFD1048576"), (CellPosition{16383, 1048575}));
    EXPECT_FALSE(cellPosition(u"10"));
    EXPECT_FALSE(cellPosition(u"AB"));
    EXPECT_FALSE(cellPosition(u"XFE1"));
    EXPECT_FALSE(cellPosition(u"A1048577"));
    EXPECT_FALSE(cellPosition(u"AAAAAAAAAAAAAAAAAAAAAA1"));
    EXPECT_FALSE(cellPosition(u"A99999999999999999999999"));
}

TEST(SheetXlsx, NumbersAndDatesPrintAsPeopleWriteThem)
{
    EXPECT_EQ(numberText("42"), "42");
    EXPECT_EQ(numberText("-3.0"), "-3");
    EXPECT_EQ(numberText("0.1"), "0.1");
    EXPECT_EQ(numberText("3.14159265358979311"), "3.14159265358979");
    EXPECT_EQ(numberText("1e20"), "1e+20");
    EXPECT_EQ(numberText("2.50"), "2.5");
    EXPECT_EQ(numberText("abc"), "abc");
    EXPECT_EQ(numberText(""), "");
    // Text already in its printed form comes back as it is; anything else is printed anew.
    EXPECT_EQ(numberText("-0"), "0");
    EXPECT_EQ(numberText("007"), "7");
    EXPECT_EQ(numberText("0.0001"), "0.0001");
    EXPECT_EQ(numberText("0.00001"), "1e-05");
    EXPECT_EQ(numberText("123456789012345"), "123456789012345");
    EXPECT_EQ(numberText("1234567890123456"), "1.23456789012346e+15");
    EXPECT_EQ(numberText("0.1234567890123456"), "0.123456789012346");
    EXPECT_EQ(numberText("-12.5"), "-12.5");

    EXPECT_EQ(excelDateText(45292, false), "2024-01-01");
    EXPECT_EQ(excelDateText(45292.5, false), "2024-01-01 12:00:00");
    EXPECT_EQ(excelDateText(0.75, false), "18:00:00");
    EXPECT_EQ(excelDateText(0, true), "00:00:00");
    EXPECT_EQ(excelDateText(1, true), "1904-01-02");
    EXPECT_EQ(excelDateText(2958465, false), "9999-12-31");
}

TEST(SheetXlsx, DateFormatsAreFoundInTheStyles)
{
    const QByteArray styles = "<styleSheet xmlns=\"" + mainNS + "\"><numFmts>"
        "<numFmt numFmtId=\"164\" formatCode=\"[Red]0.00\"/><numFmt numFmtId=\"165\" formatCode=\"dd/mm/yyyy\"/>"
        "<numFmt numFmtId=\"166\" formatCode=\"hh:mm\"/><numFmt numFmtId=\"167\" formatCode=\"\\d0\"/>"
        "<numFmt numFmtId=\"168\" formatCode=\"&quot;day&quot; 0\"/></numFmts><cellXfs>"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf/>"
        "<xf numFmtId=\"166\"/><xf numFmtId=\"167\"/><xf numFmtId=\"168\"/><xf numFmtId=\"47\"/></cellXfs></styleSheet>";
    EXPECT_EQ(dateStyleIndexes(styles), (QSet<int>{1, 3, 5, 8}));
    EXPECT_TRUE(dateStyleIndexes("not xml").isEmpty());
}

TEST(SheetXlsx, WrittenWorkbooksReadBackAndPassXmllint)
{
    QTemporaryDir dir;
    const QList<Sheet> sheets{
        {"Sales", {{"Item", "Price", "Code"}, {"a & b", "-0.5", "0042"}, {"line\r\nbreak", "3.10", "1e5"}}},
        {"Q1/Q2", {{"x"}}},
        {"Data", {{"1"}}},
        {"data", {{"2"}}},
        {"///", {}},
        {"A very long sheet name that goes on and on", {{"", "", "far"}}}};
    const QString path = dir.filePath("book.xlsx");
    writeXLSX(sheets, path);

    const QList<Sheet> back = readXLSX(path);
    ASSERT_EQ(back.size(), 6);
    QStringList names;
    for (const Sheet& sheet : back)
        names.append(sheet.name);
    EXPECT_EQ(names, (QStringList{"Sales", "Q1 Q2", "Data", "data (2)", "Sheet5",
                                  "A very long sheet name that goe"}));
    EXPECT_EQ(back[0].rows, (Rows{{"Item", "Price", "Code"}, {"a & b", "-0.5", "0042"},
                                  {"line\r\nbreak", "3.1", "1e5"}}));
    EXPECT_TRUE(back[4].rows.isEmpty());
    EXPECT_EQ(back[5].rows, (Rows{{"", "", "far"}}));

    QByteArray listing;
    ASSERT_EQ(test::runProgram("unzip", {"-Z1", path}, &listing), 0);
    const QList<QByteArray> parts = listing.trimmed().split('\n');
    EXPECT_EQ(parts.first(), "[Content_Types].xml");
    EXPECT_EQ(parts.size(), 12);
    for (const QByteArray& part : parts) {
        QByteArray xml;
        // unzip takes names as patterns.
        const QString pattern = QString::fromUtf8(part).replace("[", "[[]");
        ASSERT_EQ(test::runProgram("unzip", {"-p", path, pattern}, &xml), 0);
        const QString file = test::writeFile(dir.filePath("part.xml"), xml);
        EXPECT_EQ(test::runProgram("xmllint", {"--noout", file}), 0) << part.constData();
    }
    QByteArray app;
    test::runProgram("unzip", {"-p", path, "docProps/app.xml"}, &app);
    EXPECT_TRUE(app.contains("<Application>Quorvenda</Application>"));
    QByteArray sheet1;
    test::runProgram("unzip", {"-p", path, "xl/worksheets/sheet1.xml"}, &sheet1);
    EXPECT_TRUE(sheet1.contains("<c r=\"B2\"><v>-0.5</v></c>"));
    EXPECT_TRUE(sheet1.contains("<c r=\"C2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">0042</t></is></c>"));
    EXPECT_TRUE(sheet1.contains("a &amp; b"));

    // Nothing is replaced.
    EXPECT_THROW(writeXLSX(sheets, path), SystemError);
    EXPECT_EQ(readXLSX(path).size(), 6);
}

TEST(SheetXlsx, NamesNumbersAndTextForTheWriter)
{
    EXPECT_EQ(sanitizedSheetName("[Data]", 0), "Data");
    EXPECT_EQ(sanitizedSheetName("a//b", 0), "a b");
    EXPECT_EQ(sanitizedSheetName("\t ///  ", 2), "Sheet3");
    EXPECT_EQ(sanitizedSheetName(QString(40, QLatin1Char('x')), 0), QString(31, QLatin1Char('x')));
    // Cut between characters, never inside one.
    EXPECT_EQ(sanitizedSheetName(QString(30, QLatin1Char('x')) + QString::fromUtf8("😀"), 0),
              QString(30, QLatin1Char('x')));

    EXPECT_EQ(uniqueSheetNames({{"Data", {}}, {"DATA", {}}, {"data", {}}, {QString(31, 'y'), {}}, {QString(31, 'y'), {}}}),
              (QStringList{"Data", "DATA (2)", "data (3)", QString(31, 'y'), QString(27, 'y') + " (2)"}));

    for (const char* number : {"42", "-3.5", "0.25", ".5", "5.", "0", "-0.5"})
        EXPECT_TRUE(isNumericCell(number)) << number;
    for (const char* text : {"007", "1e5", "+1", "1,000", "12345678901234567890", "NaN", "inf", "", "-", "1-2", " 1"})
        EXPECT_FALSE(isNumericCell(text)) << text;

    EXPECT_EQ(columnLetters(1), "A");
    EXPECT_EQ(columnLetters(26), "Z");
    EXPECT_EQ(columnLetters(27), "AA");
    EXPECT_EQ(columnLetters(28), "AB");
    EXPECT_EQ(columnLetters(702), "ZZ");
    EXPECT_EQ(columnLetters(703), "AAA");

    EXPECT_EQ(xlsxEscape(QString::fromUtf8("<a & \"b\">\x01\t\n") + QChar(0xFFFE) + QChar(0xFFFF) + QChar(0xD800) + "z"),
              "&lt;a &amp; &quot;b&quot;&gt;\t\nz");
}

TEST(SheetXlsx, HandMadeWorkbookCells)
{
    QTemporaryDir dir;
    const QByteArray shared = "<sst xmlns=\"" + mainNS + "\"><si><t>plain</t></si>"
        "<si><r><t>rich </t></r><r><t>text</t></r><rPh><t>ignored</t></rPh></si><si><t xml:space=\"preserve\"> pad </t></si></sst>";
    const QByteArray styles = "<styleSheet xmlns=\"" + mainNS + "\"><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
    const QByteArray rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId7\" Target=\"/xl/worksheets/main.xml\"/><Relationship Id=\"rId8\" Target=\"worksheets/broken.xml\"/></Relationships>";
    const QByteArray book = workbookXml("<x:sheet name=\"First\" r:id=\"rId7\"/><x:sheet name=\"Broken\" r:id=\"rId8\"/>"
                                        "<x:sheet r:id=\"rId99\"/><x:sheet name=\"Gone\" r:id=\"rId98\"/>",
                                        "<x:workbookPr date1904=\"true\"/>");
    const QByteArray main = sheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"s\"><v>7</v></c>"
        "<c r=\"D1\" t=\"s\"><v>-1</v></c><c r=\"E1\" t=\"s\"><v>2</v></c></row>"
        "<row r=\"2\"><c r=\"A2\" t=\"b\"><v>1</v></c><c t=\"b\"><v>0</v></c><c r=\"C2\" s=\"1\"><v>1</v></c>"
        "<c r=\"D2\"><v>0.1</v></c><c r=\"E2\" t=\"inlineStr\"><is><t>in</t><t>line</t></is></c></row>"
        "<row><c><v>a-row</v></c><c r=\"XFE3\" t=\"str\"><f>SUM()</f><v>formula</v></c></row>"
        "<row r=\"6\"><c r=\"B6\" t=\"e\"><v>#DIV/0!</v></c><c r=\"C6\" s=\"1\"><v>-5</v></c></row>");
    // No Target for rId99: the sheet's own number names the part.
    const QByteArray third = sheetXml("<row><c><v>3</v></c></row>");
    const QString path = writePackage(dir.filePath("hand.xlsx"),
        {{"[Content_Types].xml", "<Types/>"}, {"xl/worksheets/broken.xml", "<worksheet><sheetData><row>"},
         {"xl/workbook.xml", book}, {"xl/_rels/workbook.xml.rels", rels}, {"xl/sharedStrings.xml", shared},
         {"xl/styles.xml", styles}, {"xl/worksheets/main.xml", main}, {"xl/worksheets/sheet3.xml", third}});
    const QList<Sheet> sheets = readXLSX(path);
    ASSERT_EQ(sheets.size(), 2);
    EXPECT_EQ(sheets[0].name, "First");
    EXPECT_EQ(sheets[0].rows,
              (Rows{{"plain", "rich text", "", "", " pad "},
                    {"TRUE", "FALSE", "1904-01-02", "0.1", "inline"},
                    {"a-row", "formula", "", "", ""},
                    {"", "", "", "", ""},
                    {"", "", "", "", ""},
                    {"", "#DIV/0!", "-5", "", ""}}));
    EXPECT_EQ(sheets[1], (Sheet{"Sheet3", {{"3"}}}));
}

TEST(SheetXlsx, FormulasSavedWithoutTheirResultsAreCounted)
{
    QTemporaryDir dir;
    // B1 and C1 lack a result; D1's result is an empty text, E1's is stored.
    const QString path = oneSheetBook(dir.filePath("formulas.xlsx"),
        "<row r=\"1\"><c r=\"A1\"><v>2</v></c><c r=\"B1\"><f>A1*2</f></c><c r=\"C1\"><f>A1+1</f><v></v></c>"
        "<c r=\"D1\" t=\"str\"><f>\"\"</f><v></v></c><c r=\"E1\"><f>A1</f><v>2</v></c></row>");
    const QList<Sheet> sheets = readXLSX(path);
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0].rows, (Rows{{"2", "", "", "", "2"}}));
    EXPECT_EQ(sheets[0].formulasWithoutValue, 2);
}

TEST(SheetXlsx, BrokenPackagesSayWhatIsWrong)
{
    QTemporaryDir dir;
    EXPECT_EQ(readFailure(test::writeFile(dir.filePath("text.xlsx"), "just text")), "This spreadsheet is damaged");
    EXPECT_EQ(readFailure(writePackage(dir.filePath("nobook.xlsx"), {{"xl/other.xml", "<a/>"}})),
              "This file is not a valid XLSX workbook");
    EXPECT_EQ(readFailure(writePackage(dir.filePath("nosheet.xlsx"),
                                       {{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>")}})),
              "This workbook has no sheets");
    // A document type could define entities; a workbook never has one.
    const QByteArray entities = "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>"
                                "<workbook><sheets><sheet name=\"&b;\"/></sheets></workbook>";
    EXPECT_EQ(readFailure(writePackage(dir.filePath("dtd.xlsx"), {{"xl/workbook.xml", entities},
                                                                   {"xl/worksheets/sheet1.xml", sheetXml("")}})),
              "This file is not a valid XLSX workbook");
    const QByteArray sheetDtd = "<!DOCTYPE w [<!ENTITY a \"x\">]>" + sheetXml("<row><c t=\"str\"><v>&a;</v></c></row>");
    EXPECT_EQ(readFailure(writePackage(dir.filePath("sheetdtd.xlsx"),
                                       {{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>")},
                                        {"xl/worksheets/sheet1.xml", sheetDtd}})),
              "This workbook has no sheets");
}

TEST(SheetXlsx, FarCellsAndHugeGridsAreTooLarge)
{
    QTemporaryDir dir;
    const QString tooLarge = QStringLiteral("This spreadsheet is too large");
    EXPECT_EQ(readFailure(oneSheetBook(dir.filePath("far.xlsx"), "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>")),
              tooLarge);
    EXPECT_EQ(readFailure(oneSheetBook(dir.filePath("tall.xlsx"),
                                       "<row><c r=\"A1\"><v>1</v></c></row><row><c r=\"J1000001\"><v>1</v></c></row>")),
              tooLarge);
    // Just inside the limit.
    const QList<Sheet> wide = readXLSX(oneSheetBook(dir.filePath("ok.xlsx"),
                                                    "<row><c r=\"A1\"><v>1</v></c></row><row><c r=\"J1000000\"><v>2</v></c></row>"));
    EXPECT_EQ(wide.first().rows.size(), 1000000);
    EXPECT_EQ(wide.first().rows.last().last(), "2");

    // Row numbers past the last row read as the next row.
    const QList<Sheet> fallback = readXLSX(oneSheetBook(dir.filePath("rows.xlsx"),
                                                        "<row r=\"99999999999\"><c><v>1</v></c></row><row r=\"-4\"><c><v>2</v></c></row>"));
    EXPECT_EQ(fallback.first().rows, (Rows{{"1"}}));
}

TEST(SheetXlsx, PackagesWithTooManyEntriesAreTooLarge)
{
    QTemporaryDir dir;
    Parts parts{{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>")}, {"xl/worksheets/sheet1.xml", sheetXml("")}};
    for (int i = 0; i < 10000; ++i)
        parts.append({QStringLiteral("junk/%1").arg(i), QByteArray()});
    EXPECT_EQ(readFailure(writePackage(dir.filePath("many.xlsx"), parts)), "This spreadsheet is too large");
}

TEST(SheetXlsx, AZipBombStopsAtTheInflationCap)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bomb.xlsx");
    // About 3 GiB of empty rows.
    ASSERT_TRUE(test::writeRepeatingZip(
        path, {{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>"), {}, 0},
               {"xl/worksheets/sheet1.xml", "<worksheet><sheetData>", QByteArray("<row/>").repeated(1 << 20), 512}}));
    EXPECT_LT(QFileInfo(path).size(), qint64(64) << 20);
    EXPECT_EQ(readFailure(path), "This spreadsheet is too large");
}

TEST(SheetXlsx, AFullDiskLeavesNoWorkbook)
{
    test::SmallDisk disk(2 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "cannot mount a tmpfs here";
    // Text that deflate cannot shrink much.
    Rows rows;
    quint32 seed = 1;
    for (int r = 0; r < 100000; ++r) {
        QStringList row;
        for (int c = 0; c < 5; ++c) {
            seed = seed * 1103515245u + 12345u;
            row.append(QString::number(seed, 36) + QString::number(seed >> 3, 36));
        }
        rows.append(row);
    }
    const QString path = disk.filePath("big.xlsx");
    EXPECT_THROW(writeXLSX({{"S", rows}}, path), SystemError);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(test::folderEntries(disk.path()), QStringList());
}

TEST(SheetXlsx, DatesOnlyWithinTheCalendar)
{
    QTemporaryDir dir;
    const QByteArray styles = "<styleSheet xmlns=\"" + mainNS + "\"><cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>";
    const QString path = writePackage(dir.filePath("dates.xlsx"),
        {{"xl/workbook.xml", workbookXml("<x:sheet name=\"S\"/>")}, {"xl/styles.xml", styles},
         {"xl/worksheets/sheet1.xml", sheetXml("<row><c s=\"1\"><v>2958465</v></c><c s=\"1\"><v>2958466</v></c>"
                                               "<c s=\"1\"><v>-1</v></c><c s=\"1\"><v>1e300</v></c><c s=\"1\"><v>nan</v></c></row>")}});
    EXPECT_EQ(readXLSX(path).first().rows,
              (Rows{{"9999-12-31", "2958466", "-1", "1e+300", "nan"}}));
}

TEST(SheetXlsx, StoppedReadsAndWritesLeaveNothing)
{
    QTemporaryDir dir;
    const QString book = dir.filePath("book.xlsx");
    writeXLSX({{"S", {{"1"}}}}, book);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(readXLSX(book, stop.get_token()), CancellationError);
    EXPECT_THROW(writeXLSX({{"S", {{"1"}}}}, dir.filePath("other.xlsx"), stop.get_token()), CancellationError);
    EXPECT_EQ(test::folderEntries(dir.path()), QStringList{"book.xlsx"});
}

// Written the way Japanese Excel and several generators write it: every element under an "x:"
// prefix, parts found only through absolute relationship targets, a shared string of rich runs
// with a phonetic reading.
TEST(SheetXlsx, RichTextWithReadingsUnderAnyPrefixAndAbsoluteTargets)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("tokyo.xlsx");
    const QString script = QStringLiteral(R"PY(
import sys, zipfile
ns = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
pkg = 'http://schemas.openxmlformats.org/package/2006/relationships'
ext = 'urn:example:extension'
rich = ('<x:si><x:r><x:rPr><x:b/><x:rFont val="MS PGothic"/></x:rPr><x:t>To</x:t></x:r><x:r><x:t>kyo</x:t></x:r>'
        '<x:rPh sb="0" eb="2"><x:t>\u30c8\u30a6\u30ad\u30e7\u30a6</x:t></x:rPh><x:phoneticPr fontId="1" type="noConversion"/></x:si>')
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>')
    z.writestr('_rels/.rels', f'<Relationships xmlns="{pkg}"><Relationship Id="R1" Type="{rel}/officeDocument" Target="/book/Main%20Book.xml"/></Relationships>')
    z.writestr('book/Main Book.xml', f'<x:workbook xmlns:x="{ns}" xmlns:r="{rel}"><x:workbookPr date1904="1"/><x:sheets><x:sheet name="Data" sheetId="1" r:id="R1"/></x:sheets></x:workbook>')
    z.writestr('book/_rels/Main Book.xml.rels', f'<Relationships xmlns="{pkg}">'
               f'<Relationship Id="R1" Type="{rel}/worksheet" Target="/book/sheets/data.xml"/>'
               f'<Relationship Id="R2" Type="{rel}/sharedStrings" Target="/book/strings.xml"/>'
               f'<Relationship Id="R3" Type="{rel}/styles" Target="look.xml"/></Relationships>')
    z.writestr('book/strings.xml', f'<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<x:sst xmlns:x="{ns}" count="4" uniqueCount="4">'
               f'<x:si><x:t>Name</x:t></x:si><x:si><x:t>When</x:t></x:si>{rich}'
               f'<x:si xmlns:e="{ext}"><x:t>kept</x:t><e:t>foreign</e:t></x:si></x:sst>')
    z.writestr('book/look.xml', f'<x:styleSheet xmlns:x="{ns}"><x:cellXfs count="2"><x:xf numFmtId="0"/><x:xf numFmtId="14"/></x:cellXfs></x:styleSheet>')
    z.writestr('book/sheets/data.xml', f'<x:worksheet xmlns:x="{ns}"><x:sheetData>'
               '<x:row r="1"><x:c r="A1" t="s"><x:v>0</x:v></x:c><x:c r="B1" t="s"><x:v>1</x:v></x:c></x:row>'
               '<x:row r="2"><x:c r="A2" t="s"><x:v>2</x:v></x:c><x:c r="B2" s="1"><x:v>1</x:v></x:c></x:row>'
               '<x:row r="3"><x:c r="A3" t="inlineStr"><x:is><x:r><x:t>Ky</x:t></x:r><x:r><x:t>oto</x:t></x:r>'
               '<x:rPh sb="0" eb="2"><x:t>\u30ad\u30e7\u30a6\u30c8</x:t></x:rPh></x:is></x:c><x:c r="B3" t="s"><x:v>3</x:v></x:c></x:row>'
               '</x:sheetData></x:worksheet>')
)PY");
    QByteArray output;
    ASSERT_EQ(test::runProgram("/usr/bin/python3", {"-c", script, path}, &output), 0) << output.toStdString();
    const QList<Sheet> sheets = readXLSX(path);
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0], (Sheet{"Data", {{"Name", "When"}, {"Tokyo", "1904-01-02"}, {"Kyoto", "kept"}}}));
}
