#include "documents/office/OfficeConverter.h"
#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/PandocInput.h"
#include "documents/readers/RichTextReader.h"
#include "documents/writers/AttributedTextWriter.h"
#include "documents/writers/DocumentWriter.h"
#include "documents/writers/MarkdownWriter.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextImageFormat>
#include <QTextList>
#include <QXmlStreamReader>
#include <QTextTable>

using namespace qv;
using namespace qv::test;

namespace {

// A Word file as a new user makes one: its title in the properties, a gridded table of numbers
// beside one without lines, a list, inline styles, a quote, a page break and a text box.
constexpr char makeWordFile[] = R"(import sys, docx, zipfile
from docx.enum.text import WD_BREAK
d = docx.Document()
d.core_properties.title = 'Quarterly Figures'
d.add_heading('Sales overview', 1)
p = d.add_paragraph('Some ')
p.add_run('bold').bold = True
p.add_run(' and ')
r = p.add_run('struck'); r.font.strike = True
p.add_run(' E=mc')
r = p.add_run('2'); r.font.superscript = True
d.add_paragraph('First point', style='List Bullet')
t = d.add_table(rows=2, cols=2)
t.style = 'Table Grid'
for i, (a, b) in enumerate([('Item', 'Count'), ('120', '135')]):
    t.cell(i, 0).text = a; t.cell(i, 1).text = b
plain = d.add_table(rows=1, cols=2)
plain.cell(0, 0).text = 'left'; plain.cell(0, 1).text = 'right'
d.add_paragraph('A wise remark stands here.', style='Quote')
d.add_paragraph().add_run().add_break(WD_BREAK.PAGE)
d.add_paragraph('ANCHOR')
d.save(sys.argv[1] + '.tmp')
box = ('<w:r><mc:AlternateContent xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006">'
       '<mc:Choice Requires="wps"><w:drawing><wps:txbx xmlns:wps="http://schemas.microsoft.com/office/word/2010/wordprocessingShape">'
       '<w:txbxContent><w:p><w:r><w:t>Boxed words inside</w:t></w:r></w:p></w:txbxContent></wps:txbx></w:drawing></mc:Choice>'
       '<mc:Fallback><w:pict><w:txbxContent><w:p><w:r><w:t>Boxed words inside</w:t></w:r></w:p></w:txbxContent></w:pict></mc:Fallback>'
       '</mc:AlternateContent></w:r>')
zin = zipfile.ZipFile(sys.argv[1] + '.tmp')
zout = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
for item in zin.infolist():
    data = zin.read(item.filename)
    if item.filename == 'word/document.xml':
        data = data.decode().replace('<w:r><w:t>ANCHOR</w:t></w:r>', box).encode()
    zout.writestr(item, data)
zout.close()
)";

QList<QTextTable*> tablesOf(QTextFrame* frame)
{
    QList<QTextTable*> tables;
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child))
            tables.append(table);
        tables += tablesOf(child);
    }
    return tables;
}

} // namespace

TEST(DocumentFidelity, WordFileKeepsItsLook)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("figures.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeWordFile, docx}, &output), 0) << output.toStdString();
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));

    const RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(docx), "docx",
                                                                           QUrl::fromLocalFile(work), {});
    EXPECT_EQ(rich.title.value_or(""), "Quarterly Figures");
    const QList<QTextTable*> tables = tablesOf(rich.document->rootFrame());
    ASSERT_EQ(tables.size(), 2);
    // The gridded table is drawn with lines, the other without; both keep their cells apart.
    EXPECT_GT(tables[0]->format().border(), 0);
    EXPECT_EQ(tables[1]->format().border(), 0);
    EXPECT_GE(tables[0]->format().cellPadding(), 2);
    EXPECT_EQ(tables[0]->format().columnWidthConstraints().size(), 2);

    const DocumentModel model = AttributedTextReader::documentModelFromAttributedString(*rich.document, rich.title);
    bool struck = false, pageBreak = false, box = false, quoteUpright = false;
    for (const DocBlock& block : model.blocks) {
        for (const DocRun& run : block.runs)
            struck |= run.strike && run.text == "struck";
        pageBreak |= block.kind == DocBlock::Kind::pageBreak;
        box |= block.plainText().contains("Boxed words inside");
        if (block.kind == DocBlock::Kind::quote) {
            quoteUpright = true;
            for (const DocRun& run : block.runs)
                quoteUpright &= !run.italic;
        }
    }
    EXPECT_TRUE(struck);
    EXPECT_TRUE(pageBreak);
    EXPECT_TRUE(box);
    EXPECT_TRUE(quoteUpright);

    const QString markdown = MarkdownWriter::renderMarkdown(model.blocks);
    EXPECT_TRUE(markdown.contains("| 120 | 135 |")) << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("> A wise remark stands here.")) << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("~~struck~~"));
}

// Text in a non-Latin code page reads as the characters the file means.
TEST(DocumentFidelity, RtfInItsCodePages)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString rtf = writeFile(dir.filePath("letters.rtf"),
                                  "{\\rtf1\\ansi\\ansicpg1250\\deff0{\\fonttbl{\\f0\\fcharset238 Arial;}"
                                  "{\\f1\\fcharset204 Arial;}{\\f2\\fcharset128 MS Gothic;}}"
                                  "\\f0 Prosz\\'ea.\\par\\f1 \\'d2\\'e0\\'e1\\'eb\\'e8\\'f6\\'ff\\par"
                                  "\\f2 \\'93\\'fa\\'96\\'7b\\'8c\\'ea\\par\\f0 Smile \\uc1\\u-10179?\\u-8704?\\par"
                                  "{\\pict\\pngblip\\picw1\\pich1\\bin3 abc}\\par}");
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));
    const RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(rtf), "rtf",
                                                                           QUrl::fromLocalFile(work), {});
    const QString text = rich.document->toPlainText();
    EXPECT_TRUE(text.contains(QString::fromUtf8("Prosz\u0119"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("\u0422\u0430\u0431\u043b\u0438\u0446\u044f")));
    EXPECT_TRUE(text.contains(QString::fromUtf8("\u65e5\u672c\u8a9e")));
    EXPECT_TRUE(text.contains(QString::fromUtf8("\xf0\x9f\x98\x80")));
}

// Where the tables of a Word file are ruled as a grid: by their own borders, their style's
// (through the styles it is based on), or their cells'; rules across alone make no grid.
TEST(DocumentFidelity, WordTableBordersFromStyles)
{
    const QByteArray styles =
        "<w:styles xmlns:w=\"w\"><w:style w:type=\"table\" w:default=\"1\" w:styleId=\"Normal\"><w:tblPr/></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"Grid\"><w:tblPr><w:tblBorders><w:top w:val=\"single\" w:sz=\"4\"/>"
        "<w:insideV w:val=\"single\" w:sz=\"4\"/></w:tblBorders></w:tblPr></w:style>"
        "<w:style w:type=\"table\" w:styleId=\"MyGrid\"><w:basedOn w:val=\"Grid\"/></w:style></w:styles>";
    const QByteArray document =
        "<w:document xmlns:w=\"w\"><w:body>"
        "<w:tbl><w:tblPr><w:tblStyle w:val=\"MyGrid\"/></w:tblPr><w:tr><w:tc><w:p/>"
        "<w:tbl><w:tblPr/><w:tr><w:tc><w:p/></w:tc></w:tr></w:tbl></w:tc></w:tr></w:tbl>"
        "<w:tbl><w:tblPr><w:tblStyle w:val=\"Grid\"/><w:tblBorders><w:top w:val=\"none\"/></w:tblBorders></w:tblPr></w:tbl>"
        "<w:tbl><w:tr><w:tc><w:tcPr><w:tcBorders><w:left w:val=\"single\" w:sz=\"8\"/><w:bottom w:val=\"single\"/>"
        "</w:tcBorders></w:tcPr></w:tc></w:tr></w:tbl>"
        "<w:tbl><w:tblPr><w:tblBorders><w:top w:val=\"single\" w:sz=\"8\"/><w:bottom w:val=\"single\" w:sz=\"8\"/>"
        "</w:tblBorders></w:tblPr></w:tbl>"
        "</w:body></w:document>";
    EXPECT_EQ(PandocInput::wordTableBorders(document, styles), (QList<bool>{true, false, false, true, false}));

    const QByteArray content =
        "<office:document-content xmlns:office=\"o\" xmlns:style=\"s\" xmlns:fo=\"f\" xmlns:table=\"t\">"
        "<office:automatic-styles>"
        "<style:style style:name=\"Boxed\" style:family=\"table-cell\"><style:table-cell-properties fo:border=\"0.5pt solid #000000\"/></style:style>"
        "<style:style style:name=\"Under\" style:family=\"table-cell\"><style:table-cell-properties fo:border-bottom=\"0.5pt solid #000000\" fo:border-left=\"none\"/></style:style>"
        "</office:automatic-styles><office:body>"
        "<table:table><table:table-row><table:table-cell table:style-name=\"Boxed\"/></table:table-row></table:table>"
        "<table:table><table:table-row><table:table-cell table:style-name=\"Under\"/></table:table-row></table:table>"
        "</office:body></office:document-content>";
    EXPECT_EQ(PandocInput::openDocumentTableBorders(content, {}), (QList<bool>{true, false}));
}

// A PDF becomes slides through LibreOffice's PDF import: one slide to a page.
TEST(DocumentFidelity, PdfToSlidesThroughLibreOffice)
{
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("figures.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeWordFile, docx}, &output), 0) << output.toStdString();
    const QString pdf = dir.filePath("figures.pdf");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(docx), QUrl::fromLocalFile(pdf), "pdf", {});
    const QString pptx = dir.filePath("figures.pptx");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(pdf), QUrl::fromLocalFile(pptx), "pptx", {},
                                            "impress_pdf_import");
    ASSERT_EQ(runProgram("/usr/bin/unzip", {"-l", pptx}, &output), 0);
    EXPECT_TRUE(output.contains("ppt/slides/slide1.xml"));
    EXPECT_TRUE(output.contains("ppt/slides/slide2.xml")) << "the page break makes a second page";
}

// On paper a rule right after a code block spans the page, and a quote stands in from the text.
TEST(DocumentFidelity, RulesAndQuotesOnPaper)
{
    QTemporaryDir dir;
    const QList<DocBlock> blocks{DocBlock::paragraph({DocRun{"Body words"}}), DocBlock::code("int x = 1;"),
                                DocBlock::rule(), DocBlock::quote({DocRun{"Quoted words"}}),
                                DocBlock::paragraph({DocRun{"Closing words"}})};
    auto text = AttributedTextWriter::attributedStringFromDocumentModel({}, blocks);
    const QString pdf = dir.filePath("page.pdf");
    DocumentWriter::paginateToPDF(*text, QUrl::fromLocalFile(pdf), QSizeF(595.28, 841.89), 56.7);

    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/pdftoppm", {"-r", "50", "-gray", "-png", "-singlefile", pdf, dir.filePath("page")}, &output), 0);
    const QImage page(dir.filePath("page.png"));
    ASSERT_FALSE(page.isNull());
    // Runs of rows inked across most of the page: the code block, then the rule.
    int runs = 0;
    bool inRun = false;
    for (int y = 0; y < page.height(); ++y) {
        int inked = 0;
        for (int x = 0; x < page.width(); ++x)
            inked += qGray(page.pixel(x, y)) < 250;
        const bool full = inked > page.width() * 0.7;
        runs += full && !inRun;
        inRun = full;
    }
    EXPECT_EQ(runs, 2);

    ASSERT_EQ(runProgram("/usr/bin/pdftotext", {"-bbox", pdf, "-"}, &output), 0);
    const auto left = [&](const QString& word) {
        const QRegularExpression box("<word xMin=\"([0-9.]+)\"[^>]*>" + word + "</word>");
        return box.match(QString::fromUtf8(output)).captured(1).toDouble();
    };
    EXPECT_GT(left("Quoted"), left("Body") + 12);
    EXPECT_NEAR(left("Closing"), left("Body"), 1);
}

// A valid file pandoc refuses (ISO Strict DOCX) is read through LibreOffice.
TEST(DocumentFidelity, StrictWordFileThroughLibreOffice)
{
    if (!Capabilities::shared().pandocURL() || !Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "pandoc and LibreOffice are needed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("strict.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", R"(import sys, zipfile, docx
d = docx.Document(); d.core_properties.title = 'Strict Memo'
d.add_paragraph('Strict words stand here.')
d.save(sys.argv[1] + '.tmp')
pairs = [('http://schemas.openxmlformats.org/wordprocessingml/2006/main', 'http://purl.oclc.org/ooxml/wordprocessingml/main'),
         ('http://schemas.openxmlformats.org/officeDocument/2006/relationships', 'http://purl.oclc.org/ooxml/officeDocument/relationships'),
         ('http://schemas.openxmlformats.org/drawingml/2006/main', 'http://purl.oclc.org/ooxml/drawingml/main')]
zin = zipfile.ZipFile(sys.argv[1] + '.tmp'); zout = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)
for item in zin.infolist():
    data = zin.read(item.filename)
    if item.filename.endswith('.xml') or item.filename.endswith('.rels'):
        text = data.decode()
        for a, b in pairs: text = text.replace(a, b)
        data = text.replace('<w:document ', '<w:document w:conformance="strict" ', 1).encode()
    zout.writestr(item, data)
zout.close()
)",
                          docx},
                         &output),
              0)
        << output.toStdString();
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));
    const RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(docx), "docx",
                                                                           QUrl::fromLocalFile(work), {});
    EXPECT_TRUE(rich.document->toPlainText().contains("Strict words stand here."));
    EXPECT_EQ(rich.title.value_or(""), "Strict Memo");

    // A file nobody can read still fails as damaged.
    const QString broken = writeFile(dir.filePath("broken.docx"), QByteArray("PK\x03\x04 not really a package", 31));
    try {
        RichTextReader::readAttributedFile(QUrl::fromLocalFile(broken), "docx", QUrl::fromLocalFile(work), {});
        ADD_FAILURE() << "a broken file was read";
    } catch (const EngineError& e) {
        EXPECT_EQ(e.message(), "This document is damaged or not in a supported format");
    }
}

// The Title, Author and Abstract paragraphs pandoc takes out of the body stay text, and pictures
// keep the size the file gives them, never wider than the page.
TEST(DocumentFidelity, WordHeadAndPictureSizes)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("report.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", R"(import sys, struct, zlib, docx
from docx.shared import Inches
from docx.enum.style import WD_STYLE_TYPE
def png(w, h):
    raw = b''.join(b'\x00' + b'\x80\x20\x20' * w for _ in range(h))
    def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    return b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
open(sys.argv[1] + '.png', 'wb').write(png(400, 100))
d = docx.Document()
d.add_paragraph('Report title words', style='Title')
for name in ('Author', 'Abstract'):
    d.styles.add_style(name, WD_STYLE_TYPE.PARAGRAPH)
d.add_paragraph('Ada Writer', style='Author')
d.add_paragraph('This abstract sums it up.', style='Abstract')
d.add_paragraph('Body text here.')
d.add_picture(sys.argv[1] + '.png', width=Inches(12))
d.add_picture(sys.argv[1] + '.png', width=Inches(2))
d.save(sys.argv[1])
)", docx}, &output), 0) << output.toStdString();
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));
    const RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(docx), "docx",
                                                                           QUrl::fromLocalFile(work), {});
    const QString text = rich.document->toPlainText();
    EXPECT_TRUE(text.contains("Report title words"));
    EXPECT_TRUE(text.contains("Ada Writer"));
    EXPECT_TRUE(text.contains("This abstract sums it up."));
    QList<double> widths;
    for (QTextBlock block = rich.document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                widths.append(it.fragment().charFormat().toImageFormat().width());
        }
    }
    // Pixels of 1/96 inch: the text width of A4 at most, and two inches as given.
    EXPECT_EQ(widths, (QList<double>{640, 192}));
}

// What pandoc reads short is mended: a list that goes on counting after a paragraph, an ODT
// table's header row, an RTF table inside a table (through LibreOffice).
TEST(DocumentFidelity, ListsHeaderRowsAndNestedTables)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));
    const QString markdown = writeFile(dir.filePath("steps.md"),
                                       "1. Mix\n2. Stir\n\nA pause between.\n\n3. Bake\n\n"
                                       "| Region | Sales |\n|---|---|\n| North | 120 |\n");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/pandoc", {markdown, "-o", dir.filePath("steps.docx")}, &output), 0);
    ASSERT_EQ(runProgram("/usr/bin/pandoc", {markdown, "-o", dir.filePath("steps.odt")}, &output), 0);

    const RichTextReader::Result word = RichTextReader::readAttributedFile(
        QUrl::fromLocalFile(dir.filePath("steps.docx")), "docx", QUrl::fromLocalFile(work), {});
    int bakeNumber = 0;
    for (QTextBlock block = word.document->begin(); block.isValid(); block = block.next()) {
        if (block.text() == "Bake" && block.textList())
            bakeNumber = block.textList()->itemNumber(block) + 1;
    }
    EXPECT_EQ(bakeNumber, 3);

    const RichTextReader::Result open = RichTextReader::readAttributedFile(
        QUrl::fromLocalFile(dir.filePath("steps.odt")), "odt", QUrl::fromLocalFile(work), {});
    EXPECT_TRUE(open.document->toPlainText().contains("Region")) << open.document->toPlainText().toStdString();

    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    const QString rtf = writeFile(dir.filePath("nested.rtf"),
                                  "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\n\\pard Before\\par\n"
                                  "\\trowd\\cellx4000\\cellx8000\n\\pard\\intbl\\itap1 Outer A\\cell\n"
                                  "\\pard\\intbl\\itap2 Inner deep\\nestcell\n"
                                  "{\\*\\nesttableprops\\trowd\\cellx3000\\nestrow}{\\nonesttables FALLBACK\\par}\n"
                                  "\\pard\\intbl\\itap1\\cell\n\\row\n\\pard After\\par}");
    const RichTextReader::Result nested = RichTextReader::readAttributedFile(QUrl::fromLocalFile(rtf), "rtf",
                                                                             QUrl::fromLocalFile(work), {});
    const QString text = nested.document->toPlainText();
    EXPECT_TRUE(text.contains("Inner deep")) << text.toStdString();
    EXPECT_FALSE(text.contains("FALLBACK")) << text.toStdString();
}

// A paragraph set to begin a page begins one, in a DOCX and in an ODT; the title of their
// properties is the document's.
TEST(DocumentFidelity, ParagraphsThatBeginAPage)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString work = dir.filePath("work");
    ASSERT_TRUE(QDir().mkpath(work));
    const QString docx = dir.filePath("pages.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", "import sys, docx\nd = docx.Document()\n"
                                                    "d.core_properties.title = 'Two Pages'\n"
                                                    "d.add_paragraph('Page one words.')\n"
                                                    "d.add_paragraph('Page two words.').paragraph_format.page_break_before = True\n"
                                                    "d.save(sys.argv[1])\n", docx}, &output), 0)
        << output.toStdString();
    const auto kinds = [&](const QString& file, const QString& format) {
        const RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(file), format,
                                                                               QUrl::fromLocalFile(work), {});
        // The title the file's properties hold (the body has none).
        EXPECT_EQ(rich.title.value_or(""), "Two Pages") << format.toStdString();
        QList<DocBlock::Kind> kinds;
        for (const DocBlock& block : AttributedTextReader::documentModelFromAttributedString(*rich.document, {}).blocks)
            kinds.append(block.kind);
        return kinds;
    };
    const QList<DocBlock::Kind> expected{DocBlock::Kind::paragraph, DocBlock::Kind::pageBreak, DocBlock::Kind::paragraph};
    EXPECT_EQ(kinds(docx, "docx"), expected);

    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    const QString odt = dir.filePath("pages.odt");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(docx), QUrl::fromLocalFile(odt), "odt", {});
    EXPECT_EQ(kinds(odt, "odt"), expected);
}

// Text boxes, a box within a box among them, come out after the paragraph that holds them, and
// the part stays well-formed.
TEST(DocumentFidelity, TextBoxesLiftedOutOfTheirParagraph)
{
    const QByteArray inner = "<w:drawing><w:txbxContent><w:p><w:r><w:t>Inner box</w:t></w:r></w:p></w:txbxContent></w:drawing>";
    const QByteArray xml = "<w:document xmlns:w=\"w\" xmlns:mc=\"m\"><w:body><w:p><w:r><w:t>Anchor</w:t></w:r><w:r>"
                           "<mc:AlternateContent><mc:Choice><w:drawing><w:txbxContent><w:p><w:r><w:t>Outer box</w:t></w:r>"
                           "<w:r>" + inner + "</w:r></w:p></w:txbxContent></w:drawing></mc:Choice>"
                           "<mc:Fallback><w:pict><w:txbxContent><w:p><w:r><w:t>Outer box</w:t></w:r></w:p></w:txbxContent>"
                           "</w:pict></mc:Fallback></mc:AlternateContent></w:r></w:p>"
                           "<w:p><w:r><w:t>After</w:t></w:r></w:p></w:body></w:document>";
    const QByteArray lifted = PandocInput::liftTextBoxes(xml);
    EXPECT_FALSE(lifted.contains("txbxContent")) << lifted.toStdString();
    const qsizetype anchor = lifted.indexOf("Anchor"), outer = lifted.indexOf("Outer box"),
                    innerAt = lifted.indexOf("Inner box"), after = lifted.indexOf("After");
    EXPECT_EQ(lifted.count("Outer box"), 1);
    EXPECT_TRUE(anchor < outer && outer < innerAt && innerAt < after) << lifted.toStdString();
    QXmlStreamReader reader(lifted);
    while (!reader.atEnd())
        reader.readNext();
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
}
