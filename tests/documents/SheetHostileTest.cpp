#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "documents/model/DocumentMetadata.h"
#include "documents/office/OfficeConverter.h"
#include "documents/office/OfficeEncryption.h"
#include "documents/readers/DocumentFileReader.h"
#include "documents/sheets/DelimitedText.h"
#include "documents/sheets/XlsxReader.h"
#include "documents/writers/ZipPackageWriter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/errors/SystemError.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/resource.h>

using namespace qv;
using qv::test::failureOf;

using Rows = QList<QStringList>;

namespace {

const QByteArray mainNS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const QByteArray relNS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const QByteArray packageNS = "http://schemas.openxmlformats.org/package/2006/relationships";

QString writePackage(const QString& path, const QList<std::pair<QString, QByteArray>>& parts)
{
    ZipPackageWriter zip(path, {});
    for (const auto& [name, bytes] : parts)
        zip.add(name, bytes, ZipPackageWriter::Method::deflated);
    zip.finish();
    return path;
}

QByteArray sheetXml(const QByteArray& rows)
{
    return "<worksheet xmlns=\"" + mainNS + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

// One sheet whose every cell names the same shared string of `length` characters.
QString sharedStringBook(const QString& path, qsizetype length, int cells)
{
    QByteArray rows;
    for (int r = 0; r < cells / 100; ++r) {
        rows += "<row r=\"" + QByteArray::number(r + 1) + "\">";
        for (int c = 0; c < 100; ++c)
            rows += "<c t=\"s\"><v>0</v></c>";
        rows += "</row>";
    }
    return writePackage(path,
        {{"xl/workbook.xml", "<workbook xmlns=\"" + mainNS + "\"><sheets><sheet name=\"S\"/></sheets></workbook>"},
         {"xl/sharedStrings.xml", "<sst xmlns=\"" + mainNS + "\"><si><t>" + QByteArray(length, 'x') + "</t></si></sst>"},
         {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
}

// The address-space cap the job workers run under, for the scope of one test.
class AddressSpaceCap {
public:
    explicit AddressSpaceCap(rlim_t bytes)
    {
        getrlimit(RLIMIT_AS, &m_old);
        rlimit capped{m_old};
        capped.rlim_cur = std::min<rlim_t>(m_old.rlim_max, bytes);
        setrlimit(RLIMIT_AS, &capped);
    }
    ~AddressSpaceCap() { setrlimit(RLIMIT_AS, &m_old); }

private:
    rlimit m_old{};
};

// A compound file (512-byte sectors) whose directory names the given streams, as Office
// writes a password-protected document: the header, one allocation-table sector, one
// directory sector. The streams hold nothing; only their names matter here.
QByteArray compoundFile(const QStringList& streams)
{
    QByteArray header(512, '\0');
    header.replace(0, 8, QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
    auto put16 = [](QByteArray& bytes, int at, quint16 value) { qToLittleEndian(value, bytes.data() + at); };
    auto put32 = [](QByteArray& bytes, int at, quint32 value) { qToLittleEndian(value, bytes.data() + at); };
    put16(header, 0x18, 0x3E);
    put16(header, 0x1A, 3);
    put16(header, 0x1C, 0xFFFE);
    put16(header, 0x1E, 9);
    put16(header, 0x20, 6);
    put32(header, 0x2C, 1);          // one allocation-table sector
    put32(header, 0x30, 1);          // the directory starts at sector 1
    put32(header, 0x38, 4096);
    put32(header, 0x3C, 0xFFFFFFFE); // no mini table
    put32(header, 0x44, 0xFFFFFFFE); // no further table list
    for (int i = 0; i < 109; ++i)
        put32(header, 0x4C + 4 * i, i == 0 ? 0 : 0xFFFFFFFF);
    QByteArray table(512, '\xFF');
    put32(table, 0, 0xFFFFFFFD);     // sector 0: the table itself
    put32(table, 4, 0xFFFFFFFE);     // sector 1: the directory, one sector long
    QByteArray directory(512, '\0');
    const QStringList names = QStringList{"Root Entry"} + streams;
    for (int i = 0; i < names.size() && i < 4; ++i) {
        const int at = 128 * i;
        const QString& name = names[i];
        for (int k = 0; k < name.size(); ++k)
            put16(directory, at + 2 * k, name[k].unicode());
        put16(directory, at + 64, quint16(2 * (name.size() + 1)));
        directory[at + 66] = char(i == 0 ? 5 : 2); // root storage, then streams
        put32(directory, at + 68, i + 1 < names.size() && i > 0 ? i + 1 : 0xFFFFFFFF);
        put32(directory, at + 72, 0xFFFFFFFF);
        put32(directory, at + 76, i == 0 ? 1 : 0xFFFFFFFF);
        put32(directory, at + 116, 0xFFFFFFFE);
    }
    return header + table + directory;
}

} // namespace

// One 1 MB shared string named by 12,000 cells: a 100 KB file that spells out to 12 billion
// characters. It is refused by what it expands to, inside the workers' address-space cap.
TEST(SheetHostile, OneSharedStringInManyCellsIsTooLarge)
{
    QTemporaryDir dir;
    const QString book = sharedStringBook(dir.filePath("shared.xlsx"), 1 << 20, 12000);
    EXPECT_LT(QFileInfo(book).size(), 400 * 1024);
    const AddressSpaceCap cap(rlim_t(4) << 30);
    EXPECT_EQ(failureOf([&] { readXLSX(book); }), "This spreadsheet is too large");
}

// Within the bound, the cells share the string's memory and the CSV is written in pieces.
TEST(SheetHostile, SharedStringsWithinTheBoundAreWrittenInPieces)
{
    QTemporaryDir dir;
    const QString book = sharedStringBook(dir.filePath("shared.xlsx"), 1 << 20, 100);
    const QString csv = dir.filePath("shared.csv");
    {
        const AddressSpaceCap cap(rlim_t(4) << 30);
        const QList<Sheet> sheets = readXLSX(book);
        ASSERT_EQ(sheets.size(), 1);
        ASSERT_EQ(sheets[0].rows.size(), 1);
        ASSERT_EQ(sheets[0].rows[0].size(), 100);
        EXPECT_EQ(sheets[0].rows[0][99].size(), 1 << 20);
        writeDelimitedFile(sheets[0].rows, QLatin1Char(','), csv);
    }
    EXPECT_EQ(QFileInfo(csv).size(), 100 * (1 << 20) + 99 + 2);
    QFile file(csv);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    file.seek(file.size() - 4);
    EXPECT_EQ(file.readAll(), QByteArray("xx\r\n"));
}

TEST(SheetHostile, TheStreamedCSVMatchesTheTextAndRefusesATakenName)
{
    QTemporaryDir dir;
    const Rows rows{{"a", "b,c", "say \"hi\""}, {" pad ", "two\nlines", ""}, {}};
    const QString path = dir.filePath("out.csv");
    writeDelimitedFile(rows, QLatin1Char(','), path);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), delimitedText(rows, QLatin1Char(',')));
    EXPECT_THROW(writeDelimitedFile(rows, QLatin1Char(','), path), SystemError);
    writeDelimitedFile({}, QLatin1Char('\t'), dir.filePath("empty.tsv"));
    EXPECT_EQ(QFileInfo(dir.filePath("empty.tsv")).size(), 2);
}

// Cells as Excel and LibreOffice show them.
TEST(SheetHostile, CellsAsSpreadsheetsShowThem)
{
    // A writer's cached value beside an inline string is not part of it.
    QTemporaryDir dir;
    const QByteArray styles = "<styleSheet xmlns=\"" + mainNS + "\"><numFmts>"
        "<numFmt numFmtId=\"164\" formatCode=\"[hh]:mm:ss\"/><numFmt numFmtId=\"165\" formatCode=\"[h]:mm\"/>"
        "<numFmt numFmtId=\"166\" formatCode=\"hh:mm:ss;@\"/></numFmts><cellXfs>"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/><xf numFmtId=\"46\"/>"
        "<xf numFmtId=\"166\"/><xf numFmtId=\"21\"/><xf numFmtId=\"14\"/><xf numFmtId=\"22\"/></cellXfs></styleSheet>";
    const QByteArray serial = QByteArray::number(918610.0 / 86400.0, 'g', 17); // 255 h 10 min 10 s
    const QByteArray rows =
        "<row><c t=\"inlineStr\"><is><t>1.</t></is><v>01.</v></c><c t=\"inlineStr\"><v>kept</v></c>"
        "<c t=\"inlineStr\"><is><r><t>ri</t></r><r><t>ch</t></r></is></c></row>"
        "<row><c s=\"1\"><v>" + serial + "</v></c><c s=\"2\"><v>" + serial + "</v></c><c s=\"3\"><v>" + serial + "</v></c>"
        "<c s=\"4\"><v>" + serial + "</v></c><c s=\"5\"><v>" + serial + "</v></c><c s=\"1\"><v>-0.5</v></c></row>"
        "<row><c s=\"6\"><v>1</v></c><c s=\"6\"><v>59</v></c><c s=\"6\"><v>60</v></c><c s=\"6\"><v>61</v></c>"
        "<c s=\"7\"><v>59.5</v></c><c s=\"6\"><v>45292</v></c></row>";
    const QString path = writePackage(dir.filePath("shown.xlsx"),
        {{"xl/workbook.xml", "<workbook xmlns=\"" + mainNS + "\"><sheets><sheet name=\"S\"/></sheets></workbook>"},
         {"xl/styles.xml", styles}, {"xl/worksheets/sheet1.xml", sheetXml(rows)}});
    EXPECT_EQ(readXLSX(path).first().rows,
              (Rows{{"1.", "kept", "rich", "", "", ""},
                    {"255:10:10", "255:10", "255:10:10", "15:10:10", "15:10:10", "-12:00:00"},
                    {"1900-01-01", "1900-02-28", "1900-02-29", "1900-03-01", "1900-02-28 12:00:00", "2024-01-01"}}));

    // ISO dates in cells of type "d", and the "_xHHHH_" escapes of characters XML cannot carry.
    const QString typed = writePackage(dir.filePath("typed.xlsx"),
        {{"xl/workbook.xml", "<workbook xmlns=\"" + mainNS + "\"><sheets><sheet name=\"S\"/></sheets></workbook>"},
         {"xl/sharedStrings.xml", "<sst xmlns=\"" + mainNS + "\"><si><t>one_x000D_two</t></si><si><t>_x005F_x000D_ kept</t></si></sst>"},
         {"xl/worksheets/sheet1.xml", sheetXml("<row><c t=\"d\"><v>2021-01-01T10:10:10</v></c><c t=\"d\"><v>2021-01-02T00:00:00Z</v></c>"
                                               "<c t=\"d\"><v>soon</v></c><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c>"
                                               "<c t=\"inlineStr\"><is><t>a_x0009_b</t></is></c></row>")}});
    EXPECT_EQ(readXLSX(typed).first().rows,
              (Rows{{"2021-01-01 10:10:10", "2021-01-02", "soon", "one\rtwo", "_x000D_ kept", "a\tb"}}));

    EXPECT_EQ(excelElapsedText(1.5, u"[mm]:ss"), "2160:00");
    EXPECT_EQ(excelElapsedText(0.0000005, u"[s].000"), "0.043");
    EXPECT_EQ(excelElapsedText(1.25, u"[h]\" hours\""), "30 hours");
    EXPECT_EQ(numberFormatKind(u"[h]:mm:ss"), NumberFormat::Kind::elapsed);
    EXPECT_EQ(numberFormatKind(u"[$-409]h:mm:ss AM/PM"), NumberFormat::Kind::time);
    EXPECT_EQ(numberFormatKind(u"yyyy-mm-dd hh:mm"), NumberFormat::Kind::date);
    EXPECT_EQ(numberFormatKind(u"mmm"), NumberFormat::Kind::date);
    EXPECT_FALSE(numberFormatKind(u"[Red]0.00"));
    EXPECT_FALSE(numberFormatKind(u"General"));
    EXPECT_FALSE(numberFormatKind(u"0.00\"h\""));
}

// Parts where the package's own relationships do not lead: a workbook found only through the
// content types, a part name stored percent-escaped. openpyxl reads the file.
TEST(SheetHostile, OddPartPathsAreFollowed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("odd.xlsx");
    const QString script = QStringLiteral(R"PY(
import sys, zipfile
ns = 'http://schemas.openxmlformats.org/spreadsheetml/2006/main'
rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
pkg = 'http://schemas.openxmlformats.org/package/2006/relationships'
ct = 'application/vnd.openxmlformats-officedocument.spreadsheetml'
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               f'<Override PartName="/data/book.xml" ContentType="{ct}.sheet.main+xml"/>'
               f'<Override PartName="/data/sheets/first%20one.xml" ContentType="{ct}.worksheet+xml"/>'
               f'<Override PartName="/data/words.xml" ContentType="{ct}.sharedStrings+xml"/></Types>')
    z.writestr('data/book.xml', f'<workbook xmlns="{ns}" xmlns:r="{rel}"><sheets><sheet name="First" sheetId="1" r:id="rId1"/></sheets></workbook>')
    z.writestr('data/_rels/book.xml.rels', f'<Relationships xmlns="{pkg}">'
               f'<Relationship Id="rId1" Type="{rel}/worksheet" Target="sheets/first%20one.xml"/>'
               f'<Relationship Id="rId2" Type="{rel}/sharedStrings" Target="words.xml"/></Relationships>')
    z.writestr('data/words.xml', f'<sst xmlns="{ns}"><si><t>name</t></si><si><t>value</t></si></sst>')
    z.writestr('data/sheets/first%20one.xml', f'<worksheet xmlns="{ns}"><sheetData>'
               '<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c></row>'
               '<row r="2"><c r="A2" t="inlineStr"><is><t>pi</t></is></c><c r="B2"><v>3.5</v></c></row>'
               '</sheetData></worksheet>')
)PY");
    QByteArray output;
    ASSERT_EQ(test::runProgram("/usr/bin/python3", {"-c", script, path}, &output), 0) << output.toStdString();
    const QList<Sheet> sheets = readXLSX(path);
    ASSERT_EQ(sheets.size(), 1);
    EXPECT_EQ(sheets[0], (Sheet{"First", {{"name", "value"}, {"pi", "3.5"}}}));

    const QString oracle = QStringLiteral(
        "import sys, openpyxl\n"
        "wb = openpyxl.load_workbook(sys.argv[1])\n"
        "print('|'.join(str(c.value) for row in wb.worksheets[0].iter_rows() for c in row))\n");
    if (test::runProgram("/usr/bin/python3", {"-c", "import openpyxl"}) == 0) {
        output.clear();
        ASSERT_EQ(test::runProgram("/usr/bin/python3", {"-c", oracle, path}, &output), 0) << output.toStdString();
        EXPECT_EQ(output.trimmed(), "name|value|pi|3.5");
    }
}

// Office locks a document by encrypting the whole package into a compound file; the name
// still says .xlsx or .docx.
TEST(SheetHostile, PasswordProtectedOfficeFilesSaySo)
{
    QTemporaryDir dir;
    const QByteArray locked = compoundFile({"EncryptionInfo", "EncryptedPackage"});
    const QString book = test::writeFile(dir.filePath("locked.xlsx"), locked);
    const QString letter = test::writeFile(dir.filePath("locked.docx"), locked);
    EXPECT_TRUE(OfficeEncryption::isEncryptedPackage(book));
    EXPECT_EQ(failureOf([&] { readXLSX(book); }), "This document is password-protected");
    EXPECT_EQ(failureOf([&] {
                  QTemporaryDir work;
                  DocumentFileReader::read(QUrl::fromLocalFile(letter), QUrl::fromLocalFile(work.path()));
              }),
              "This document is password-protected");

    // Stream names compare without case, as Office reads them; an OpenDocument file says its
    // parts are encrypted in its manifest. Reading and removing metadata say so alike.
    const QString shouting = test::writeFile(dir.filePath("shouting.docx"), compoundFile({"ENCRYPTIONINFO", "ENCRYPTEDPACKAGE"}));
    // An OpenDocument package: its media type first and stored, as the format asks.
    const auto openDocument = [](const QString& path, const QByteArray& manifest) {
        ZipPackageWriter zip(path, {});
        zip.add("mimetype", "application/vnd.oasis.opendocument.text", ZipPackageWriter::Method::stored);
        zip.add("content.xml", QByteArray(64, '\x9c'), ZipPackageWriter::Method::stored);
        zip.add("META-INF/manifest.xml", manifest, ZipPackageWriter::Method::deflated);
        zip.finish();
        return path;
    };
    const QString sealed = openDocument(
        dir.filePath("sealed.odt"),
        "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
        "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\">"
        "<manifest:encryption-data manifest:checksum-type=\"SHA1/1K\" manifest:checksum=\"AA==\">"
        "<manifest:algorithm manifest:algorithm-name=\"Blowfish CFB\" manifest:initialisation-vector=\"AA==\"/>"
        "</manifest:encryption-data></manifest:file-entry></manifest:manifest>");
    for (const QString& path : {shouting, sealed}) {
        EXPECT_TRUE(OfficeEncryption::isEncryptedPackage(path)) << path.toStdString();
        QTemporaryDir work;
        EXPECT_EQ(failureOf([&] { DocumentFileReader::read(QUrl::fromLocalFile(path), QUrl::fromLocalFile(work.path())); }),
                  "This document is password-protected");
        OperationContext context;
        context.files = {fileInfoForURL(QUrl::fromLocalFile(path))};
        context.notes = std::make_shared<JobNotes>();
        OutputPlanner planner(QUrl::fromLocalFile(path), context.settings, context.notes);
        EXPECT_EQ(failureOf([&] { DocumentMetadata::removeDocumentMetadata(context.files.first(), context, documentPlanner(planner)); }),
                  "This document is password-protected");
    }
    EXPECT_FALSE(OfficeEncryption::isEncryptedPackage(openDocument(dir.filePath("open.odt"), "<manifest:manifest/>")));

    // A compound file of another kind (an old .xls renamed), a cut-short one and a zip are
    // not locked documents.
    const QString other = test::writeFile(dir.filePath("renamed.xlsx"), compoundFile({"Workbook"}));
    EXPECT_FALSE(OfficeEncryption::isEncryptedPackage(other));
    EXPECT_EQ(failureOf([&] { readXLSX(other); }), "This spreadsheet is damaged");
    EXPECT_FALSE(OfficeEncryption::isEncryptedPackage(test::writeFile(dir.filePath("cut.xlsx"), locked.left(700))));
    EXPECT_FALSE(OfficeEncryption::isEncryptedPackage(dir.filePath("missing.xlsx")));

    // A PowerPoint 97-2003 presentation locked with a password: LibreOffice would say only that
    // it could not convert it.
    const QString deck =
        test::writeFile(dir.filePath("locked.ppt"), compoundFile({"Current User", "PowerPoint Document", "EncryptedSummary"}));
    EXPECT_TRUE(OfficeEncryption::isEncryptedPackage(deck));
    EXPECT_FALSE(OfficeEncryption::isEncryptedPackage(
        test::writeFile(dir.filePath("open.ppt"), compoundFile({"Current User", "PowerPoint Document"}))));
    if (Capabilities::shared().libreOfficeURL()) {
        EXPECT_EQ(failureOf([&] {
                      OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(deck),
                                                              QUrl::fromLocalFile(dir.filePath("deck.pdf")), "pdf", {});
                  }),
                  "This document is password-protected");
    }
}
