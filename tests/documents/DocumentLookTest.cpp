#include "documents/office/OfficeConverter.h"
#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/RichTextReader.h"
#include "documents/writers/DocumentWriter.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextFragment>
#include <QTextTable>

using namespace qv;
using namespace qv::test;

namespace {

// Headings set by hand, as most people set them: plain paragraphs in bigger or bolder type, a
// line of code in Courier, a red centred title, underline and a subscript.
constexpr char makeHandFormattedWord[] = R"(import sys, docx
from docx.shared import Pt, RGBColor
from docx.enum.text import WD_ALIGN_PARAGRAPH
d = docx.Document()
def para(text, size, bold=False, font=None):
    p = d.add_paragraph()
    r = p.add_run(text); r.font.size = Pt(size); r.bold = bold
    if font: r.font.name = font
    return p
para('Annual report', 20)
para('The body of the report, set at twelve points like most of it. ' * 3, 12)
para('First part', 16)
para('More body text that goes on for a while in the ordinary size. ' * 3, 12)
para('A smaller head', 13.5)
para('Body again, ordinary and plain, with words enough to make it the body. ' * 3, 12)
para('Bold small head', 12.5, bold=True)
para('print("hello")', 12, font='Courier New')
p = para('Red centred', 18); p.alignment = WD_ALIGN_PARAGRAPH.CENTER; p.runs[0].font.color.rgb = RGBColor(0xC0, 0, 0)
p = d.add_paragraph('Water is H'); r = p.add_run('2'); r.font.subscript = True
p.add_run('O and '); r = p.add_run('this'); r.underline = True; p.add_run(' is underlined.')
d.save(sys.argv[1])
)";

struct Read {
    RichTextReader::Result rich;
    DocumentModel model;
};

Read readFile(const QString& file, const QString& format, const QString& work)
{
    QDir().mkpath(work);
    Read read{RichTextReader::readAttributedFile(QUrl::fromLocalFile(file), format, QUrl::fromLocalFile(work), {}), {}};
    read.model = AttributedTextReader::documentModelFromAttributedString(*read.rich.document, read.rich.title);
    return read;
}

QString describe(const DocumentModel& model)
{
    QString text;
    for (const DocBlock& block : model.blocks)
        text += DocBlock::kindName(block.kind) + QString::number(block.level) + QLatin1Char(' ') + block.plainText() + QLatin1Char('\n');
    return text;
}

// The blocks of the model as kind and level, the code and headings of the hand-made file.
void expectHandHeadings(const DocumentModel& model)
{
    QList<std::pair<DocBlock::Kind, int>> found;
    for (const DocBlock& block : model.blocks) {
        if (block.kind == DocBlock::Kind::heading || block.kind == DocBlock::Kind::code)
            found.append({block.kind, block.kind == DocBlock::Kind::heading ? block.level : 0});
    }
    const QList<std::pair<DocBlock::Kind, int>> expected{
        {DocBlock::Kind::heading, 1}, {DocBlock::Kind::heading, 2}, {DocBlock::Kind::heading, 3},
        {DocBlock::Kind::heading, 3}, {DocBlock::Kind::code, 0},    {DocBlock::Kind::heading, 2}};
    EXPECT_EQ(found, expected) << describe(model).toStdString();
}

// The character format of the text's first occurrence in the rich text.
QTextCharFormat formatAt(const QTextDocument& document, const QString& text)
{
    const QTextCursor found = document.find(text);
    if (found.isNull())
        return {};
    const QTextBlock block = found.block();
    const int offset = found.selectionStart() - block.position();
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (fragment.position() - block.position() <= offset
            && offset < fragment.position() - block.position() + fragment.length())
            return fragment.charFormat();
    }
    return {};
}

Qt::Alignment alignmentOf(const QTextDocument& document, const QString& text)
{
    const QTextCursor found = document.find(text);
    return found.isNull() ? Qt::Alignment() : found.block().blockFormat().alignment();
}

// An ODT as LibreOffice writes one, its looks in automatic styles: a red, centred 18-point
// title, underline, a superscript, a bold 16-point line, a "Quote" paragraph and a line in a
// face declared fixed, on a landscape A4 page.
constexpr char makeOpenDocument[] = R"(import sys, zipfile
ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
      'xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3"')
content = ('<?xml version="1.0" encoding="UTF-8"?><office:document-content ' + ns + '>'
  '<office:font-face-decls><style:font-face style:name="Liberation Mono" svg:font-family="&apos;Liberation Mono&apos;" style:font-pitch="fixed"/></office:font-face-decls>'
  '<office:automatic-styles>'
  '<style:style style:name="P1" style:family="paragraph" style:parent-style-name="Standard"><style:paragraph-properties fo:text-align="center"/><style:text-properties fo:font-size="18pt" fo:color="#c9211e"/></style:style>'
  '<style:style style:name="P2" style:family="paragraph" style:parent-style-name="Standard"><style:text-properties style:font-name="Liberation Mono"/></style:style>'
  '<style:style style:name="T1" style:family="text"><style:text-properties style:text-underline-style="solid" style:text-underline-width="auto"/></style:style>'
  '<style:style style:name="T2" style:family="text"><style:text-properties style:text-position="super 58%"/></style:style>'
  '<style:style style:name="T3" style:family="text"><style:text-properties fo:font-size="16pt" fo:font-weight="bold"/></style:style>'
  '</office:automatic-styles><office:body><office:text>'
  '<text:p text:style-name="P1">Red centred title</text:p>'
  '<text:p text:style-name="Standard">Plain words with <text:span text:style-name="T1">underlined</text:span> ones and E=mc<text:span text:style-name="T2">2</text:span> in the body of the text, which goes on for a while.</text:p>'
  '<text:p text:style-name="Standard"><text:span text:style-name="T3">A part by hand</text:span></text:p>'
  '<text:p text:style-name="Quote">A wise remark stands here.</text:p>'
  '<text:p text:style-name="P2">let x = 1</text:p>'
  '<text:p text:style-name="Standard">More ordinary words in the body of the document, so that the body is the common size.</text:p>'
  '</office:text></office:body></office:document-content>')
styles = ('<?xml version="1.0" encoding="UTF-8"?><office:document-styles ' + ns + '><office:styles>'
  '<style:default-style style:family="paragraph"><style:text-properties fo:font-size="12pt"/></style:default-style>'
  '<style:style style:name="Standard" style:family="paragraph" style:class="text"/>'
  '<style:style style:name="Quote" style:display-name="Quote" style:family="paragraph" style:parent-style-name="Standard"/>'
  '</office:styles><office:automatic-styles><style:page-layout style:name="pm1"><style:page-layout-properties fo:page-width="29.7cm" '
  'fo:page-height="21cm" style:print-orientation="landscape" fo:margin-top="2cm" fo:margin-bottom="2cm" fo:margin-left="2cm" fo:margin-right="2cm"/>'
  '</style:page-layout></office:automatic-styles><office:master-styles><style:master-page style:name="Standard" style:page-layout-name="pm1"/>'
  '</office:master-styles></office:document-styles>')
manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.3">'
  '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>'
  '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
  '<manifest:file-entry manifest:full-path="styles.xml" manifest:media-type="text/xml"/></manifest:manifest>')
z = zipfile.ZipFile(sys.argv[1], 'w')
z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.text')
z.writestr('content.xml', content, zipfile.ZIP_DEFLATED)
z.writestr('styles.xml', styles, zipfile.ZIP_DEFLATED)
z.writestr('META-INF/manifest.xml', manifest, zipfile.ZIP_DEFLATED)
z.close()
)";

// An RTF with a heading by its style, a subscript whose digit is on the next line, a paragraph
// that begins a page, a red centred line in big type, a line in a fixed face and a title.
constexpr char handRtf[] = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}{\\f1\\fmodern Courier New;}}\n"
                           "{\\colortbl;\\red200\\green0\\blue0;}\n"
                           "{\\stylesheet{\\s0 Normal;}{\\s1\\b\\fs32 heading 1;}}\n"
                           "{\\info{\\title Rich Test Title}}\n"
                           "\\pard\\s1\\b\\fs32 Chapter one\\par\n"
                           "\\pard\\plain\\fs24 Water is H{\\sub\n2}O and this is body text long enough to be the body.\\par\n"
                           "\\pard\\qc{\\cf1\\fs36 Red centred}\\par\n"
                           "\\pard\\pagebb Second page starts here.\\par\n"
                           "\\pard{\\f1 code line}\\par\n}";

struct Word {
    QString text;
    QRectF box;
};

// The words of a PDF's pages as pdftotext places them, page by page.
QList<QList<Word>> pdfWords(const QString& pdf)
{
    QByteArray xml;
    if (runProgram("pdftotext", {"-bbox", pdf, "-"}, &xml) != 0)
        return {};
    QList<QList<Word>> pages;
    static const QRegularExpression item(QStringLiteral(
        "<page |<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    for (auto it = item.globalMatch(QString::fromUtf8(xml)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(0).startsWith(QLatin1String("<page"))) {
            pages.append(QList<Word>());
            continue;
        }
        if (pages.isEmpty())
            continue;
        const QPointF topLeft(m.captured(1).toDouble(), m.captured(2).toDouble());
        const QPointF bottomRight(m.captured(3).toDouble(), m.captured(4).toDouble());
        pages.last().append({m.captured(5), QRectF(topLeft, bottomRight)});
    }
    return pages;
}

std::optional<Word> findWord(const QList<QList<Word>>& pages, const QString& text)
{
    for (const QList<Word>& page : pages) {
        for (const Word& word : page) {
            if (word.text == text)
                return word;
        }
    }
    return std::nullopt;
}

// Pixels of the first page that are clearly red.
int redPixels(const QString& pdf, const QString& work)
{
    const QString stem = QDir(work).filePath("page");
    if (runProgram("pdftoppm", {"-r", "40", "-f", "1", "-l", "1", "-png", "-singlefile", pdf, stem}) != 0)
        return -1;
    const QImage image(stem + ".png");
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 150 && c.green() < 90 && c.blue() < 90;
        }
    }
    return red;
}

// On paper the red, centred, big line is red, centred and bigger than the body.
void expectLookOnPaper(QTextDocument& rich, const QString& redWord, const QString& bodyWord, const QString& work)
{
    const QString pdf = QDir(work).filePath("look.pdf");
    QFile::remove(pdf);
    DocumentWriter::paginateToPDF(rich, QUrl::fromLocalFile(pdf), QSizeF(595.28, 841.89), DocumentWriter::margin);
    const QList<QList<Word>> pages = pdfWords(pdf);
    const std::optional<Word> red = findWord(pages, redWord);
    const std::optional<Word> body = findWord(pages, bodyWord);
    ASSERT_TRUE(red && body);
    EXPECT_GT(red->box.height(), body->box.height() * 1.3);
    EXPECT_GT(red->box.left(), 150) << "centred, not at the margin";
    EXPECT_GT(redPixels(pdf, work), 10);
}

// The file read as rich text and written as a DOCX beside it, in work; its path.
QString writeRichDocx(const QString& file, const QString& format, const QString& work)
{
    const Read read = readFile(file, format, QDir(work).filePath("work-" + format));
    LoadedDocument document(read.model.title.value_or("x"), std::nullopt, true);
    document.setRichText(std::unique_ptr<QTextDocument>(read.rich.document->clone()));
    const QString docx = QDir(work).filePath(format + ".docx");
    DocumentWriter::writeDocument(document, DocumentOutput::docx, QUrl::fromLocalFile(docx), SettingsSnapshot{},
                                  OperationOptions{}, QUrl::fromLocalFile(work), {}, "x");
    return docx;
}

} // namespace

TEST(DocumentLook, HeadingsByHandFromWord)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("hand.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeHandFormattedWord, docx}, &output), 0) << output.toStdString();
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    expectHandHeadings(read.model);
    const QTextDocument& rich = *read.rich.document;
    EXPECT_EQ(formatAt(rich, "Red centred").foreground().color(), QColor(0xC0, 0, 0));
    EXPECT_TRUE(alignmentOf(rich, "Red centred") & Qt::AlignHCenter);
    EXPECT_NEAR(formatAt(rich, "Annual report").fontPointSize(), 20, 0.01);
    EXPECT_TRUE(formatAt(rich, "this is").fontUnderline());
}

TEST(DocumentLook, WordLookOnPaper)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("hand.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeHandFormattedWord, docx}, &output), 0) << output.toStdString();
    Read read = readFile(docx, "docx", dir.filePath("work"));
    expectLookOnPaper(*read.rich.document, "Red", "body", dir.path());
}

TEST(DocumentLook, OpenDocumentLook)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString odt = dir.filePath("hand.odt");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeOpenDocument, odt}, &output), 0) << output.toStdString();
    Read read = readFile(odt, "odt", dir.filePath("work"));
    QList<std::pair<DocBlock::Kind, int>> kinds;
    for (const DocBlock& block : read.model.blocks)
        kinds.append({block.kind, block.kind == DocBlock::Kind::heading ? block.level : 0});
    const QList<std::pair<DocBlock::Kind, int>> expected{
        {DocBlock::Kind::heading, 2}, {DocBlock::Kind::paragraph, 0}, {DocBlock::Kind::heading, 2},
        {DocBlock::Kind::quote, 0},   {DocBlock::Kind::code, 0},      {DocBlock::Kind::paragraph, 0}};
    EXPECT_EQ(kinds, expected) << describe(read.model).toStdString();
    // Underline is underline, not emphasis.
    const QTextCharFormat underlined = formatAt(*read.rich.document, "underlined");
    EXPECT_TRUE(underlined.fontUnderline());
    EXPECT_FALSE(underlined.fontItalic());
    for (const DocRun& run : read.model.blocks.value(1).runs)
        EXPECT_FALSE(run.italic) << run.text.toStdString();
    expectLookOnPaper(*read.rich.document, "Red", "body", dir.path());
    // Its page is A4 on its side with 2 cm margins.
    EXPECT_TRUE(read.rich.landscape);
    ASSERT_TRUE(read.rich.margins.has_value());
    EXPECT_NEAR(read.rich.margins->top(), 56.69, 0.05);
}

// A Word section turned to landscape is read as landscape, with its margins.
TEST(DocumentLook, WordLandscapeSection)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("wide.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.enum.section import WD_ORIENT
from docx.shared import Cm
d = docx.Document()
s = d.sections[0]
s.orientation = WD_ORIENT.LANDSCAPE
s.page_width, s.page_height = s.page_height, s.page_width
s.left_margin = Cm(1.5)
d.add_paragraph('Across the page.')
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    EXPECT_TRUE(read.rich.landscape);
    ASSERT_TRUE(read.rich.margins.has_value());
    EXPECT_NEAR(read.rich.margins->left(), 42.5, 0.2);
}

TEST(DocumentLook, RichTextFormatHeadingsBreaksAndTitle)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString rtf = writeFile(dir.filePath("hand.rtf"), handRtf);
    Read read = readFile(rtf, "rtf", dir.filePath("work"));
    EXPECT_EQ(read.rich.title.value_or(""), "Rich Test Title");
    QList<std::pair<DocBlock::Kind, int>> kinds;
    for (const DocBlock& block : read.model.blocks)
        kinds.append({block.kind, block.kind == DocBlock::Kind::heading ? block.level : 0});
    const QList<std::pair<DocBlock::Kind, int>> expected{
        {DocBlock::Kind::heading, 1},   {DocBlock::Kind::paragraph, 0}, {DocBlock::Kind::heading, 2},
        {DocBlock::Kind::pageBreak, 0}, {DocBlock::Kind::paragraph, 0}, {DocBlock::Kind::code, 0}};
    EXPECT_EQ(kinds, expected) << describe(read.model).toStdString();
    EXPECT_TRUE(read.model.blocks.value(1).plainText().startsWith("Water is H2O and")) << describe(read.model).toStdString();
    expectLookOnPaper(*read.rich.document, "Red", "body", dir.path());
}

// Underline and raised or lowered text of an RTF and of an ODT reach a DOCX, read back by
// python-docx.
TEST(DocumentLook, UnderlineAndScriptsReachWord)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString odt = dir.filePath("hand.odt");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeOpenDocument, odt}, &output), 0) << output.toStdString();
    const QString rtf = writeFile(dir.filePath("scripts.rtf"),
                                  "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times;}}\\f0 Water is H{\\sub 2}O, "
                                  "E=mc{\\super 2} and {\\ul marked} words.\\par}");
    constexpr char readBack[] = R"(import sys, docx
for p in docx.Document(sys.argv[1]).paragraphs:
    for r in p.runs:
        if r.underline: print('underline:' + r.text)
        if r.font.superscript: print('super:' + r.text)
        if r.font.subscript: print('sub:' + r.text)
)";
    for (const auto& [file, format, expected] :
         {std::tuple{rtf, QString("rtf"), QStringList{"sub:2", "super:2", "underline:marked"}},
          std::tuple{odt, QString("odt"), QStringList{"underline:underlined", "super:2"}}}) {
        const QString docx = writeRichDocx(file, format, dir.path());
        ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", readBack, docx}, &output), 0) << output.toStdString();
        const QStringList lines = QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
        EXPECT_EQ(lines, expected) << format.toStdString();
    }
}

// The colour and alignment of an RTF's and an ODT's red centred line reach a DOCX, read back
// by python-docx.
TEST(DocumentLook, ColourAndAlignmentReachWord)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString odt = dir.filePath("hand.odt");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", makeOpenDocument, odt}, &output), 0) << output.toStdString();
    const QString rtf = writeFile(dir.filePath("hand.rtf"), handRtf);
    constexpr char readBack[] = R"(import sys, docx
for p in docx.Document(sys.argv[1]).paragraphs:
    if not p.text.strip(): continue
    colours = sorted({str(r.font.color.rgb) for r in p.runs if r.font.color and r.font.color.type is not None})
    print('%s|%s|%s|%s' % (p.text, p.alignment, ','.join(colours), p.style.name))
)";
    for (const auto& [file, format, red] : {std::tuple{rtf, QString("rtf"), QString("Red centred|CENTER (1)|C80000|")},
                                            std::tuple{odt, QString("odt"), QString("Red centred title|CENTER (1)|C9211E|")}}) {
        const QString docx = writeRichDocx(file, format, dir.path());
        ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", readBack, docx}, &output), 0) << output.toStdString();
        const QStringList lines = QString::fromUtf8(output).split('\n', Qt::SkipEmptyParts);
        const auto line = std::find_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(red); });
        EXPECT_NE(line, lines.end()) << format.toStdString() << "\n" << output.toStdString();
        // The body stays black and aligned as the page says.
        for (const QString& l : lines) {
            if (l.contains("body")) {
                EXPECT_FALSE(l.contains("C80000") || l.contains("C9211E")) << l.toStdString();
            }
        }
        QByteArray xml;
        ASSERT_EQ(runProgram("/usr/bin/unzip", {"-p", docx, "word/document.xml"}, &xml), 0);
        EXPECT_TRUE(xml.contains("<w:jc w:val=\"center\"/>")) << format.toStdString();
        EXPECT_TRUE(xml.contains("<w:color w:val=\"")) << format.toStdString();
    }
    // The RTF's heading keeps its outline level.
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", readBack, dir.filePath("rtf.docx")}, &output), 0);
    EXPECT_TRUE(output.contains("Chapter one|")) << output.toStdString();
    EXPECT_TRUE(output.contains("|Heading 1\n")) << output.toStdString();

    // Word's other reader takes them whole.
    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    for (const QString format : {"rtf", "odt"}) {
        ASSERT_EQ(runProgram("soffice", {"-env:UserInstallation=file://" + dir.filePath("lo"), "--headless", "--convert-to",
                                         "pdf", "--outdir", dir.filePath("lo-out"), dir.filePath(format + ".docx")},
                             &output),
                  0)
            << output.toStdString();
        ASSERT_EQ(runProgram("pdftotext", {dir.filePath("lo-out/" + format + ".pdf"), "-"}, &output), 0);
        EXPECT_TRUE(output.contains("Red centred")) << format.toStdString();
    }
}

// Plain text keeps a list's markers: a dash for bullets, the number for numbered items.
TEST(DocumentLook, PlainTextKeepsListMarkers)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("lists.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nd = docx.Document()\nd.add_paragraph('Shopping')\n"
                                "d.add_paragraph('Milk', style='List Bullet')\nd.add_paragraph('Bread', style='List Bullet')\n"
                                "d.add_paragraph('Steps')\nd.add_paragraph('Open', style='List Number')\n"
                                "d.add_paragraph('Close', style='List Number')\nd.save(sys.argv[1])\n",
                          docx},
                         &output),
              0)
        << output.toStdString();
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    LoadedDocument document("lists", std::nullopt, true);
    document.setRichText(std::unique_ptr<QTextDocument>(read.rich.document->clone()));
    const QString txt = dir.filePath("lists.txt");
    DocumentWriter::writeDocument(document, DocumentOutput::txt, QUrl::fromLocalFile(txt), SettingsSnapshot{},
                                  OperationOptions{}, QUrl::fromLocalFile(dir.path()), {}, "x");
    EXPECT_EQ(QString::fromUtf8(qv::test::readFile(txt)).trimmed(), "Shopping\n- Milk\n- Bread\nSteps\n1. Open\n2. Close");
}

// A landscape RTF holding a twelve-column table is laid out on landscape pages, and the table's
// type shrinks so that no word is broken.
TEST(DocumentLook, LandscapeSourceAndWideTable)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QStringList towns{"Кіровоградська", "Дніпропетровська", "Житомирська", "Хмельницька",
                            "Тернопільська", "Чернівецька",     "Закарпатська", "Миколаївська",
                            "Запорізька",    "Полтавська",      "Вінницька",    "Харківська"};
    QByteArray rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\paperw16840\\paperh11907\\margl1134\\margr1134"
                     "\\margt1134\\margb1134\\lndscpsxn\n";
    for (int row = 0; row < 2; ++row) {
        rtf += "\\trowd";
        for (int c = 1; c <= towns.size(); ++c)
            rtf += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" + QByteArray::number(c * 1200);
        rtf += "\n";
        for (const QString& town : towns) {
            rtf += "\\pard\\intbl ";
            for (const QChar c : town)
                rtf += "\\u" + QByteArray::number(int(c.unicode())) + "?";
            rtf += "\\cell\n";
        }
        rtf += "\\row\n";
    }
    rtf += "\\pard After the table.\\par}";
    const QString file = writeFile(dir.filePath("wide.rtf"), rtf);
    const QString work = dir.filePath("work");
    QDir().mkpath(work);
    RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(file), "rtf", QUrl::fromLocalFile(work), {});
    EXPECT_TRUE(rich.landscape);
    ASSERT_TRUE(rich.margins.has_value());
    EXPECT_NEAR(rich.margins->left(), 56.7, 0.1);

    LoadedDocument document("wide", std::nullopt, true);
    document.setRichText(std::move(rich.document));
    document.setPageSetup({rich.landscape, rich.margins});
    const QString pdf = dir.filePath("wide.pdf");
    DocumentWriter::writeDocument(document, DocumentOutput::pdf, QUrl::fromLocalFile(pdf), SettingsSnapshot{},
                                  OperationOptions{}, QUrl::fromLocalFile(work), {}, "x");
    QByteArray info;
    ASSERT_EQ(runProgram("pdfinfo", {pdf}, &info), 0);
    EXPECT_TRUE(info.contains("841.89 x 595.28") || info.contains("842 x 595")) << info.toStdString();
    const QList<QList<Word>> pages = pdfWords(pdf);
    for (const QString& town : towns)
        EXPECT_TRUE(findWord(pages, town).has_value()) << town.toStdString() << " is broken";
}

// Photos reach the PDF as the JPEG bytes they came in, once however often they are shown.
TEST(DocumentLook, PhotosKeepTheirOwnBytes)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    QImage photo(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y) {
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb((x * 7 + y) % 256, (y * 3 + (x ^ y)) % 256, (x * y / 97) % 256));
    }
    const QString jpeg = dir.filePath("photo.jpg");
    ASSERT_TRUE(photo.save(jpeg, "JPEG", 80));
    const QString docx = dir.filePath("photos.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nfrom docx.shared import Inches\nd = docx.Document()\n"
                                "for i in range(3):\n    d.add_paragraph('Photo %d' % i)\n"
                                "    d.add_picture(sys.argv[2], width=Inches(4))\nd.save(sys.argv[1])\n",
                          docx, jpeg},
                         &output),
              0)
        << output.toStdString();
    Read read = readFile(docx, "docx", dir.filePath("work"));
    const QString pdf = dir.filePath("photos.pdf");
    DocumentWriter::paginateToPDF(*read.rich.document, QUrl::fromLocalFile(pdf), QSizeF(595.28, 841.89), DocumentWriter::margin);
    ASSERT_EQ(runProgram("pdfimages", {"-list", pdf}, &output), 0);
    EXPECT_EQ(output.count(" jpeg "), 3) << output.toStdString();
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    ASSERT_EQ(runProgram("pdfimages", {"-j", "-f", "1", "-l", "1", pdf, out + "/img"}, &output), 0);
    const QByteArray original = qv::test::readFile(jpeg);
    EXPECT_EQ(qv::test::readFile(out + "/img-000.jpg"), original);
    EXPECT_LT(QFileInfo(pdf).size(), original.size() + 60000) << "one copy of the photo";
}

// Drawn pictures reach the PDF with their own pixels, one object however often they are shown,
// and the text around them stays as it was.
TEST(DocumentLook, DrawnPicturesKeepTheirPixelsOnce)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    QImage diagram(640, 480, QImage::Format_RGB32);
    diagram.fill(Qt::white);
    {
        QPainter painter(&diagram);
        painter.setPen(QPen(Qt::darkBlue, 3));
        for (int i = 0; i < 12; ++i) {
            painter.setBrush(QColor::fromHsv(i * 30, 200, 230));
            painter.drawRect(20 + i * 50, 460 - i * 35, 40, i * 35);
        }
        painter.drawLine(0, 0, 639, 479);
    }
    // A colour PNG as it came, and a palette one whose rows the PDF cannot take as they are.
    const QString rgbPng = dir.filePath("diagram.png");
    ASSERT_TRUE(diagram.save(rgbPng, "PNG"));
    const QImage palette = diagram.mirrored(true, false).convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
    const QString palettePng = dir.filePath("palette.png");
    ASSERT_TRUE(palette.save(palettePng, "PNG"));
    const QString docx = dir.filePath("diagrams.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nfrom docx.shared import Inches\nd = docx.Document()\n"
                                "for i in range(3):\n    d.add_paragraph('Figure number %d' % i)\n"
                                "    d.add_picture(sys.argv[2], width=Inches(4))\n"
                                "d.add_paragraph('Figure mirrored')\nd.add_picture(sys.argv[3], width=Inches(4))\n"
                                "d.save(sys.argv[1])\n",
                          docx, rgbPng, palettePng},
                         &output),
              0)
        << output.toStdString();
    Read read = readFile(docx, "docx", dir.filePath("work"));
    const QString pdf = dir.filePath("diagrams.pdf");
    DocumentWriter::paginateToPDF(*read.rich.document, QUrl::fromLocalFile(pdf), QSizeF(595.28, 841.89), DocumentWriter::margin);

    ASSERT_EQ(runProgram("pdfimages", {"-list", pdf}, &output), 0);
    const QList<QByteArray> rows = output.split('\n').mid(2);
    QSet<QByteArray> objects;
    int shown = 0;
    for (const QByteArray& row : rows) {
        const QList<QByteArray> fields = row.simplified().split(' ');
        if (fields.size() < 12)
            continue;
        ++shown;
        EXPECT_EQ(fields[8], "image") << "lossless: " << row.toStdString();
        objects.insert(fields[10]);
    }
    EXPECT_EQ(shown, 4) << output.toStdString();
    EXPECT_EQ(objects.size(), 2) << output.toStdString();

    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    ASSERT_EQ(runProgram("pdfimages", {"-png", pdf, out + "/img"}, &output), 0);
    const auto samePixels = [](const QString& a, const QString& b) {
        return QImage(a).convertToFormat(QImage::Format_RGB888) == QImage(b).convertToFormat(QImage::Format_RGB888);
    };
    for (const char* name : {"/img-000.png", "/img-001.png", "/img-002.png"})
        EXPECT_TRUE(samePixels(out + name, rgbPng)) << name;
    EXPECT_TRUE(samePixels(out + "/img-003.png", palettePng));

    ASSERT_EQ(runProgram("pdftotext", {pdf, "-"}, &output), 0);
    const QString text = QString::fromUtf8(output).simplified();
    EXPECT_TRUE(text.contains(QRegularExpression("Figure number 0.*Figure number 1.*Figure number 2.*Figure mirrored")))
        << text.toStdString();
    // The rewritten file keeps the page's exact size.
    ASSERT_EQ(runProgram("pdfinfo", {pdf}, &output), 0);
    EXPECT_TRUE(output.contains("595.28 x 841.89")) << output.toStdString();
}

// A Word footer with page fields prints on every page with its numbers; a header likewise.
TEST(DocumentLook, HeadersAndFootersWithPageNumbers)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("numbered.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.enum.text import WD_BREAK
from docx.oxml import parse_xml
d = docx.Document()
s = d.sections[0]
s.header.paragraphs[0].text = 'Quarterly report'
f = s.footer.paragraphs[0]
f.add_run('Page ')
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
f._p.append(parse_xml('<w:fldSimple %s w:instr=" PAGE "><w:r><w:t>9</w:t></w:r></w:fldSimple>' % w))
f.add_run(' of ')
f._p.append(parse_xml('<w:r %s><w:fldChar w:fldCharType="begin"/></w:r>' % w))
f._p.append(parse_xml('<w:r %s><w:instrText> NUMPAGES </w:instrText></w:r>' % w))
f._p.append(parse_xml('<w:r %s><w:fldChar w:fldCharType="separate"/></w:r>' % w))
f._p.append(parse_xml('<w:r %s><w:t>9</w:t></w:r>' % w))
f._p.append(parse_xml('<w:r %s><w:fldChar w:fldCharType="end"/></w:r>' % w))
d.add_paragraph('First page text.')
d.add_paragraph().add_run().add_break(WD_BREAK.PAGE)
d.add_paragraph('Second page text.')
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const QString work = dir.filePath("work");
    QDir().mkpath(work);
    RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(docx), "docx", QUrl::fromLocalFile(work), {});
    LoadedDocument document("numbered", std::nullopt, true);
    document.setRichText(std::move(rich.document));
    document.setPageSetup({rich.landscape, rich.margins, rich.header, rich.footer});
    const QString pdf = dir.filePath("numbered.pdf");
    DocumentWriter::writeDocument(document, DocumentOutput::pdf, QUrl::fromLocalFile(pdf), SettingsSnapshot{},
                                  OperationOptions{}, QUrl::fromLocalFile(work), {}, "x");
    for (int page = 1; page <= 2; ++page) {
        ASSERT_EQ(runProgram("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"}, &output), 0);
        EXPECT_TRUE(output.contains(QStringLiteral("Page %1 of 2").arg(page).toUtf8())) << output.toStdString();
        EXPECT_TRUE(output.contains("Quarterly report")) << output.toStdString();
        EXPECT_FALSE(output.contains("9")) << "the field's stored result is not shown";
    }
}

// A SAVEDATE field shows the date the file's properties say it was saved, not a stale result.
TEST(DocumentLook, SaveDateFieldsShowTheSavedDate)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("dated.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx, datetime
from docx.oxml import parse_xml
d = docx.Document()
d.core_properties.modified = datetime.datetime(2023, 11, 24, 13, 12)
p = d.add_paragraph('Last update: ')
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
for run in ['<w:fldChar w:fldCharType="begin"/>', '<w:instrText xml:space="preserve"> SAVEDATE  \\@ "MMMM d, yyyy"  \\* MERGEFORMAT </w:instrText>',
            '<w:fldChar w:fldCharType="separate"/>', '<w:t>May 1, 2017</w:t>', '<w:fldChar w:fldCharType="end"/>']:
    p._p.append(parse_xml('<w:r %s>%s</w:r>' % (w, run)))
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    EXPECT_EQ(read.model.blocks.value(0).plainText(), "Last update: November 24, 2023") << describe(read.model).toStdString();
}

// A numbered list that starts at 7 on its own shows 7 and 8, and stays a list in the model.
TEST(DocumentLook, NumberedListStartingPastOne)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString markdown = writeFile(dir.filePath("list.md"), "Before the list.\n\n7. Seven\n8. Eight\n\nAfter it.\n");
    const QString docx = dir.filePath("list.docx");
    ASSERT_EQ(runProgram("pandoc", {markdown, "-o", docx}), 0);
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    EXPECT_FALSE(read.rich.document->find("7. Seven").isNull()) << read.rich.document->toPlainText().toStdString();
    EXPECT_FALSE(read.rich.document->find("8. Eight").isNull());
    EXPECT_TRUE(read.model.blocks.contains(DocBlock::listItem(true, 1, {DocRun("Seven")}))) << describe(read.model).toStdString();
    EXPECT_TRUE(read.model.blocks.contains(DocBlock::listItem(true, 1, {DocRun("Eight")})));
    const QString text = AttributedTextReader::plainText(*read.rich.document);
    EXPECT_TRUE(text.contains("\n7. Seven\n8. Eight\n")) << text.toStdString();
}

// A Word table cell's shading is the cell's background in the rich text, and so on paper.
TEST(DocumentLook, ShadedWordCells)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("shaded.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.oxml import parse_xml
d = docx.Document()
t = d.add_table(rows=1, cols=2)
t.cell(0, 0).text = 'Shaded'; t.cell(0, 1).text = 'Plain'
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
t.cell(0, 0)._tc.get_or_add_tcPr().append(parse_xml('<w:shd %s w:val="clear" w:color="auto" w:fill="99CCFF"/>' % w))
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const Read read = readFile(docx, "docx", dir.filePath("work"));
    const auto background = [&](const QString& text) {
        const QTextCursor found = read.rich.document->find(text);
        QTextTable* table = found.isNull() ? nullptr : found.currentTable();
        return table ? table->cellAt(found.block().position()).format().background().color() : QColor();
    };
    EXPECT_EQ(background("Shaded"), QColor(0x99, 0xCC, 0xFF));
    EXPECT_NE(background("Plain"), QColor(0x99, 0xCC, 0xFF));
}

// LibreOffice writes a control word and the text after it on separate lines; the RTF it makes
// of a subscript reads back as H2O, not "H 2 O".
TEST(DocumentLook, LibreOfficeRtfKeepsSubscriptsTight)
{
    if (!Capabilities::shared().pandocURL() || !Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "pandoc or LibreOffice is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("water.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nd = docx.Document()\np = d.add_paragraph('Water is H')\n"
                                "p.add_run('2').font.subscript = True\np.add_run('O and E=mc')\n"
                                "p.add_run('2').font.superscript = True\nd.save(sys.argv[1])\n",
                          docx},
                         &output),
              0)
        << output.toStdString();
    const QString rtf = dir.filePath("water.rtf");
    OfficeConverter::convertWithLibreOffice(QUrl::fromLocalFile(docx), QUrl::fromLocalFile(rtf), "rtf", {});
    const Read read = readFile(rtf, "rtf", dir.filePath("work"));
    ASSERT_FALSE(read.model.blocks.isEmpty());
    EXPECT_EQ(read.model.blocks[0].plainText(), "Water is H2O and E=mc2") << describe(read.model).toStdString();
    bool lowered = false;
    for (const DocRun& run : read.model.blocks[0].runs)
        lowered |= run.script < 0 && run.text == "2";
    EXPECT_TRUE(lowered);
}

namespace {

// A PDF of a word-processing file through the whole road: the file's page setup, margins and
// running heads.
QString richToPdf(const QString& file, const QString& work)
{
    QDir().mkpath(work);
    RichTextReader::Result rich = RichTextReader::readAttributedFile(QUrl::fromLocalFile(file), QFileInfo(file).suffix(),
                                                                     QUrl::fromLocalFile(work), {});
    LoadedDocument document(QFileInfo(file).completeBaseName(), std::nullopt, true);
    document.setRichText(std::move(rich.document));
    document.setPageSetup({rich.landscape, rich.margins, rich.header, rich.footer});
    const QString pdf = QDir(work).filePath(QFileInfo(file).completeBaseName() + ".pdf");
    DocumentWriter::writeDocument(document, DocumentOutput::pdf, QUrl::fromLocalFile(pdf), SettingsSnapshot{},
                                  OperationOptions{}, QUrl::fromLocalFile(work), {}, "x");
    return pdf;
}

// Soft noise in colour, in 8-pixel squares: alike to another at a glance (both grey from afar),
// different up close, and coded anew by Qt with little loss.
QString writeNoisePhoto(const QString& path, quint32 seed)
{
    QImage photo(640, 480, QImage::Format_RGB32);
    quint32 state = seed;
    const auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return 88 + int((state >> 16) % 81);
    };
    for (int y = 0; y < photo.height(); y += 8) {
        for (int x = 0; x < photo.width(); x += 8) {
            const QColor square(next(), next(), next());
            for (int j = 0; j < 8; ++j) {
                for (int i = 0; i < 8; ++i)
                    photo.setPixelColor(x + i, y + j, square);
            }
        }
    }
    return photo.save(path, "JPEG", 90) ? path : QString();
}

} // namespace

// Two photos that look alike from afar each stay where the source shows them, as their own bytes,
// and a photo moved to the next page leaves nothing at the foot of the one before.
TEST(DocumentLook, AlikePhotosKeepTheirPlaces)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString first = writeNoisePhoto(dir.filePath("first.jpg"), 1);
    const QString second = writeNoisePhoto(dir.filePath("second.jpg"), 2);
    ASSERT_FALSE(first.isEmpty() || second.isEmpty());
    const QString docx = dir.filePath("alike.docx");
    QByteArray output;
    ASSERT_EQ(runProgram("/usr/bin/python3",
                         {"-c", "import sys, docx\nfrom docx.shared import Inches\nd = docx.Document()\n"
                                "for i in range(4):\n    d.add_paragraph('Photo %d' % i)\n"
                                "    d.add_picture(sys.argv[2 + i % 2], width=Inches(4))\nd.save(sys.argv[1])\n",
                          docx, first, second},
                         &output),
              0)
        << output.toStdString();
    const QString pdf = richToPdf(docx, dir.filePath("work"));
    ASSERT_EQ(runProgram("pdfimages", {"-list", pdf}, &output), 0);
    EXPECT_EQ(output.count(" jpeg "), 4) << "each photo drawn once: " << output.toStdString();
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    ASSERT_EQ(runProgram("pdfimages", {"-j", pdf, out + "/img"}, &output), 0);
    const QByteArray bytes[2] = {qv::test::readFile(first), qv::test::readFile(second)};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(qv::test::readFile(out + QStringLiteral("/img-%1.jpg").arg(i, 3, 10, QLatin1Char('0'))), bytes[i % 2]) << i;
}

// The text stands inside the margins the file sets, on every page: no frame of Qt's own added.
TEST(DocumentLook, TextStandsAtTheSourceMargins)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("margins.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.shared import Cm
d = docx.Document()
s = d.sections[0]
s.page_width, s.page_height = Cm(21), Cm(29.7)
s.left_margin = s.right_margin = Cm(2.5)
s.top_margin = s.bottom_margin = Cm(2)
for i in range(60):
    d.add_paragraph('Lorem harbour lantern meadow orchard granite willow thunder velvet copper ribbon saddle %d.' % i)
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const QList<QList<Word>> pages = pdfWords(richToPdf(docx, dir.filePath("work")));
    ASSERT_GE(pages.size(), 2);
    QStringList numbers;
    for (const QList<Word>& page : pages) {
        ASSERT_FALSE(page.isEmpty());
        double left = 1e9, top = 1e9, right = 0, bottom = 0;
        for (const Word& word : page) {
            left = std::min(left, word.box.left());
            top = std::min(top, word.box.top());
            right = std::max(right, word.box.right());
            bottom = std::max(bottom, word.box.bottom());
            if (word.text.endsWith(QLatin1Char('.')) && word.text.front().isDigit())
                numbers.append(word.text);
        }
        // "Lorem" begins at the margin, less the L's own bearing of a point or so; the first
        // line's box (its glyphs' full height) reaches up to the margin.
        EXPECT_NEAR(left, 70.87, 1.6);
        EXPECT_NEAR(top, 56.69, 1);
        EXPECT_LE(right, 595.28 - 70.87);
        EXPECT_LE(bottom, 841.89 - 56.69);
    }
    // Each paragraph's text once: no line of one page comes back, hidden, on the next.
    EXPECT_EQ(numbers.size(), 60);
    EXPECT_EQ(numbers.size(), QSet<QString>(numbers.begin(), numbers.end()).size()) << numbers.join(' ').toStdString();
}

// Chinese characters reach the PDF when a font for them is installed, and a Symbol-font
// character comes out as the sign the font draws.
TEST(DocumentLook, ChineseAndSymbolFontCharacters)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("signs.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.oxml import parse_xml
d = docx.Document()
p = d.add_paragraph('Hello, \u4e16\u754c. Either ')
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
p._p.append(parse_xml('<w:r %s><w:sym w:font="Symbol" w:char="F0DA"/></w:r>' % w))
p.add_run(' or.')
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const QString pdf = richToPdf(docx, dir.filePath("work"));
    ASSERT_EQ(runProgram("pdftotext", {"-enc", "UTF-8", pdf, "-"}, &output), 0);
    const QString text = QString::fromUtf8(output);
    EXPECT_TRUE(text.contains(QStringLiteral("Either \u2228 or."))) << output.toStdString();
    QByteArray fonts;
    if (runProgram("fc-list", {":lang=zh"}, &fonts) == 0 && !fonts.trimmed().isEmpty()) {
        EXPECT_TRUE(text.contains(QStringLiteral("\u4e16\u754c"))) << output.toStdString();
    }
}

namespace {

// Each page of the PDF shows the running head and "Page N of M" in its foot.
void expectRunningHeads(const QString& pdf, int pages)
{
    for (int page = 1; page <= pages; ++page) {
        QByteArray output;
        ASSERT_EQ(runProgram("pdftotext", {"-f", QString::number(page), "-l", QString::number(page), pdf, "-"}, &output), 0);
        EXPECT_TRUE(output.contains(QStringLiteral("Page %1 of %2").arg(page).arg(pages).toUtf8())) << output.toStdString();
        EXPECT_TRUE(output.contains("Quarterly report")) << output.toStdString();
        EXPECT_FALSE(output.contains("9")) << "the field's stored result is not shown";
    }
}

} // namespace

// An RTF's \header and \footer print on every page, their PAGE and NUMPAGES fields as numbers:
// written by hand, and as LibreOffice writes them from a Word file.
TEST(DocumentLook, RichTextFormatRunningHeads)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString rtf = writeFile(dir.filePath("hand.rtf"),
                                  "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n"
                                  "{\\header\\pard\\qc\\plain Quarterly report\\par}\n"
                                  "{\\footer\\pard\\qc\\plain Page {\\field{\\*\\fldinst PAGE}{\\fldrslt 9}} of "
                                  "{\\field{\\*\\fldinst { NUMPAGES }}{\\fldrslt 9}}\\par}\n"
                                  "\\pard First page text.\\par\n\\page Second page text.\\par}");
    expectRunningHeads(richToPdf(rtf, dir.filePath("hand")), 2);

    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    const QString docx = dir.filePath("office.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.enum.text import WD_BREAK
from docx.oxml import parse_xml
d = docx.Document()
s = d.sections[0]
s.header.paragraphs[0].text = 'Quarterly report'
f = s.footer.paragraphs[0]
f.add_run('Page ')
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
f._p.append(parse_xml('<w:fldSimple %s w:instr=" PAGE "><w:r><w:t>9</w:t></w:r></w:fldSimple>' % w))
f.add_run(' of ')
f._p.append(parse_xml('<w:fldSimple %s w:instr=" NUMPAGES "><w:r><w:t>9</w:t></w:r></w:fldSimple>' % w))
d.add_paragraph('First page text.')
d.add_paragraph().add_run().add_break(WD_BREAK.PAGE)
d.add_paragraph('Second page text.')
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const QString profile = QUrl::fromLocalFile(dir.filePath("profile")).toString();
    ASSERT_EQ(runProgram("soffice", {"--headless", "-env:UserInstallation=" + profile, "--convert-to", "rtf", "--outdir",
                                     dir.path(), docx},
                         &output),
              0)
        << output.toStdString();
    expectRunningHeads(richToPdf(dir.filePath("office.rtf"), dir.filePath("office")), 2);
}

// An ODT table cell's background (an automatic cell style) shades the cell in the rich text.
TEST(DocumentLook, ShadedOpenDocumentCells)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString odt = dir.filePath("shaded.odt");
    QByteArray output;
    constexpr char make[] = R"(import sys, zipfile
ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
      'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
      'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" office:version="1.3"')
content = ('<?xml version="1.0" encoding="UTF-8"?><office:document-content ' + ns + '><office:automatic-styles>'
  '<style:style style:name="Table1.A1" style:family="table-cell"><style:table-cell-properties fo:background-color="#99ccff" fo:border="none"/></style:style>'
  '<style:style style:name="Table1.B1" style:family="table-cell"><style:table-cell-properties fo:border="none"/></style:style>'
  '</office:automatic-styles><office:body><office:text>'
  '<table:table table:name="Table1"><table:table-column table:number-columns-repeated="2"/><table:table-row>'
  '<table:table-cell table:style-name="Table1.A1" office:value-type="string"><text:p>Shaded</text:p></table:table-cell>'
  '<table:table-cell table:style-name="Table1.B1" office:value-type="string"><text:p>Plain</text:p></table:table-cell>'
  '</table:table-row></table:table><text:p>After the table.</text:p>'
  '</office:text></office:body></office:document-content>')
manifest = ('<?xml version="1.0" encoding="UTF-8"?><manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.3">'
  '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>'
  '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>')
z = zipfile.ZipFile(sys.argv[1], 'w')
z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.text')
z.writestr('content.xml', content, zipfile.ZIP_DEFLATED)
z.writestr('META-INF/manifest.xml', manifest, zipfile.ZIP_DEFLATED)
z.close()
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, odt}, &output), 0) << output.toStdString();
    const Read read = readFile(odt, "odt", dir.filePath("work"));
    const auto background = [&](const QString& text) {
        const QTextCursor found = read.rich.document->find(text);
        QTextTable* table = found.isNull() ? nullptr : found.currentTable();
        return table ? table->cellAt(found.block().position()).format().background().color() : QColor();
    };
    EXPECT_EQ(background("Shaded"), QColor(0x99, 0xCC, 0xFF)) << read.rich.document->toPlainText().toStdString();
    EXPECT_NE(background("Plain"), QColor(0x99, 0xCC, 0xFF));
}

// Text set in the Symbol font reads as the signs the font draws, whether the file holds the
// font's codes as Word does or as LibreOffice writes them into ODT and RTF ("Ú" for the
// logical or, "a" for alpha).
TEST(DocumentLook, SymbolFontTextReadsAsItsSigns)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    const QString docx = dir.filePath("signs.docx");
    QByteArray output;
    constexpr char make[] = R"(import sys, docx
from docx.oxml import parse_xml
d = docx.Document()
p = d.add_paragraph('Either ')
w = 'xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"'
p._p.append(parse_xml('<w:r %s><w:sym w:font="Symbol" w:char="F0DA"/></w:r>' % w))
p.add_run(' or, angle ')
r = p.add_run('a'); r.font.name = 'Symbol'
p.add_run(' here.')
d.save(sys.argv[1])
)";
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", make, docx}, &output), 0) << output.toStdString();
    const QString expected = QStringLiteral("Either \u2228 or, angle \u03B1 here.");
    EXPECT_EQ(readFile(docx, "docx", dir.filePath("docx")).model.blocks.value(0).plainText(), expected);

    if (!Capabilities::shared().libreOfficeURL())
        GTEST_SKIP() << "LibreOffice is not installed";
    const QString profile = QUrl::fromLocalFile(dir.filePath("profile")).toString();
    for (const QString& format : {QStringLiteral("odt"), QStringLiteral("rtf")}) {
        ASSERT_EQ(runProgram("soffice", {"--headless", "-env:UserInstallation=" + profile, "--convert-to", format,
                                         "--outdir", dir.path(), docx},
                             &output),
                  0)
            << output.toStdString();
        const Read read = readFile(dir.filePath("signs." + format), format, dir.filePath(format));
        EXPECT_EQ(read.model.blocks.value(0).plainText(), expected) << format.toStdString();
    }
}
