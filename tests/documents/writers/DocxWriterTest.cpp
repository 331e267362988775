#include "documents/PackageTestTools.h"

#include "documents/writers/DocxWriter.h"
#include "model/errors/CancellationError.h"
#include "model/errors/SystemError.h"
#include "support/SmallDisk.h"
#include "support/TestFiles.h"

#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>

using namespace qv;
using namespace qv::test;

namespace {

DocRun linked(const QString& text, const QString& link)
{
    DocRun run(text);
    run.link = link;
    return run;
}

DocRun bold(const QString& text)
{
    DocRun run(text);
    run.bold = true;
    return run;
}

QByteArray tiffBytes(const QTemporaryDir& dir)
{
    const QString png = writeFile(dir.filePath("source.png"), encodedImage(60, 30, "PNG"));
    const QString tiff = dir.filePath("picture.tif");
    if (runProgram("vips", {"copy", png, tiff}) != 0)
        return {};
    return readFile(tiff);
}

int count(const QByteArray& haystack, const QByteArray& needle)
{
    return int(haystack.count(needle));
}

const QStringList sevenParts{"[Content_Types].xml", "_rels/.rels", "docProps/core.xml", "word/_rels/document.xml.rels",
                             "word/document.xml", "word/styles.xml", "word/numbering.xml"};

} // namespace

TEST(DocxWriter, WritesAPackageThatOtherToolsRead)
{
    QTemporaryDir dir;
    const QByteArray tiff = tiffBytes(dir);
    ASSERT_TRUE(tiff.startsWith("II*") || tiff.startsWith("MM")) << "vips made no TIFF";
    const QList<DocBlock> blocks{
        DocBlock::heading(1, {DocRun("Notes")}),
        DocBlock::paragraph({DocRun("See "), linked("the site", "https://example.com/a?b=1&c=2"), DocRun(" and "),
                             linked("intro", "#intro")}),
        DocBlock::listItem(false, 1, {DocRun("bullet one")}),
        DocBlock::listItem(true, 2, {DocRun("nested number")}),
        DocBlock::table({{"Name", "Price"}, {"Tea", "3"}}),
        DocBlock::code("int a;\nint b;"),
        DocBlock::quote({DocRun("quoted")}),
        DocBlock::rule(),
        DocBlock::pageBreak(),
        DocBlock::image(std::nullopt, tiff, "png", {DocRun("a TIFF calling itself PNG")}),
        DocBlock::paragraph({bold("The end")}),
    };
    const QString out = dir.filePath("out.docx");
    writeDOCX(blocks, "Notes", true, out);

    const PackageContents package = readPackage(out);
    for (const QString& name : sevenParts)
        EXPECT_TRUE(package.parts.contains(name)) << name.toStdString();
    ASSERT_TRUE(package.parts.contains("word/media/image1.png"));
    EXPECT_TRUE(package.parts["word/media/image1.png"].startsWith("\x89PNG")) << "the TIFF is re-encoded";
    EXPECT_EQ(package.names.size(), 8);

    for (const QString& name : sevenParts) {
        const QString part = writeFile(dir.filePath("parts/" + QString(name).replace('/', '_')), package.parts[name]);
        QByteArray lint;
        EXPECT_EQ(runProgram("xmllint", {"--noout", part}, &lint), 0) << name.toStdString() << lint.toStdString();
    }

    const QByteArray rels = package.parts["word/_rels/document.xml.rels"];
    EXPECT_TRUE(rels.contains("Target=\"https://example.com/a?b=1&amp;c=2\" TargetMode=\"External\""));
    EXPECT_TRUE(rels.contains("Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                              "relationships/image\" Target=\"media/image1.png\"/>"));
    EXPECT_EQ(count(rels, "TargetMode"), 1) << "a fragment link makes no relationship";
    const QByteArray body = package.parts["word/document.xml"];
    EXPECT_TRUE(body.contains("<w:pStyle w:val=\"Heading1\"/>"));
    EXPECT_TRUE(body.contains("<w:pStyle w:val=\"ListParagraph\"/><w:numPr><w:ilvl w:val=\"1\"/><w:numId w:val=\"2\"/>"));
    EXPECT_TRUE(body.contains("<w:r><w:rPr><w:rStyle w:val=\"Hyperlink\"/></w:rPr><w:t xml:space=\"preserve\">intro"));
    EXPECT_TRUE(body.contains("<w:pgSz w:w=\"12240\" w:h=\"15840\"/>"));

    QByteArray plain;
    ASSERT_EQ(runProgram("pandoc", {"-f", "docx", "-t", "plain", out}, &plain), 0) << plain.toStdString();
    for (const char* text : {"Notes", "the site", "bullet one", "nested number", "Tea", "int b;", "quoted", "The end"})
        EXPECT_TRUE(plain.contains(text)) << text << "\n" << plain.toStdString();

    QByteArray markdown;
    ASSERT_EQ(runProgram("pandoc", {"-f", "docx", "-t", "markdown", out}, &markdown), 0);
    EXPECT_TRUE(markdown.contains("# Notes")) << markdown.toStdString();
    EXPECT_TRUE(markdown.contains("https://example.com/a?b=1&c=2"));

    // python-docx, where it is installed, sees the styles and the table.
    QByteArray python;
    if (runProgram("/usr/bin/python3", {"-c", "import docx"}, &python) == 0) {
        QByteArray styles;
        ASSERT_EQ(runProgram("/usr/bin/python3",
                             {"-c", "import docx,sys; d=docx.Document(sys.argv[1]); "
                                    "print(' '.join(p.style.name for p in d.paragraphs)); print(len(d.tables))",
                              out},
                             &styles),
                  0)
            << styles.toStdString();
        EXPECT_TRUE(styles.contains("Heading 1")) << styles.toStdString();
        EXPECT_TRUE(styles.contains("List Paragraph"));
    }
}

TEST(DocxWriter, NumberedListsRestartAfterOtherBlocks)
{
    QTemporaryDir dir;
    const QList<DocBlock> blocks{
        DocBlock::listItem(true, 1, {DocRun("a")}),  DocBlock::listItem(false, 2, {DocRun("bullet inside")}),
        DocBlock::listItem(true, 1, {DocRun("b")}),  DocBlock::paragraph({DocRun("between")}),
        DocBlock::listItem(true, 1, {DocRun("c")}),  DocBlock::listItem(false, 12, {DocRun("deep")}),
        DocBlock::heading(0, {DocRun("zero")}),      DocBlock::heading(9, {DocRun("nine")}),
    };
    const QString out = dir.filePath("lists.docx");
    writeDOCX(blocks, "Lists", false, out);
    const PackageContents package = readPackage(out);
    const QByteArray body = package.parts["word/document.xml"];
    EXPECT_EQ(count(body, "<w:numId w:val=\"2\"/>"), 2);
    EXPECT_EQ(count(body, "<w:numId w:val=\"3\"/>"), 1);
    EXPECT_TRUE(body.contains("<w:ilvl w:val=\"8\"/><w:numId w:val=\"1\"/>"));
    EXPECT_TRUE(body.contains("Heading1\"/></w:pPr><w:r><w:t xml:space=\"preserve\">zero"));
    EXPECT_TRUE(body.contains("Heading6\"/></w:pPr><w:r><w:t xml:space=\"preserve\">nine"));
    EXPECT_TRUE(body.contains("<w:pgSz w:w=\"11905\" w:h=\"16837\"/>"));
    const QByteArray numbering = package.parts["word/numbering.xml"];
    EXPECT_TRUE(numbering.contains("<w:num w:numId=\"2\"><w:abstractNumId w:val=\"1\"/>"));
    EXPECT_TRUE(numbering.contains("<w:num w:numId=\"3\"><w:abstractNumId w:val=\"1\"/>"));
    EXPECT_FALSE(numbering.contains("<w:num w:numId=\"4\""));

    // An empty document still defines the first numbered instance.
    const QString empty = dir.filePath("empty.docx");
    writeDOCX({}, "", true, empty);
    const PackageContents nothing = readPackage(empty);
    EXPECT_TRUE(nothing.parts["word/numbering.xml"].contains("<w:num w:numId=\"2\">"));
    EXPECT_TRUE(nothing.parts["word/document.xml"].contains("<w:body><w:sectPr>"));
}

TEST(DocxWriter, SizesPicturesFromTheirResolutionAndPageWidth)
{
    QTemporaryDir dir;
    const QByteArray large = encodedImage(2400, 1200, "PNG", 144);
    const QByteArray small = encodedImage(100, 50, "JPEG");
    const QList<DocBlock> blocks{DocBlock::image(std::nullopt, large, "png"), DocBlock::image(std::nullopt, small, "jpg"),
                                 DocBlock::image(QString("pic.gif"), std::nullopt, "gif"),
                                 DocBlock::image(std::nullopt, QByteArray("\x89PNG\r\n\x1a\nnot really"), "png"),
                                 DocBlock::image(QString("missing.png"), std::nullopt, "png")};
    const QByteArray gif = encodedImage(10, 10, "GIF").isEmpty() ? encodedImage(10, 10, "PNG") : encodedImage(10, 10, "GIF");
    const ImageDataLoader loader = [&](const QString& path) -> std::optional<QByteArray> {
        if (path == "pic.gif")
            return gif;
        return std::nullopt;
    };
    const QString letter = dir.filePath("letter.docx");
    writeDOCX(blocks, "Pictures", true, letter, loader);
    const PackageContents package = readPackage(letter);
    const QByteArray body = package.parts["word/document.xml"];
    EXPECT_TRUE(body.contains("<wp:extent cx=\"6332220\" cy=\"3166110\"/>")) << body.toStdString();
    EXPECT_TRUE(body.contains("<wp:extent cx=\"1270000\" cy=\"635000\"/>")) << "never enlarged";
    EXPECT_TRUE(package.parts.contains("word/media/image1.png"));
    EXPECT_TRUE(package.parts.contains("word/media/image2.jpeg"));
    EXPECT_TRUE(package.parts.contains("word/media/image3.png") || package.parts.contains("word/media/image3.gif"));
    EXPECT_EQ(package.names.filter("word/media/").size(), 3) << "bytes that do not decode give no picture";
    EXPECT_EQ(count(package.parts["word/_rels/document.xml.rels"], "media/image"), 3);

    const QString a4 = dir.filePath("a4.docx");
    writeDOCX({DocBlock::image(std::nullopt, large, "png")}, "A4", false, a4);
    EXPECT_TRUE(readPackage(a4).parts["word/document.xml"].contains("<wp:extent cx=\"6119876\" cy=\"3059938\"/>"));
}

TEST(DocxWriter, DropsWhatXMLCannotCarry)
{
    QTemporaryDir dir;
    const QString nasty = QString("form\x0C" "feed\r ret") + QChar(0xFFFF) + QChar(0xD800) + "end";
    const QList<DocBlock> blocks{DocBlock::paragraph({DocRun(nasty), DocRun("a\nb")}),
                                 DocBlock::table({{"x & y", QString("\x01")}})};
    const QString out = dir.filePath("text.docx");
    writeDOCX(blocks, "A & B <c>", true, out);
    const PackageContents package = readPackage(out);
    const QByteArray body = package.parts["word/document.xml"];
    EXPECT_TRUE(body.contains(">formfeed retend<")) << body.toStdString();
    EXPECT_TRUE(body.contains("<w:t xml:space=\"preserve\">a</w:t><w:br/><w:t xml:space=\"preserve\">b</w:t>"));
    EXPECT_TRUE(package.parts["docProps/core.xml"].contains("<dc:title>A &amp; B &lt;c&gt;</dc:title>"));
    const QString part = writeFile(dir.filePath("document.xml"), body);
    EXPECT_EQ(runProgram("xmllint", {"--noout", part}), 0);
    EXPECT_EQ(docxEscape("\"q\" 'a'"), "&quot;q&quot; 'a'");
}

TEST(DocxWriter, NeverReplacesAFileAndLeavesNothingWhenItFails)
{
    QTemporaryDir dir;
    const QString taken = writeFile(dir.filePath("taken.docx"), "mine");
    EXPECT_THROW(writeDOCX({DocBlock::paragraph({DocRun("x")})}, "t", true, taken), SystemError);
    EXPECT_EQ(readFile(taken), "mine");

    std::stop_source stop;
    stop.request_stop();
    const QString cancelled = dir.filePath("cancelled.docx");
    EXPECT_THROW(writeDOCX({}, "t", true, cancelled, {}, stop.get_token()), CancellationError);
    EXPECT_FALSE(QFile::exists(cancelled));

    SmallDisk disk(1 << 20);
    if (!disk.isMounted())
        GTEST_SKIP() << "no tmpfs (needs root)";
    // Noise does not compress: two megabytes of picture cannot fit.
    QImage noise(1024, 512, QImage::Format_RGB32);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, QRandomGenerator::global()->generate());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    noise.save(&buffer, "PNG");
    const QString full = disk.filePath("full.docx");
    EXPECT_THROW(writeDOCX({DocBlock::image(std::nullopt, png, "png")}, "t", true, full), SystemError);
    EXPECT_FALSE(QFile::exists(full));
    EXPECT_TRUE(folderEntries(disk.path()).isEmpty()) << folderEntries(disk.path()).join(' ').toStdString();
}
