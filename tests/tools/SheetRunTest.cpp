#include "documents/writers/ZipPackageWriter.h"
#include "support/DevDriver.h"
#include "support/RepeatingZip.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/resource.h>

using namespace qv;
using namespace qv::test;

namespace {

DriverRun run(const QStringList& args, const QString& home)
{
    return runDriverJob(args, home);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

const QByteArray mainNS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// A workbook shaped as common spreadsheet programs write it: shared strings, a date style,
// booleans and numbers, four sheets whose names clash once cleaned.
QString writeBook(const QString& path, bool oneSheet = false)
{
    ZipPackageWriter zip(path, {});
    using M = ZipPackageWriter::Method;
    const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    QByteArray sheets = "<sheet name=\"Sales\" sheetId=\"1\" r:id=\"rId1\"/>";
    if (!oneSheet)
        sheets += "<sheet name=\"Q1/Q2\" sheetId=\"2\" r:id=\"rId2\"/><sheet name=\" Data\" sheetId=\"3\" r:id=\"rId3\"/>"
                  "<sheet name=\"Data\" sheetId=\"4\" r:id=\"rId4\"/>";
    zip.add("xl/workbook.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<workbook xmlns=\"" + mainNS
                + "\" xmlns:r=\"" + rel + "\"><workbookPr/><sheets>" + sheets + "</sheets></workbook>", M::deflated);
    QByteArray rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (int i = 1; i <= 4; ++i)
        rels += "<Relationship Id=\"rId" + QByteArray::number(i) + "\" Type=\"" + rel + "/worksheet\" Target=\"/xl/worksheets/sheet"
            + QByteArray::number(i) + ".xml\"/>";
    zip.add("xl/_rels/workbook.xml.rels", rels + "</Relationships>", M::deflated);
    zip.add("xl/sharedStrings.xml", "<sst xmlns=\"" + mainNS + "\"><si><t>Day</t></si><si><t>Paid</t></si><si><t>Rate</t></si>"
                                    "<si><t>a, \"b\"</t></si></sst>", M::deflated);
    zip.add("xl/styles.xml", "<styleSheet xmlns=\"" + mainNS + "\"><cellXfs count=\"2\"><xf numFmtId=\"0\"/>"
                             "<xf numFmtId=\"14\" applyNumberFormat=\"1\"/></cellXfs></styleSheet>", M::deflated);
    for (int i = 1; i <= (oneSheet ? 1 : 4); ++i) {
        const QByteArray n = QByteArray::number(i);
        zip.add("xl/worksheets/sheet" + n + ".xml",
                "<worksheet xmlns=\"" + mainNS + "\"><sheetData>"
                "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c><c r=\"C1\" t=\"s\"><v>2</v></c>"
                "<c r=\"D1\" t=\"s\"><v>3</v></c></row>"
                "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>45292</v></c><c r=\"B2\" t=\"b\"><v>1</v></c><c r=\"C2\"><v>0.1</v></c>"
                "<c r=\"D2\"><v>" + n + "</v></c></row></sheetData></worksheet>", M::deflated);
    }
    zip.finish();
    return path;
}

// A BIFF record: its type, its length and its data.
QByteArray record(quint16 type, const QByteArray& data)
{
    QByteArray bytes(4, '\0');
    bytes[0] = char(type & 0xFF);
    bytes[1] = char(type >> 8);
    bytes[2] = char(data.size() & 0xFF);
    bytes[3] = char(data.size() >> 8);
    return bytes + data;
}

// An Excel 2 worksheet of two text cells, as its records alone.
QByteArray excel2Sheet()
{
    const auto label = [](char column, const QByteArray& text) {
        return record(0x0004, QByteArray("\0\0", 2) + QByteArray(1, column) + QByteArray(4, '\0')
                                  + QByteArray(1, char(text.size())) + text);
    };
    return record(0x0009, QByteArray("\x02\0\x10\0", 4)) + label(0, "hello") + label(1, "world") + record(0x000A, {});
}

// A compound file (version 3, 512-byte sectors) holding one stream, padded to 4096 bytes as
// Excel pads its workbook so it lies in whole sectors.
QByteArray compoundFileWith(const QString& name, QByteArray stream)
{
    stream.append(QByteArray(std::max<qsizetype>(0, 4096 - stream.size()), '\0'));
    stream.append(QByteArray((512 - stream.size() % 512) % 512, '\0'));
    const quint32 sectors = quint32(stream.size() / 512);
    auto put = [](QByteArray& bytes, int at, quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = char((value >> (8 * i)) & 0xFF);
    };
    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    put(header, 0x18, 0x3E, 2);
    put(header, 0x1A, 3, 2);
    put(header, 0x1C, 0xFFFE, 2);
    put(header, 0x1E, 9, 2);
    put(header, 0x20, 6, 2);
    put(header, 0x2C, 1, 4);          // one table sector
    put(header, 0x30, 1, 4);          // the directory in sector 1
    put(header, 0x38, 4096, 4);       // smaller streams would live in the mini stream
    put(header, 0x3C, 0xFFFFFFFE, 4); // no mini table
    put(header, 0x44, 0xFFFFFFFE, 4);
    for (int i = 0; i < 109; ++i)
        put(header, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF, 4);
    QByteArray table(512, '\xFF');
    put(table, 0, 0xFFFFFFFD, 4);
    put(table, 4, 0xFFFFFFFE, 4);
    for (quint32 i = 0; i < sectors; ++i)
        put(table, int(4 * (2 + i)), i + 1 == sectors ? 0xFFFFFFFE : 3 + i, 4);
    QByteArray directory(512, '\0');
    const QStringList names{"Root Entry", name};
    for (int i = 0; i < 2; ++i) {
        for (int k = 0; k < names[i].size(); ++k)
            put(directory, 128 * i + 2 * k, names[i][k].unicode(), 2);
        put(directory, 128 * i + 64, 2 * (names[i].size() + 1), 2);
        directory[128 * i + 66] = char(i == 0 ? 5 : 2);
        put(directory, 128 * i + 68, 0xFFFFFFFF, 4);
        put(directory, 128 * i + 72, 0xFFFFFFFF, 4);
        put(directory, 128 * i + 76, i == 0 ? 1 : 0xFFFFFFFF, 4);
        put(directory, 128 * i + 116, i == 0 ? 0xFFFFFFFE : 2, 4);
        put(directory, 128 * i + 120, i == 0 ? 0 : quint32(stream.size()), 4);
    }
    return header + table + directory + stream;
}

// What the children so far took at most, in bytes.
qint64 childrenPeakMemory()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return qint64(usage.ru_maxrss) * 1024;
}

} // namespace

TEST(SheetRun, CsvToXlsxKeepsTextThatLooksLikeNumbers)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    const QByteArray csv = "name;code;delta;note\r\n\"two\r\nlines\";0042;-0.5;a & b\r\n";
    const QString prices = writeFile(w + "/prices.csv", csv);
    DriverRun r = run({"convert.spreadsheet.xlsx", prices}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    const QString book = w + "/prices.xlsx";
    EXPECT_EQ(r.outputs(), QStringList{book});
    QByteArray xml;
    ASSERT_EQ(runProgram("unzip", {"-p", book, "xl/workbook.xml"}, &xml), 0);
    EXPECT_TRUE(xml.contains("<sheet name=\"prices\" sheetId=\"1\""));
    ASSERT_EQ(runProgram("unzip", {"-p", book, "xl/worksheets/sheet1.xml"}, &xml), 0);
    EXPECT_TRUE(xml.contains("<c r=\"B2\" t=\"inlineStr\"><is><t xml:space=\"preserve\">0042</t></is></c>"));
    EXPECT_TRUE(xml.contains("<c r=\"C2\"><v>-0.5</v></c>"));
    EXPECT_TRUE(xml.contains("a &amp; b"));
    EXPECT_TRUE(xml.contains("two&#13;\nlines"));
    EXPECT_EQ(readFile(prices), csv);

    // And back, through the job engine.
    r = run({"convert.spreadsheet.csv", book}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_EQ(readFile(w + "/prices 2.csv"), "name,code,delta,note\r\n\"two\r\nlines\",0042,-0.5,a & b\r\n");
}

TEST(SheetRun, XlsxToCsvFirstSheetOrEverySheetUnderDistinctNames)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);
    const QString book = writeBook(w + "/book.xlsx");
    const QByteArray before = readFile(book);

    DriverRun r = run({"convert.spreadsheet.csv", book}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_EQ(readFile(w + "/book.csv"), "Day,Paid,Rate,\"a, \"\"b\"\"\"\r\n2024-01-01,TRUE,0.1,1\r\n");
    // The sheets left out are said, with where to get them.
    EXPECT_EQ(r.messages(), QStringList{"book.xlsx has 4 sheets: only the first, “Sales”, was converted. Choose "
                                        "“One file per sheet” in the options for all of them."});

    r = run({"convert.spreadsheet.csv", "--options", R"({"allSheets":true})", book}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_TRUE(r.messages().isEmpty());
    EXPECT_EQ(r.outputs(), QStringList{w + "/book (sheets)"});
    EXPECT_EQ(entries(w + "/book (sheets)"), (QStringList{"Data 2.csv", "Data.csv", "Q1 Q2.csv", "Sales.csv"}));
    EXPECT_TRUE(readFile(w + "/book (sheets)/Data 2.csv").endsWith(",4\r\n"));
    EXPECT_TRUE(readFile(w + "/book (sheets)/Data.csv").endsWith(",3\r\n"));

    r = run({"tool.spreadsheet.splitSheets", book}, dir.path());
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.outputs(), QStringList{w + "/book (sheets) 2"});
    EXPECT_EQ(entries(w + "/book (sheets) 2"), entries(w + "/book (sheets)"));

    const QString one = writeBook(w + "/one.xlsx", true);
    r = run({"tool.spreadsheet.splitSheets", one}, dir.path());
    EXPECT_EQ(r.outputs(), QStringList{w + "/one.csv"});
    r = run({"convert.spreadsheet.csv", one}, dir.path());
    EXPECT_EQ(r.outputs(), QStringList{w + "/one 2.csv"});
    EXPECT_TRUE(r.messages().isEmpty());

    r = run({"convert.spreadsheet.tsv", book}, dir.path());
    EXPECT_EQ(readFile(w + "/book.tsv"), "Day\tPaid\tRate\t\"a, \"\"b\"\"\"\r\n2024-01-01\tTRUE\t0.1\t1\r\n");
    EXPECT_EQ(readFile(book), before);
}

TEST(SheetRun, MergeCsvsKeepsOneHeader)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    const QString a = writeFile(w + "/a.csv", "id,name\r\n1,x\r\n");
    const QString b = writeFile(w + "/b.csv", "id,name\n2,y\n");
    const QString c = writeFile(w + "/c.csv", "id;name\n3;z\n");
    DriverRun r = run({"tool.spreadsheet.mergeCSV", c, b, a}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_EQ(r.outputs(), QStringList{w + "/a (merged).csv"});
    EXPECT_EQ(readFile(w + "/a (merged).csv"), "id,name\r\n1,x\r\n2,y\r\n3,z\r\n");

    const QString t = writeFile(w + "/0.tsv", "id\tname\n0\tw\n");
    r = run({"tool.spreadsheet.mergeCSV", a, t}, dir.path());
    ASSERT_EQ(r.code, 0);
    EXPECT_EQ(r.outputs(), QStringList{w + "/0 (merged).tsv"});
    EXPECT_EQ(readFile(w + "/0 (merged).tsv"), "id\tname\r\n0\tw\r\n1\tx\r\n");
}

TEST(SheetRun, HostileWorkbooksFailWithinBoundsAndLeaveNothing)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);
    const QByteArray workbook = "<workbook xmlns=\"" + mainNS + "\"><sheets><sheet name=\"S\"/></sheets></workbook>";
    const QString far = w + "/far.xlsx";
    {
        ZipPackageWriter zip(far, {});
        zip.add("xl/workbook.xml", workbook, ZipPackageWriter::Method::deflated);
        zip.add("xl/worksheets/sheet1.xml", "<worksheet><sheetData><row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c>"
                                            "</row></sheetData></worksheet>", ZipPackageWriter::Method::deflated);
        zip.finish();
    }
    // About 3 GiB of rows, a few megabytes packed.
    const QString bomb = w + "/bomb.xlsx";
    ASSERT_TRUE(test::writeRepeatingZip(
        bomb, {{"xl/workbook.xml", workbook, {}, 0},
               {"xl/worksheets/sheet1.xml", "<worksheet><sheetData>",
                QByteArray("<row><c><v>1</v></c></row>").repeated(1 << 18), 480}}));
    const QByteArray farBytes = readFile(far);
    const QByteArray bombBytes = readFile(bomb);
    const QStringList before = entries(w);

    for (const QString& input : {far, bomb}) {
        DriverRun r = run({"convert.spreadsheet.csv", input}, dir.path());
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.failure(), "This spreadsheet is too large") << input.toStdString();
    }
    EXPECT_LT(childrenPeakMemory(), qint64(1) << 30);
    EXPECT_EQ(entries(w), before);
    EXPECT_EQ(readFile(far), farBytes);
    EXPECT_EQ(readFile(bomb), bombBytes);
    const QString temporary = dir.filePath("cache/quorvenda/tmp");
    EXPECT_TRUE(entries(temporary).isEmpty()) << entries(temporary).join(' ').toStdString();
}

// One 1 MB shared string named by 12,000 cells: the job is refused in its worker, which runs
// under an address-space cap, instead of spelling the text out twelve thousand times.
TEST(SheetRun, ASharedStringInThousandsOfCellsIsRefusedInItsWorker)
{
    QTemporaryDir dir;
    const QString book = dir.filePath("w/shared.xlsx");
    QDir().mkpath(dir.filePath("w"));
    QByteArray rows;
    for (int r = 0; r < 120; ++r)
        rows += "<row>" + QByteArray("<c t=\"s\"><v>0</v></c>").repeated(100) + "</row>";
    {
        ZipPackageWriter zip(book, {});
        using M = ZipPackageWriter::Method;
        zip.add("xl/workbook.xml", "<workbook xmlns=\"" + mainNS + "\"><sheets><sheet name=\"S\"/></sheets></workbook>", M::deflated);
        zip.add("xl/sharedStrings.xml", "<sst xmlns=\"" + mainNS + "\"><si><t>" + QByteArray(1 << 20, 'x') + "</t></si></sst>", M::deflated);
        zip.add("xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + mainNS + "\"><sheetData>" + rows + "</sheetData></worksheet>", M::deflated);
        zip.finish();
    }
    const DriverRun csv = run({"convert.spreadsheet.csv", book}, dir.path());
    EXPECT_EQ(csv.code, 1);
    EXPECT_EQ(csv.failure(), "This spreadsheet is too large");
    EXPECT_EQ(entries(dir.filePath("w")), QStringList{"shared.xlsx"});
}

// A locked workbook or letter is refused by its lock, also where an office program would have
// opened it.
TEST(SheetRun, LockedOfficeFilesSayTheyArePasswordProtected)
{
    QTemporaryDir dir;
    // The compound-file header of an Office 2007+ encrypted package: its directory names the
    // EncryptionInfo and EncryptedPackage streams.
    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    auto put = [](QByteArray& bytes, int at, quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            bytes[at + i] = char((value >> (8 * i)) & 0xFF);
    };
    put(header, 0x1E, 9, 2);
    put(header, 0x2C, 1, 4);
    put(header, 0x30, 1, 4);
    put(header, 0x44, 0xFFFFFFFE, 4);
    for (int i = 0; i < 109; ++i)
        put(header, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF, 4);
    QByteArray table(512, '\xFF');
    put(table, 0, 0xFFFFFFFD, 4);
    put(table, 4, 0xFFFFFFFE, 4);
    QByteArray directory(512, '\0');
    const QStringList names{"Root Entry", "EncryptionInfo", "EncryptedPackage"};
    for (int i = 0; i < names.size(); ++i) {
        for (int k = 0; k < names[i].size(); ++k)
            put(directory, 128 * i + 2 * k, names[i][k].unicode(), 2);
        put(directory, 128 * i + 64, 2 * (names[i].size() + 1), 2);
        directory[128 * i + 66] = char(i == 0 ? 5 : 2);
    }
    const QString book = writeFile(dir.filePath("w/Locked.xlsx"), header + table + directory);
    for (const char* operation : {"convert.spreadsheet.csv", "convert.spreadsheet.ods", "tool.spreadsheet.splitSheets"}) {
        const DriverRun r = run({operation, book}, dir.path());
        EXPECT_EQ(r.code, 1) << operation;
        EXPECT_EQ(r.failure(), "This document is password-protected") << operation;
    }
    const QString letter = writeFile(dir.filePath("w/Letter.docx"), header + table + directory);
    for (const char* operation : {"convert.document.pdf", "convert.document.md"}) {
        const DriverRun r = run({operation, letter}, dir.path());
        EXPECT_EQ(r.code, 1) << operation;
        EXPECT_EQ(r.failure(), "This document is password-protected") << operation;
    }
    EXPECT_EQ(entries(dir.filePath("w")), (QStringList{"Letter.docx", "Locked.xlsx"}));
}

// A workbook whose container is cut or broken fails as damaged instead of being read as text or
// as an empty sheet; an Excel 97-2003 workbook locked with a password says so.
TEST(SheetRun, DamagedWorkbookContainersFailAndLockedOnesSaySo)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);

    // Excel 2, whole and cut inside its last records.
    const QByteArray sheet = excel2Sheet();
    const QString old = writeFile(w + "/old.xls", sheet);
    DriverRun r = run({"convert.spreadsheet.csv", old}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_TRUE(readFile(w + "/old.csv").contains("hello")) << readFile(w + "/old.csv").toStdString();
    const QString oldCut = writeFile(w + "/old-cut.xls", sheet.left(sheet.size() - 9));

    // Excel 97-2003: a globals stream, whole, cut, and locked with RC4.
    const QByteArray beginning = record(0x0809, QByteArray("\0\x06\x05\0", 4) + QByteArray(12, '\0'));
    const QByteArray globals = beginning + record(0x0042, QByteArray("\xE4\x04", 2)) + record(0x000A, {});
    const QByteArray book = compoundFileWith("Workbook", globals);
    ASSERT_EQ(book.size(), 512 * 11);
    const QString bookCut = writeFile(w + "/book-cut.xls", book.left(book.size() / 2));
    const QByteArray filePass = record(0x002F, QByteArray("\x01\0\x01\0\x01\0", 6) + QByteArray(48, '\x5A'));
    const QString locked = writeFile(w + "/locked.xls", compoundFileWith("Workbook", beginning + filePass + record(0x000A, {})));
    const QString lockedCut = writeFile(w + "/locked-cut.xls", readFile(locked).left(3000));

    // A binary workbook package whose part no longer matches its checksum.
    const QString binary = w + "/binary.xlsb";
    {
        ZipPackageWriter zip(binary, {});
        zip.add("[Content_Types].xml", "<Types/>", ZipPackageWriter::Method::stored);
        zip.add("xl/workbook.bin", QByteArray(600, 'w'), ZipPackageWriter::Method::stored);
        zip.finish();
    }
    QByteArray package = readFile(binary);
    const qsizetype part = package.indexOf(QByteArray(600, 'w'));
    ASSERT_GT(part, 0);
    package[part + 300] = 'x';
    writeFile(binary, package);

    for (const QString& input : {oldCut, bookCut, lockedCut, binary}) {
        for (const char* operation : {"convert.spreadsheet.csv", "convert.spreadsheet.xlsx"}) {
            r = run({operation, input}, dir.path());
            EXPECT_EQ(r.code, 1) << operation << " " << input.toStdString();
            EXPECT_EQ(r.failure(), "This spreadsheet is damaged") << operation << " " << input.toStdString();
        }
    }
    r = run({"convert.spreadsheet.csv", locked}, dir.path());
    EXPECT_EQ(r.failure(), "This document is password-protected");
    EXPECT_EQ(entries(w), (QStringList{"binary.xlsb", "book-cut.xls", "locked-cut.xls", "locked.xls", "old-cut.xls",
                                        "old.csv", "old.xls"}));
}

// A workbook as LibreOffice writes Excel 97-2003 passes the checks whole and fails them cut.
TEST(SheetRun, AnExcel97WorkbookFromAnOfficeProgramReadsWholeAndFailsCut)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);
    const QString csv = writeFile(dir.filePath("prices.csv"), "item,price\napples,3\npears,4\n");
    if (runProgram("soffice", {"--headless", "-env:UserInstallation=file://" + dir.filePath("profile"), "--convert-to",
                               "xls", "--outdir", w, csv})
            != 0
        || !QFile::exists(w + "/prices.xls"))
        GTEST_SKIP() << "needs LibreOffice to write an Excel 97-2003 file";
    DriverRun r = run({"convert.spreadsheet.csv", w + "/prices.xls"}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    EXPECT_TRUE(readFile(w + "/prices.csv").contains("apples")) << readFile(w + "/prices.csv").toStdString();
    const QByteArray whole = readFile(w + "/prices.xls");
    const QString cut = writeFile(w + "/cut.xls", whole.left(whole.size() * 2 / 3));
    r = run({"convert.spreadsheet.csv", cut}, dir.path());
    EXPECT_EQ(r.failure(), "This spreadsheet is damaged");
    EXPECT_FALSE(QFile::exists(w + "/cut.csv"));
}

// LibreOffice writes the first sheet alone to a delimited file; the others are named, and "One
// file per sheet" gives every one, as for an XLSX.
TEST(SheetRun, FormulasWithoutStoredResultsAreComputedOrCounted)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);
    // As scripts write workbooks: formulas and no results.
    const QString book = w + "/script.xlsx";
    {
        ZipPackageWriter zip(book, {});
        using M = ZipPackageWriter::Method;
        const QByteArray rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
        zip.add("[Content_Types].xml",
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                "</Types>", M::deflated);
        zip.add("_rels/.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                               "<Relationship Id=\"rId1\" Type=\"" + rel + "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                               "</Relationships>", M::deflated);
        zip.add("xl/workbook.xml", "<workbook xmlns=\"" + mainNS + "\" xmlns:r=\"" + rel
                    + "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>", M::deflated);
        zip.add("xl/_rels/workbook.xml.rels", "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                    "<Relationship Id=\"rId1\" Type=\"" + rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>",
                M::deflated);
        zip.add("xl/worksheets/sheet1.xml", "<worksheet xmlns=\"" + mainNS + "\"><sheetData><row r=\"1\">"
                    "<c r=\"A1\"><v>2</v></c><c r=\"B1\"><v>3</v></c><c r=\"C1\"><f>A1*B1</f></c>"
                    "<c r=\"D1\"><f>SUM(A1:B1)</f><v></v></c></row></sheetData></worksheet>", M::deflated);
        zip.finish();
    }
    const DriverRun r = run({"convert.spreadsheet.csv", book}, dir.path());
    ASSERT_EQ(r.code, 0) << r.failure().toStdString();
    if (QStandardPaths::findExecutable("soffice").isEmpty()) {
        EXPECT_EQ(readFile(w + "/script.csv"), "2,3,,\r\n");
        EXPECT_EQ(r.messages(), QStringList{"2 cells hold formulas saved without their results: they were left empty"});
    } else {
        // Computed as a spreadsheet program does.
        EXPECT_EQ(readFile(w + "/script.csv"), "2,3,6,5\r\n");
        EXPECT_TRUE(r.messages().isEmpty()) << r.messages().join('\n').toStdString();
    }
}

TEST(SheetRun, OdsAndXlsToCsvSayWhichSheetWasKept)
{
    QTemporaryDir dir;
    const QString w = dir.filePath("w");
    QDir().mkpath(w);
    const QString made = dir.filePath("made");
    QDir().mkpath(made);
    // Written by openpyxl, as spreadsheet programs write them; the second sheet is the one shown.
    const QString script = QStringLiteral(
        "import openpyxl, sys\n"
        "book = openpyxl.Workbook()\n"
        "sheet = book.active\n"
        "sheet.title = 'Sales'\n"
        "sheet.append(['Day', 'Total']); sheet.append(['Monday', 1])\n"
        "for n, name in enumerate(['Costs', 'Notes'], 2):\n"
        "    other = book.create_sheet(name)\n"
        "    other.append(['Day', 'Total']); other.append(['Monday', n])\n"
        "book.active = 1\n"
        "book.save(sys.argv[1] + '/book.xlsx')\n"
        "one = openpyxl.Workbook()\n"
        "one.active.append(['Day', 'Total'])\n"
        "one.save(sys.argv[1] + '/one.xlsx')\n");
    if (runProgram("/usr/bin/python3", {"-c", script, made}) != 0)
        GTEST_SKIP() << "needs python3-openpyxl to write a workbook";
    for (const char* target : {"ods", "xls"}) {
        if (runProgram("soffice", {"--headless", "-env:UserInstallation=file://" + dir.filePath("profile"),
                                   "--convert-to", target, "--outdir", w, made + "/book.xlsx", made + "/one.xlsx"})
                != 0
            || !QFile::exists(w + "/book." + target) || !QFile::exists(w + "/one." + target))
            GTEST_SKIP() << "needs LibreOffice to write ODS and Excel 97-2003 files";
    }
    for (const QString extension : {"ods", "xls"}) {
        SCOPED_TRACE(extension.toStdString());
        const QString source = w + "/book." + extension;
        const QByteArray before = readFile(source);
        DriverRun r = run({"convert.spreadsheet.csv", source}, dir.path());
        ASSERT_EQ(r.code, 0) << r.failure().toStdString();
        ASSERT_EQ(r.outputs().size(), 1);
        EXPECT_EQ(readFile(r.outputs().first()).trimmed(), "\"Day\",\"Total\"\n\"Monday\",1");
        EXPECT_EQ(r.messages(), QStringList{"book." + extension + " has 3 sheets: only the first, “Sales”, was "
                                            "converted. Choose “One file per sheet” in the options for all of them."});

        r = run({"convert.spreadsheet.csv", "--options", R"({"allSheets":true})", source}, dir.path());
        ASSERT_EQ(r.code, 0) << r.failure().toStdString();
        EXPECT_TRUE(r.messages().isEmpty());
        ASSERT_EQ(r.outputs().size(), 1);
        const QString folder = r.outputs().first();
        EXPECT_EQ(entries(folder), (QStringList{"Costs.csv", "Notes.csv", "Sales.csv"}));
        EXPECT_EQ(readFile(folder + "/Notes.csv"), "Day,Total\r\nMonday,3\r\n");

        r = run({"convert.spreadsheet.csv", w + "/one." + extension}, dir.path());
        ASSERT_EQ(r.code, 0) << r.failure().toStdString();
        EXPECT_TRUE(r.messages().isEmpty());
        EXPECT_EQ(readFile(source), before);
    }
}
