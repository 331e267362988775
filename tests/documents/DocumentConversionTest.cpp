#include "catalogue/adapters/DocumentPlannerAdapter.h"
#include "documents/DocumentConversion.h"
#include "documents/model/DocumentMetadata.h"
#include "documents/readers/DocumentLoader.h"
#include "documents/writers/DocumentWriter.h"
#include "documents/writers/ZipPackageWriter.h"
#include "jobs/OutputPlanner.h"
#include "model/errors/EngineError.h"
#include "model/operations/Capabilities.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextCursor>

using namespace qv;
using namespace qv::test;

namespace {

// One work item as the job centre makes it.
struct Item {
    OperationContext context;
    std::unique_ptr<OutputPlanner> planner;
    Progress progress{100};

    explicit Item(const QStringList& paths)
    {
        for (const QString& path : paths)
            context.files.append(fileInfoForURL(QUrl::fromLocalFile(path)));
        context.notes = std::make_shared<JobNotes>();
        planner = std::make_unique<OutputPlanner>(QUrl::fromLocalFile(paths.first()), context.settings, context.notes);
    }

    QUrl convert(DocumentOutput target)
    {
        return DocumentConversion::convertDocument(context.files.first(), target, context, documentPlanner(*planner), progress);
    }
};

QString pdfInfo(const QString& pdf)
{
    QByteArray out;
    runProgram("pdfinfo", {pdf}, &out);
    return QString::fromUtf8(out);
}

QString pdfText(const QString& pdf)
{
    QByteArray out;
    runProgram("pdftotext", {pdf, "-"}, &out);
    return QString::fromUtf8(out);
}

QByteArray imageBytes(const char* format, QColor colour)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray sha(const QString& path)
{
    return QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256);
}

// Every part of a zip, read with unzip.
QString zipText(const QString& zip)
{
    QByteArray out;
    runProgram("unzip", {"-p", zip}, &out);
    return QString::fromUtf8(out);
}

QString zipPart(const QString& zip, const QString& part)
{
    QByteArray out;
    runProgram("unzip", {"-p", zip, part}, &out);
    return QString::fromUtf8(out);
}

} // namespace

TEST(DocumentConversion, PdfHasTheCreatorThePageSizeAndTheText)
{
    QTemporaryDir dir;
    const QString notes = writeFile(dir.filePath("notes.md"),
                                    "# Overview\n\nSome text.\n\n## Details\n\n- first point\n- second point\n");
    Item a4({notes});
    const QUrl pdf = a4.convert(DocumentOutput::pdf);
    EXPECT_EQ(pdf.toLocalFile(), dir.filePath("notes.pdf"));
    const QString info = pdfInfo(pdf.toLocalFile());
    EXPECT_TRUE(info.contains(QRegularExpression("Creator:\\s+Quorvenda\\n"))) << info.toStdString();
    EXPECT_TRUE(info.contains("595.28 x 841.89 pts")) << info.toStdString();
    const QString text = pdfText(pdf.toLocalFile());
    EXPECT_TRUE(text.contains("Overview") && text.contains("Details") && text.contains("second point")) << text.toStdString();

    Item letter({notes});
    letter.context.options.pageSize = PageSizeChoice::letter;
    const QUrl second = letter.convert(DocumentOutput::pdf);
    EXPECT_EQ(second.toLocalFile(), dir.filePath("notes 2.pdf")); // never over the first
    EXPECT_TRUE(pdfInfo(second.toLocalFile()).contains("612 x 792 pts"));
}

TEST(DocumentConversion, PagesFollowTheTextAndItsBreaks)
{
    QTemporaryDir dir;
    Item empty({writeFile(dir.filePath("empty.txt"), "")});
    EXPECT_TRUE(pdfInfo(empty.convert(DocumentOutput::pdf).toLocalFile()).contains(QRegularExpression("Pages:\\s+1\\n")));

    // Two breaks make three pages, however short the text.
    QTextDocument text;
    QTextCursor cursor(&text);
    cursor.insertText("one");
    QTextBlockFormat breakBefore;
    breakBefore.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    cursor.insertBlock(breakBefore);
    cursor.insertText("two");
    cursor.insertBlock(breakBefore);
    cursor.insertText("three");
    EXPECT_EQ(DocumentWriter::paginateToPDF(text, QUrl::fromLocalFile(dir.filePath("breaks.pdf")), {595.28, 841.89},
                                            DocumentWriter::margin),
              3);
    EXPECT_TRUE(pdfInfo(dir.filePath("breaks.pdf")).contains(QRegularExpression("Pages:\\s+3\\n")));

    // Long text flows on to further pages.
    QByteArray many;
    for (int i = 0; i < 400; ++i)
        many += "Paragraph number " + QByteArray::number(i) + " of a long text.\n\n";
    Item longText({writeFile(dir.filePath("long.txt"), many)});
    const QString info = pdfInfo(longText.convert(DocumentOutput::pdf).toLocalFile());
    const int pages = QRegularExpression("Pages:\\s+(\\d+)").match(info).captured(1).toInt();
    EXPECT_GT(pages, 5);
}

TEST(DocumentConversion, WindowsLineEndsSplitParagraphs)
{
    QTemporaryDir dir;
    const FileInfo file = fileInfoForURL(QUrl::fromLocalFile(writeFile(dir.filePath("crlf.txt"), "one\r\n\r\ntwo\r\n\r\n\r\n\r\nthree\r\n")));
    const auto document = DocumentLoader::loadDocument(file, QUrl::fromLocalFile(dir.path()), {});
    ASSERT_EQ(document->model().blocks.size(), 3);
    EXPECT_EQ(document->model().blocks[1].plainText(), "two");
    EXPECT_FALSE(document->isRich());
}

TEST(DocumentConversion, HtmlPageHeadAndEscapedTitle)
{
    LoadedDocument document("a<b & \"c\"", std::nullopt, false);
    DocumentModel model;
    model.blocks = {DocBlock::paragraph({DocRun{"Body"}})};
    document.setModel(model);
    const QString page = DocumentWriter::htmlPage(document);
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>a&lt;b &amp; &quot;c&quot;</title>\n<style>\n"));
    const qsizetype start = page.indexOf("<style>");
    const qsizetype end = page.indexOf("</style>") + 8;
    EXPECT_EQ(end - start, 766);
    EXPECT_TRUE(page.endsWith("<p>Body</p>\n</body>\n</html>\n")) << page.right(60).toStdString();
}

// Markdown goes to HTML without the model; the page is the one the model gives.
TEST(DocumentConversion, MarkdownPagesAreThePagesOfTheModel)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("red.png"), imageBytes("PNG", Qt::red));
    const QByteArray text = QByteArray("Intro ") + QByteArray(1, '\0') + " byte\n\n# The <Title> & more\n\n- one ![red](red.png)\n  1. two\n\n"
                            "| a | b |\n|:-|-:|\n| *c* | `d` |\n\n> quote **strong**\n\n```cpp\nint x;\n```\n\n"
                            "***\n\n<div>raw</div>\n\n[link](https://e.com \"t\") ~~gone~~  \nbreak\n";
    for (const bool titled : {true, false}) {
        const QString name = titled ? "titled.md" : "plain.md";
        const QString source = writeFile(dir.filePath(name), titled ? text : text.mid(text.indexOf("- one")));
        Item item({source});
        const QUrl result = item.convert(DocumentOutput::html);
        EXPECT_EQ(result.toLocalFile(), dir.filePath(QFileInfo(name).baseName() + ".html"));
        const std::unique_ptr<LoadedDocument> loaded =
            DocumentLoader::loadDocument(fileInfoForURL(QUrl::fromLocalFile(source)), QUrl::fromLocalFile(dir.path()), {});
        const QByteArray expected = DocumentWriter::htmlPage(*loaded).toUtf8();
        EXPECT_EQ(readFile(result.toLocalFile()).toStdString(), expected.toStdString());
        EXPECT_TRUE(expected.contains(titled ? "<title>The &lt;Title&gt; &amp; more</title>" : "<title>plain</title>"));
        EXPECT_TRUE(expected.contains("data:image/png;base64,"));
        EXPECT_EQ(item.context.notes->messages(), loaded->notes());
        EXPECT_EQ(item.context.notes->messages().size(), titled ? 1 : 0);
    }
}

TEST(DocumentConversion, MarkdownWithPicturesIsAFolderNamedAfterTheSource)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("red.png"), imageBytes("PNG", Qt::red));
    writeFile(dir.filePath("blue.jpg"), imageBytes("JPG", Qt::blue));
    Item page({writeFile(dir.filePath("page.html"),
                         "<html><body><h1>Pictures</h1><p><img src=\"red.png\" alt=\"red\"></p>"
                         "<p>between</p><p><img src=\"blue.jpg\" alt=\"blue\"></p></body></html>")});
    const QUrl result = page.convert(DocumentOutput::md);
    EXPECT_EQ(result.toLocalFile(), dir.filePath("page"));
    EXPECT_EQ(folderEntries(dir.filePath("page")), (QStringList{"images", "page.md"}));
    EXPECT_EQ(folderEntries(dir.filePath("page/images")), (QStringList{"image-1.png", "image-2.jpg"}));
    const QString md = QString::fromUtf8(readFile(dir.filePath("page/page.md")));
    EXPECT_TRUE(md.contains("images/image-1.png") && md.contains("images/image-2.jpg")) << md.toStdString();

    // Without pictures the same target is one file.
    Item plain({writeFile(dir.filePath("plain.html"), "<p>only <b>text</b></p>")});
    EXPECT_EQ(plain.convert(DocumentOutput::md).toLocalFile(), dir.filePath("plain.md"));
    EXPECT_EQ(QString::fromUtf8(readFile(dir.filePath("plain.md"))).trimmed(), "only **text**");
}

TEST(DocumentConversion, UnknownTypesAndPicturesThroughPdfAreRefused)
{
    QTemporaryDir dir;
    Item keynote({writeFile(dir.filePath("deck.key"), "x")});
    try {
        keynote.convert(DocumentOutput::txt);
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This document type can't be converted");
    }
    LoadedDocument document("t", std::nullopt, false);
    try {
        DocumentWriter::writeDocument(document, DocumentOutput::png, QUrl::fromLocalFile(dir.filePath("x.png")), {}, {},
                                      QUrl::fromLocalFile(dir.path()), {}, "x");
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "PNG is produced through PDF");
    }
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"deck.key"});
}

TEST(DocumentTools, MergeJoinsInOrderWithBreaks)
{
    QTemporaryDir dir;
    const QString a = writeFile(dir.filePath("a.md"), "Alpha text\n");
    const QString bSource = writeFile(dir.filePath("b-source.md"), "Bravo text\n");
    ASSERT_EQ(runProgram("pandoc", {bSource, "-o", dir.filePath("b.docx")}), 0);
    const QString c = writeFile(dir.filePath("c.txt"), "Charlie text\r\n");
    const QByteArray before = sha(dir.filePath("b.docx"));

    Item merge({a, dir.filePath("b.docx"), c});
    const QUrl result = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    EXPECT_EQ(result.toLocalFile(), dir.filePath("a (merged).md"));
    const QString text = QString::fromUtf8(readFile(result.toLocalFile()));
    const QRegularExpression order("Alpha text\\s+---\\s+Bravo text\\s+---\\s+Charlie text");
    EXPECT_TRUE(text.contains(order)) << text.toStdString();
    EXPECT_EQ(sha(dir.filePath("b.docx")), before);

    // A plain text first joins the texts with form feeds.
    Item fromText({c, a});
    const QUrl joined = DocumentConversion::mergeDocuments(fromText.context.files, fromText.context, documentPlanner(*fromText.planner), fromText.progress);
    EXPECT_EQ(joined.toLocalFile(), dir.filePath("c (merged).txt"));
    EXPECT_TRUE(QString::fromUtf8(readFile(joined.toLocalFile())).contains(QRegularExpression("Charlie text\\s*\\f\\s*Alpha text")));
}

TEST(DocumentTools, MergedMarkdownWithPicturesIsAFolderWithoutExtension)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("red.png"), imageBytes("PNG", Qt::red));
    const QString page = writeFile(dir.filePath("x.html"), "<p>first</p><p><img src=\"red.png\"></p>");
    const QString notes = writeFile(dir.filePath("y.md"), "second\n");
    Item merge({page, notes});
    merge.context.files[0] = fileInfoForURL(QUrl::fromLocalFile(page));
    // Led by an HTML page the merge is a page; led by Markdown it is Markdown.
    const QUrl html = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    EXPECT_EQ(html.toLocalFile(), dir.filePath("x (merged).html"));
    const QString written = QString::fromUtf8(readFile(html.toLocalFile()));
    EXPECT_TRUE(written.contains("data:image/png;base64,") && written.contains("second"));

    const QString mdLead = writeFile(dir.filePath("z.md"), "![red](red.png)\n\nthird\n");
    Item md({mdLead, notes});
    const QUrl folder = DocumentConversion::mergeDocuments(md.context.files, md.context, documentPlanner(*md.planner), md.progress);
    // Paths stay paths: no bytes, so one file.
    EXPECT_EQ(folder.toLocalFile(), dir.filePath("z (merged).md"));
}

TEST(DocumentTools, WordCountLeavesALineAndNoFile)
{
    QTemporaryDir dir;
    QStringList words;
    for (int i = 0; i < 345; ++i)
        words.append("word");
    Item count({writeFile(dir.filePath("count.md"), words.join(' ').toUtf8())});
    DocumentConversion::countWords(count.context.files.first(), count.context, documentPlanner(*count.planner));
    ASSERT_EQ(count.context.notes->messages().size(), 1);
    const QString line = count.context.notes->messages().first();
    EXPECT_TRUE(line.startsWith(QString::fromUtf8("345 words · "))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QString::fromUtf8(" · 2 min read"))) << line.toStdString();
    EXPECT_EQ(count.context.notes->clipboardText(), line);
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"count.md"});
}

TEST(DocumentTools, TablesReachTextAsTabsAndLinesInConversionCountAndMerge)
{
    QTemporaryDir dir;
    const QString page = writeFile(dir.filePath("t.html"),
                                   "<p>Intro</p><table><tr><td>a1</td><td>b1</td></tr>"
                                   "<tr><td>a2</td><td>b2</td></tr></table><p>End</p>");
    const auto privateUse = [](const QString& text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) {
            return (c.unicode() >= 0xFDD0 && c.unicode() <= 0xFDEF) || c.category() == QChar::Other_PrivateUse;
        });
    };

    Item convert({page});
    const QString text = QString::fromUtf8(readFile(convert.convert(DocumentOutput::txt).toLocalFile()));
    EXPECT_FALSE(privateUse(text)) << text.toStdString();
    EXPECT_TRUE(text.contains("a1\tb1\na2\tb2")) << text.toStdString();

    // Markers counted as characters, or gluing words, would change the count.
    Item count({page});
    DocumentConversion::countWords(count.context.files.first(), count.context, documentPlanner(*count.planner));
    ASSERT_EQ(count.context.notes->messages().size(), 1);
    EXPECT_TRUE(count.context.notes->messages().first().startsWith("6 words")) << count.context.notes->messages().first().toStdString();

    const QString lead = writeFile(dir.filePath("lead.txt"), "Lead\n");
    Item merge({lead, page});
    const QUrl merged = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    const QString joined = QString::fromUtf8(readFile(merged.toLocalFile()));
    EXPECT_FALSE(privateUse(joined)) << joined.toStdString();
    EXPECT_TRUE(joined.contains("a1\tb1\na2\tb2")) << joined.toStdString();
}

TEST(DocumentConversion, AStrayByteInMarkdownIsReplacedAndTold)
{
    QTemporaryDir dir;
    const QString md = writeFile(dir.filePath("notes.md"), QByteArray("# Notes\n\nOne\0 two \xe9\xe8 three\n", 27));
    Item convert({md});
    const QString text = QString::fromUtf8(readFile(convert.convert(DocumentOutput::txt).toLocalFile()));
    // No UTF-8 sequence anywhere: Windows-1252, the NUL alone replaced.
    EXPECT_TRUE(text.contains(QString::fromUtf8("One\xef\xbf\xbd two \xc3\xa9\xc3\xa8 three"))) << text.toStdString();
    EXPECT_EQ(convert.context.notes->messages(),
              QStringList{QString::fromUtf8("notes.md: 1 unreadable character replaced with \xef\xbf\xbd")});

    Item count({md});
    DocumentConversion::countWords(count.context.files.first(), count.context, documentPlanner(*count.planner));
    EXPECT_EQ(count.context.notes->messages().size(), 2);
}

TEST(DocumentConversion, TextOfNoKnownFormatIsReadAsPlainText)
{
    QTemporaryDir dir;
    const QString readme = writeFile(dir.filePath("README"), "Project\n\nBuild it with make.\n");
    const QString log = writeFile(dir.filePath("notes.log"), "started the job\nall done\n");
    for (DocumentOutput target : {DocumentOutput::txt, DocumentOutput::md, DocumentOutput::html, DocumentOutput::pdf,
                                  DocumentOutput::docx, DocumentOutput::epub, DocumentOutput::odt}) {
        Item item({readme});
        const QUrl result = item.convert(target);
        EXPECT_EQ(result.toLocalFile(), dir.filePath("README." + documentOutputRawValue(target)));
    }
    EXPECT_TRUE(readFile(dir.filePath("README.txt")).startsWith("Project\n\nBuild it with make."));
    EXPECT_TRUE(pdfText(dir.filePath("README.pdf")).contains("Build it with make."));

    Item count({log});
    DocumentConversion::countWords(count.context.files.first(), count.context, documentPlanner(*count.planner));
    ASSERT_EQ(count.context.notes->messages().size(), 1);
    EXPECT_TRUE(count.context.notes->messages().first().startsWith("5 words")) << count.context.notes->messages().first().toStdString();

    // Led by text of no known format, a merge is text.
    Item merge({log, readme});
    const QUrl merged = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    EXPECT_EQ(merged.toLocalFile(), dir.filePath("notes (merged).txt"));
    EXPECT_TRUE(QString::fromUtf8(readFile(merged.toLocalFile())).contains(QRegularExpression("all done\\s*\\f\\s*Project")));
}

namespace {

const QByteArray wordNS = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";

// A Word file as word processors leave it: an author in the core properties, a comment, a
// tracked insertion, the people part, and a link to a private file.
QString writeAuthoredDocx(const QString& path, const QString& linkTarget)
{
    {
        ZipPackageWriter zip(path, {});
        using M = ZipPackageWriter::Method;
        zip.add("[Content_Types].xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                "<Override PartName=\"/word/document.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
                "<Override PartName=\"/docProps/core.xml\" ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
                "</Types>",
                M::deflated);
        zip.add("_rels/.rels",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/>"
                "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" Target=\"docProps/core.xml\"/>"
                "</Relationships>",
                M::deflated);
        zip.add("docProps/core.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
                "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator>Alice</dc:creator></cp:coreProperties>",
                M::deflated);
        zip.add("word/document.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<w:document xmlns:w=\"" + wordNS + "\"><w:body>"
                "<w:p><w:r><w:t xml:space=\"preserve\">Kept words </w:t></w:r>"
                "<w:ins w:id=\"1\" w:author=\"Alice\" w:date=\"2024-01-02T00:00:00Z\"><w:r><w:t>inserted</w:t></w:r></w:ins></w:p>"
                "</w:body></w:document>",
                M::deflated);
        zip.add("word/comments.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<w:comments xmlns:w=\"" + wordNS + "\"><w:comment w:id=\"0\" w:author=\"Alice\" w:initials=\"A\" "
                "w:date=\"2024-01-02T00:00:00Z\"><w:p><w:r><w:t>A remark</w:t></w:r></w:p></w:comment></w:comments>",
                M::deflated);
        zip.add("word/people.xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<w15:people xmlns:w15=\"http://schemas.microsoft.com/office/word/2012/wordml\">"
                "<w15:person w15:author=\"Alice\"><w15:presenceInfo w15:providerId=\"None\" w15:userId=\"Alice\"/></w15:person>"
                "</w15:people>",
                M::deflated);
        zip.finish();
    }
    // A link among the parts, added as zip tools store one.
    const QString staging = QFileInfo(path).absolutePath() + "/staging";
    QDir().mkpath(staging + "/word");
    QFile::link(linkTarget, staging + "/word/secret.xml");
    runProgram("sh", {"-c", "cd '" + staging + "' && zip -q --symlinks '" + path + "' word/secret.xml"});
    return path;
}

} // namespace

TEST(DocumentMetadataRemoval, DocxLosesEveryNameAndNoLinkIsFollowed)
{
    QTemporaryDir dir;
    const QString secret = writeFile(dir.filePath("private.txt"), "Alice's private notes");
    const QString docx = writeAuthoredDocx(dir.filePath("x.docx"), secret);
    const QByteArray before = sha(docx);
    Item strip({docx});
    const QUrl result = DocumentMetadata::removeDocumentMetadata(strip.context.files.first(), strip.context, documentPlanner(*strip.planner));
    EXPECT_EQ(result.toLocalFile(), dir.filePath("x (no metadata).docx"));
    EXPECT_EQ(sha(docx), before);

    const QString all = zipText(result.toLocalFile());
    EXPECT_FALSE(all.contains("Alice")) << all.toStdString();
    EXPECT_FALSE(all.contains("private notes"));
    EXPECT_EQ(zipPart(result.toLocalFile(), "docProps/core.xml").toUtf8(), DocumentMetadata::coreProperties());
    EXPECT_TRUE(zipPart(result.toLocalFile(), "word/people.xml").contains("<w15:people"));
    EXPECT_TRUE(all.contains("Kept words ") && all.contains("inserted") && all.contains("A remark"));
    QByteArray listing;
    runProgram("unzip", {"-Z1", result.toLocalFile()}, &listing);
    EXPECT_FALSE(listing.contains("secret.xml"));

    // Still a Word file its readers open.
    QByteArray plain;
    EXPECT_EQ(runProgram("pandoc", {result.toLocalFile(), "-t", "plain"}, &plain), 0);
    EXPECT_TRUE(plain.contains("Kept words"));
}

TEST(DocumentMetadataRemoval, EpubKeepsOnlyItsIdentityAndStartsWithMimetype)
{
    QTemporaryDir dir;
    const QString epub = dir.filePath("book.epub");
    {
        ZipPackageWriter zip(epub, {});
        using M = ZipPackageWriter::Method;
        zip.add("mimetype", "application/epub+zip", M::stored);
        zip.add("META-INF/container.xml",
                "<?xml version=\"1.0\"?><container version=\"1.0\" xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\">"
                "<rootfiles><rootfile full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/></rootfiles></container>",
                M::deflated);
        zip.add("OEBPS/content.opf",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<package xmlns=\"http://www.idpf.org/2007/opf\" version=\"3.0\" unique-identifier=\"id\">"
                "<metadata xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><!-- kept -->"
                "<dc:identifier id=\"id\">urn:uuid:1</dc:identifier><dc:title>Book</dc:title><dc:language>en</dc:language>"
                "<dc:creator>Alice</dc:creator><meta property=\"dcterms:modified\">2024-01-01T00:00:00Z</meta>"
                "<meta name=\"cover\" content=\"c\"/><dc:publisher>Press</dc:publisher></metadata>"
                "<manifest/><spine/></package>",
                M::deflated);
        zip.finish();
    }
    Item strip({epub});
    const QUrl result = DocumentMetadata::removeDocumentMetadata(strip.context.files.first(), strip.context, documentPlanner(*strip.planner));
    EXPECT_EQ(result.toLocalFile(), dir.filePath("book (no metadata).epub"));
    const QString opf = zipPart(result.toLocalFile(), "OEBPS/content.opf");
    EXPECT_TRUE(opf.contains("<dc:identifier") && opf.contains("<dc:title>Book") && opf.contains("<dc:language>en"));
    EXPECT_TRUE(opf.contains("dcterms:modified") && opf.contains("<!-- kept -->"));
    EXPECT_FALSE(opf.contains("Alice") || opf.contains("cover") || opf.contains("Press"));
    QByteArray listing;
    runProgram("unzip", {"-Z", result.toLocalFile()}, &listing);
    const QStringList lines = QString::fromUtf8(listing).split('\n');
    // The first entry, after the archive's summary: "-rw-... stor ... mimetype".
    const qsizetype summary = lines.indexOf(QRegularExpression("^Zip file size.*"));
    ASSERT_GE(summary, 0);
    ASSERT_GT(lines.size(), summary + 1);
    const QString first = lines[summary + 1];
    EXPECT_TRUE(first.endsWith(" mimetype") && first.contains(" stor ")) << first.toStdString();
}

TEST(DocumentConversion, FromAWordFileToEveryTextTarget)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir.filePath("source.md"), "# Overview\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\nClosing words\n");
    ASSERT_EQ(runProgram("pandoc", {source, "-o", dir.filePath("report.docx")}), 0);
    const QString report = dir.filePath("report.docx");

    Item md({report});
    const QString markdown = QString::fromUtf8(readFile(md.convert(DocumentOutput::md).toLocalFile()));
    EXPECT_TRUE(markdown.contains("# Overview") && markdown.contains("| a | b |")) << markdown.toStdString();

    Item html({report});
    const QString page = QString::fromUtf8(readFile(html.convert(DocumentOutput::html).toLocalFile()));
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>report</title>\n<style>\n"));

    Item odt({report});
    EXPECT_TRUE(zipPart(odt.convert(DocumentOutput::odt).toLocalFile(), "content.xml").contains("Closing words"));

    Item epub({report});
    const QUrl book = epub.convert(DocumentOutput::epub);
    EXPECT_EQ(book.toLocalFile(), dir.filePath("report.epub"));
    QByteArray check;
    EXPECT_EQ(runProgram("java", {"-jar", "/usr/bin/epubcheck", book.toLocalFile()}, &check), 0) << check.toStdString();

    // Merged behind a Word file, the result is a Word file its readers open.
    const QString notes = writeFile(dir.filePath("notes.txt"), "Appended notes\n");
    Item merge({report, notes});
    const QUrl merged = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    EXPECT_EQ(merged.toLocalFile(), dir.filePath("report (merged).docx"));
    QByteArray plain;
    EXPECT_EQ(runProgram("pandoc", {merged.toLocalFile(), "-t", "plain"}, &plain), 0);
    EXPECT_TRUE(plain.contains("Overview") && plain.contains("Appended notes")) << plain.toStdString();
}

TEST(DocumentConversion, PagesAsPictures)
{
    QTemporaryDir dir;
    Item one({writeFile(dir.filePath("short.md"), "# Short\n\nOne page only.\n")});
    EXPECT_EQ(one.convert(DocumentOutput::png).toLocalFile(), dir.filePath("short.png"));
    EXPECT_TRUE(QImage(dir.filePath("short.png")).width() > 0);

    QByteArray many;
    for (int i = 0; i < 120; ++i)
        many += "Paragraph " + QByteArray::number(i) + " of a text long enough for more than one page.\n\n";
    Item notes({writeFile(dir.filePath("notes.txt"), many)});
    const QUrl folder = notes.convert(DocumentOutput::jpg);
    EXPECT_EQ(folder.toLocalFile(), dir.filePath("notes (pages)"));
    const QStringList pages = folderEntries(folder.toLocalFile());
    ASSERT_GE(pages.size(), 2);
    EXPECT_EQ(pages.first(), "notes 1.jpg");
}

TEST(DocumentTools, AWebArchiveMergesWithItsText)
{
    QTemporaryDir dir;
    const QString lead = writeFile(dir.filePath("a.md"), "Lead text\n");
    const QByteArray page = "<html><body><p>Archived words</p></body></html>";
    const QString archive = writeFile(dir.filePath("b.webarchive"),
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>WebMainResource</key><dict>"
        "<key>WebResourceData</key><data>" + page.toBase64() + "</data>"
        "<key>WebResourceMIMEType</key><string>text/html</string>"
        "<key>WebResourceTextEncodingName</key><string>UTF-8</string>"
        "<key>WebResourceURL</key><string>https://example.org/</string></dict></dict></plist>\n");
    Item merge({lead, archive});
    const QUrl result = DocumentConversion::mergeDocuments(merge.context.files, merge.context, documentPlanner(*merge.planner), merge.progress);
    const QString text = QString::fromUtf8(readFile(result.toLocalFile()));
    EXPECT_TRUE(text.contains(QRegularExpression("Lead text\\s+---\\s+Archived words"))) << text.toStdString();
}

TEST(DocumentMetadataRemoval, ADamagedPackageFailsAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString fake = writeFile(dir.filePath("broken.docx"), "PK\x03\x04 not really a zip at all");
    Item strip({fake});
    try {
        DocumentMetadata::removeDocumentMetadata(strip.context.files.first(), strip.context, documentPlanner(*strip.planner));
        FAIL();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This document is damaged");
    }
    EXPECT_EQ(folderEntries(dir.path()), QStringList{"broken.docx"});
}

TEST(DocumentConversion, AWordFileWithADamagedPartIsRefused)
{
    QTemporaryDir dir;
    const QString source = writeFile(dir.filePath("source.md"), "# Overview\n\nClosing words\n");
    const QString report = dir.filePath("report.docx");
    ASSERT_EQ(runProgram("pandoc", {source, "-o", report}), 0);
    // Scrambled inside the styles' compressed data, as a bad sector leaves it: the body still
    // reads, and pandoc would say nothing of the styles it lost.
    QByteArray bytes = readFile(report);
    const qsizetype header = bytes.indexOf("word/styles.xml");
    ASSERT_GT(header, 30);
    for (qsizetype i = header + 40; i < header + 56; ++i)
        bytes[i] = char(bytes[i] ^ 0x5a);
    writeFile(report, bytes);

    for (DocumentOutput target : {DocumentOutput::md, DocumentOutput::pdf}) {
        Item item({report});
        try {
            item.convert(target);
            ADD_FAILURE() << "a damaged Word file was converted";
        } catch (const EngineError& error) {
            EXPECT_EQ(error.message(), "This document is damaged or not in a supported format");
        }
    }
    EXPECT_EQ(folderEntries(dir.path()), (QStringList{"report.docx", "source.md"}));
}

// Every text target of a PDF refuses one with nothing to read in the same sentence, instead of
// finishing empty (or full of boxes, where the glyphs of a font without a Unicode map have no
// names); and a PDF with text, however placed, never gets that sentence.
TEST(DocumentConversion, PdfsWithoutTextAreRefusedAndPdfsWithTextNever)
{
    QTemporaryDir dir;
    const QString script = QStringLiteral(R"(import sys
def build(name, content, page=b'', font=b'<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>'):
    objs = [b'<< /Type /Catalog /Pages 2 0 R >>', b'<< /Type /Pages /Kids [3 0 R] /Count 1 >>',
            b'<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] ' + page + b' /Contents 4 0 R /Resources << /Font << /F1 5 0 R >> >> >>',
            b'<< /Length %d >>\nstream\n' % len(content) + content + b'\nendstream', font]
    out = b'%PDF-1.7\n'
    offsets = []
    for i, o in enumerate(objs):
        offsets.append(len(out))
        out += b'%d 0 obj\n' % (i + 1) + o + b'\nendobj\n'
    at = len(out)
    out += b'xref\n0 6\n0000000000 65535 f \n' + b''.join(b'%010d 00000 n \n' % o for o in offsets)
    out += b'trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n' % at
    open(sys.argv[1] + '/' + name, 'wb').write(out)
words = b'BT /F1 12 Tf 72 700 Td (Wombat report) Tj ET'
build('drawing.pdf', b'0.5 g 72 72 300 300 re f')
build('boxes.pdf', b'BT /F1 12 Tf 72 700 Td (\001\002\003\004) Tj ET',
      font=b'<< /Type /Font /Subtype /TrueType /BaseFont /Foo /FirstChar 1 /LastChar 4 /Widths [500 500 500 500] >>')
build('turned.pdf', words, b'/Rotate 90')
build('upright.pdf', b'BT /F1 12 Tf 0 1 -1 0 300 300 Tm (Wombat report) Tj ET')
build('invisible.pdf', b'BT 3 Tr /F1 12 Tf 72 700 Td (Wombat report) Tj ET')
)");
    ASSERT_EQ(runProgram("/usr/bin/python3", {"-c", script, dir.path()}), 0);
    const QList<DocumentOutput> targets{DocumentOutput::md,   DocumentOutput::html, DocumentOutput::rtf,
                                        DocumentOutput::epub, DocumentOutput::docx, DocumentOutput::odt};
    for (const char* name : {"drawing.pdf", "boxes.pdf"}) {
        for (DocumentOutput target : targets) {
            Item item({dir.filePath(name)});
            try {
                item.convert(target);
                ADD_FAILURE() << name << " finished as " << documentOutputRawValue(target).toStdString();
            } catch (const EngineError& error) {
                EXPECT_EQ(error.message(), "This PDF has no text layer. Try OCR first") << name;
            }
        }
    }
    for (const char* name : {"turned.pdf", "upright.pdf", "invisible.pdf"}) {
        QByteArray oracle;
        runProgram("pdftotext", {dir.filePath(name), "-"}, &oracle);
        ASSERT_TRUE(oracle.contains("Wombat report")) << name;
        for (DocumentOutput target : targets) {
            Item item({dir.filePath(name)});
            const QString path = item.convert(target).toLocalFile();
            const bool packaged = target == DocumentOutput::epub || target == DocumentOutput::docx
                || target == DocumentOutput::odt;
            const QString text = packaged ? zipText(path) : QString::fromUtf8(readFile(path));
            EXPECT_TRUE(text.contains("Wombat")) << name << " as " << documentOutputRawValue(target).toStdString();
            QFile::remove(path);
        }
    }
}

// An OpenDocument package links the picture beside it as "../img.png", relative to the package
// as a folder of its own; a face declared fixed comes out under the name fontconfig gives it.
TEST(DocumentConversion, LinkedPicturesBesideAPackageAndFixedFacesByTheirRealName)
{
    if (!Capabilities::shared().pandocURL())
        GTEST_SKIP() << "pandoc is not installed";
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("doc"));
    writeFile(dir.filePath("doc/img.png"), imageBytes("PNG", Qt::red));
    writeFile(dir.filePath("outside.png"), imageBytes("PNG", Qt::blue));
    const QByteArray content =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
        "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
        "xmlns:draw=\"urn:oasis:names:tc:opendocument:xmlns:drawing:1.0\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
        "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
        "xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\" office:version=\"1.3\">"
        "<office:font-face-decls><style:font-face style:name=\"Typewriter\" svg:font-family=\"Typewriter\" "
        "style:font-pitch=\"fixed\"/></office:font-face-decls>"
        "<office:automatic-styles><style:style style:name=\"T1\" style:family=\"text\">"
        "<style:text-properties style:font-name=\"Typewriter\"/></style:style></office:automatic-styles>"
        "<office:body><office:text><text:p>Before <text:span text:style-name=\"T1\">fixed words</text:span></text:p>"
        "<text:p><draw:frame draw:name=\"beside\" svg:width=\"2cm\" svg:height=\"1.5cm\" text:anchor-type=\"as-char\">"
        "<draw:image xlink:href=\"../img.png\" xlink:type=\"simple\"/></draw:frame></text:p>"
        "<text:p><draw:frame draw:name=\"above\" svg:width=\"2cm\" svg:height=\"1.5cm\" text:anchor-type=\"as-char\">"
        "<draw:image xlink:href=\"../../outside.png\" xlink:type=\"simple\"/></draw:frame></text:p>"
        "<text:p>After.</text:p></office:text></office:body></office:document-content>";
    const QString odt = dir.filePath("doc/linked.odt");
    {
        ZipPackageWriter zip(odt, {});
        zip.add("mimetype", "application/vnd.oasis.opendocument.text", ZipPackageWriter::Method::stored);
        zip.add("content.xml", content, ZipPackageWriter::Method::deflated);
        zip.add("styles.xml",
                "<office:document-styles xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                "office:version=\"1.3\"><office:styles/></office:document-styles>",
                ZipPackageWriter::Method::deflated);
        zip.add("META-INF/manifest.xml",
                "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                "<manifest:file-entry manifest:full-path=\"/\" manifest:media-type=\"application/vnd.oasis.opendocument.text\"/>"
                "</manifest:manifest>",
                ZipPackageWriter::Method::deflated);
        zip.finish();
    }
    QByteArray face;
    ASSERT_EQ(runProgram("fc-match", {"-f", "%{family[0]}", "monospace"}, &face), 0);

    Item item({odt});
    const QString docx = item.convert(DocumentOutput::docx).toLocalFile();
    QByteArray listing;
    runProgram("bsdtar", {"-tf", docx}, &listing);
    EXPECT_EQ(QString::fromUtf8(listing).count(QRegularExpression("word/media/[^\\n]+")), 1) << listing.toStdString();
    EXPECT_EQ(item.context.notes->messages(), QStringList{"1 picture outside the document's folder was left out"});
    const QString body = zipPart(docx, "word/document.xml");
    EXPECT_TRUE(body.contains("w:ascii=\"" + QString::fromUtf8(face) + "\"")) << face.toStdString();
    EXPECT_FALSE(body.contains("monospace", Qt::CaseInsensitive));
    Item again({odt});
    const QString text = zipText(again.convert(DocumentOutput::odt).toLocalFile());
    EXPECT_TRUE(text.contains(QString::fromUtf8(face))) << face.toStdString();
    EXPECT_FALSE(text.contains("monospace", Qt::CaseInsensitive));
}
