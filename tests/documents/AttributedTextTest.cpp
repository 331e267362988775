#include "documents/readers/AttributedTextReader.h"
#include "documents/readers/DocumentFileReader.h"
#include "documents/readers/MarkdownReader.h"
#include "documents/readers/RichTextReader.h"
#include "documents/writers/AttributedTextWriter.h"

#include "model/errors/CancellationError.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextList>
#include <QTextTable>
#include <QTextCursor>

using namespace qv;
using namespace qv::test;

namespace {

QList<DocBlock> roundTrip(const QList<DocBlock>& blocks, const AttributedTextWriter::ImageLoader& loader = {})
{
    const auto doc = AttributedTextWriter::attributedStringFromDocumentModel(loader, blocks);
    return AttributedTextReader::documentModelFromAttributedString(*doc).blocks;
}

void expectSame(const QList<DocBlock>& actual, const QList<DocBlock>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (qsizetype i = 0; i < actual.size(); ++i)
        EXPECT_EQ(actual[i], expected[i]) << i;
}

QByteArray png(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::green);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

TEST(AttributedText, MarkdownComesBackUnchanged)
{
    const auto [title, blocks] = MarkdownReader::parseMarkdown(
        "# One\n\n## Two\n\n### Three\n\n"
        "Plain **bold** *it* ***both*** ~~gone~~ `code` and [link](https://example.com/a).\n\n"
        "- a\n   1. b\n   2. c\n      - d\n- e\n\n"
        "1. x\n2. y\n\n"
        "```\nint main()\n{\n\n\treturn 0;\n    // end\n}\n```\n\n"
        "| h1 | h2 | h3 |\n| --- | --- | --- |\n| a | b | c |\n| d | e | f |\n\n"
        "> a *quoted* **line**\n\n"
        "***\n\nlast\n");
    expectSame(roundTrip(blocks), blocks);
}

TEST(AttributedText, ListsNumberThemselves)
{
    const auto doc = AttributedTextWriter::attributedStringFromDocumentModel(
        {}, {DocBlock::listItem(true, 1, {DocRun("a")}), DocBlock::listItem(true, 1, {DocRun("b")}),
             DocBlock::paragraph({DocRun("p")}), DocBlock::listItem(true, 1, {DocRun("c")}),
             DocBlock::listItem(true, 2, {DocRun("d")}), DocBlock::listItem(true, 1, {DocRun("e")})});
    QStringList markers;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (QTextList* list = block.textList())
            markers.append(list->itemText(block));
    }
    EXPECT_EQ(markers, (QStringList{"1.", "2.", "1.", "1.", "2."}));
    EXPECT_TRUE(AttributedTextWriter::attributedStringFromDocumentModel({}, {})->isEmpty());
}

TEST(AttributedText, ImagesKeepTheirBytesAndScaleDown)
{
    const QByteArray wide = png(880, 100);
    const auto doc = AttributedTextWriter::attributedStringFromDocumentModel(
        {}, {DocBlock::image(std::nullopt, wide, "png"), DocBlock::image("only/a/path.png", std::nullopt, "png")});
    const auto back = AttributedTextReader::documentModelFromAttributedString(*doc).blocks;
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back[0].data, wide);
    EXPECT_EQ(back[0].ext, "png");
    QTextImageFormat format;
    for (auto it = doc->begin().begin(); !it.atEnd(); ++it) {
        if (it.fragment().charFormat().isImageFormat())
            format = it.fragment().charFormat().toImageFormat();
    }
    EXPECT_DOUBLE_EQ(format.width(), 440);
    EXPECT_DOUBLE_EQ(format.height(), 50);

    const auto loaded = roundTrip({DocBlock::image("pic.png", std::nullopt, "png")},
                                  [&](const QString& path) { return path == "pic.png" ? std::optional(png(3, 3)) : std::nullopt; });
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_EQ(QImage::fromData(*loaded[0].data).size(), QSize(3, 3));
}

TEST(AttributedText, ReaderRecoversStructureFromLooks)
{
    QTextDocument doc;
    doc.setHtml("<p style=\"font-size:12pt\">body text that is long enough to be the body size of the page here</p>"
                "<p style=\"font-size:24pt\">Big</p><p style=\"font-size:16pt\">Middle</p>"
                "<p>\xe2\x80\xa2 not a list</p><h2>Declared</h2><ul><li>\xe2\x80\xa2 Milk</li></ul>"
                "<pre>mono\n  indented</pre><p style=\"page-break-before:always\">after</p>"
                "<p>form\fbreak</p>");
    const auto blocks = AttributedTextReader::documentModelFromAttributedString(doc).blocks;
    ASSERT_GE(blocks.size(), 8);
    EXPECT_EQ(blocks[1], DocBlock::heading(1, {DocRun("Big")}));
    EXPECT_EQ(blocks[2], DocBlock::heading(2, {DocRun("Middle")}));
    EXPECT_EQ(blocks[4], DocBlock::heading(2, {DocRun("Declared")}));
    EXPECT_EQ(blocks[5], DocBlock::listItem(false, 1, {DocRun("Milk")}));
    EXPECT_EQ(blocks[6], DocBlock::code("mono\n  indented"));
    EXPECT_EQ(blocks[7], DocBlock::pageBreak());
}

TEST(AttributedText, PandocReadsDocxAndRtf)
{
    QTemporaryDir dir;
    const QString markdown = writeFile(dir.filePath("src.md"),
                                       "---\ntitle: Quarterly\n---\n\n# Results\n\nA **bold** word.\n\n"
                                       "| a | b |\n|---|---|\n| c | d |\n");
    const QString docx = dir.filePath("q.docx");
    ASSERT_EQ(runProgram("pandoc", {markdown, "-o", docx}), 0);
    const QUrl work = QUrl::fromLocalFile(dir.filePath("work"));
    QDir().mkpath(work.toLocalFile());
    const DocumentModel model = DocumentFileReader::read(QUrl::fromLocalFile(docx), work);
    EXPECT_EQ(model.title, QStringLiteral("Quarterly"));
    const auto has = [&](const DocBlock& wanted) { return model.blocks.contains(wanted); };
    EXPECT_TRUE(has(DocBlock::heading(1, {DocRun("Results")})));
    EXPECT_TRUE(has(DocBlock::table({{"a", "b"}, {"c", "d"}})));
    DocRun bold("bold");
    bold.bold = true;
    EXPECT_TRUE(has(DocBlock::paragraph({DocRun("A "), bold, DocRun(" word.")})));

    const QString rtf = writeFile(dir.filePath("b.rtf"), "{\\rtf1\\ansi\\deff0 {\\fonttbl {\\f0 Times;}}\\f0 A {\\b strong} word.\\par}");
    const DocumentModel fromRtf = DocumentFileReader::read(QUrl::fromLocalFile(rtf), work);
    ASSERT_EQ(fromRtf.blocks.size(), 1);
    DocRun strong("strong");
    strong.bold = true;
    EXPECT_TRUE(fromRtf.blocks[0].runs.contains(strong));

    const QString broken = writeFile(dir.filePath("broken.docx"), "PK\x03\x04 not really a zip");
    try {
        DocumentFileReader::read(QUrl::fromLocalFile(broken), work);
        ADD_FAILURE() << "a broken file was read";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This document is damaged or not in a supported format");
        EXPECT_FALSE(error.log().isEmpty());
    }
    EXPECT_EQ(readFile(broken), "PK\x03\x04 not really a zip");
}

TEST(AttributedText, ClippingsAndWebArchives)
{
    QTemporaryDir dir;
    const QUrl work = QUrl::fromLocalFile(dir.path());
    const auto plist = [](const QByteArray& body) {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict>" + body + "</dict></plist>";
    };
    const QString clipping = writeFile(dir.filePath("c.textClipping"),
        plist("<key>UTI-Data</key><dict><key>public.rtf</key><data>" + QByteArray("not rtf at all").toBase64() +
              "</data><key>public.utf8-plain-text</key><string>clipped words</string></dict>"));
    const DocumentModel clipped = DocumentFileReader::read(QUrl::fromLocalFile(clipping), work);
    ASSERT_EQ(clipped.blocks.size(), 1);
    EXPECT_EQ(clipped.blocks[0].plainText(), "clipped words");

    const QString empty = writeFile(dir.filePath("e.textClipping"), plist("<key>UTI-Data</key><dict></dict>"));
    try {
        DocumentFileReader::read(QUrl::fromLocalFile(empty), work);
        ADD_FAILURE();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This clipping has no text");
    }

    writeFile(dir.filePath("local.png"), png(2, 2));
    const QByteArray page = "<html><head><title>Saved</title></head><body><h1>Page</h1>"
                            "<p><img src=\"pic.png\"></p><p><img src=\"file://" +
                            QFile::encodeName(dir.filePath("local.png")) + "\"></p></body></html>";
    const QString archive = writeFile(dir.filePath("p.webarchive"),
        plist("<key>WebMainResource</key><dict><key>WebResourceData</key><data>" + page.toBase64() +
              "</data><key>WebResourceURL</key><string>https://example.com/dir/page.html</string>"
              "<key>WebResourceTextEncodingName</key><string>UTF-8</string></dict>"
              "<key>WebSubresources</key><array><dict><key>WebResourceURL</key>"
              "<string>https://example.com/dir/pic.png</string><key>WebResourceData</key><data>" +
              png(4, 4).toBase64() + "</data></dict></array>"));
    const DocumentModel saved = DocumentFileReader::read(QUrl::fromLocalFile(archive), work);
    EXPECT_EQ(saved.title, QStringLiteral("Saved"));
    ASSERT_EQ(saved.blocks.size(), 2); // the local file is not read
    EXPECT_EQ(saved.blocks[0], DocBlock::heading(1, {DocRun("Page")}));
    EXPECT_EQ(QImage::fromData(*saved.blocks[1].data).size(), QSize(4, 4));
}

TEST(AttributedText, PandocKeepsToItsTimeAndStopsWhenAsked)
{
    QTemporaryDir dir;
    const QString rtf = writeFile(dir.filePath("a.rtf"), "{\\rtf1\\ansi A {\\b b}.\\par}");
    const QUrl work = QUrl::fromLocalFile(dir.path());
    const auto saved = RichTextReader::pandocTimeLimit;
    RichTextReader::pandocTimeLimit = std::chrono::seconds(0);
    try {
        RichTextReader::readAttributedFile(QUrl::fromLocalFile(rtf), "rtf", work, {});
        ADD_FAILURE() << "ran past its time";
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This document is damaged or not in a supported format");
        EXPECT_TRUE(error.log().contains("longer than 0 seconds"));
    }
    RichTextReader::pandocTimeLimit = saved;
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(RichTextReader::readAttributedFile(QUrl::fromLocalFile(rtf), "rtf", work, stop.get_token()),
                 CancellationError);
}

TEST(AttributedText, TableColumnsShareThePageByTheirText)
{
    // Whatever faces the machine has: fontconfig calls some monospace faces proportional (Noto
    // Sans Mono, with its few wide glyphs), and the shares must not depend on it.
    const auto narrow = AttributedTextWriter::tableColumnFractions({{"a", "b"}, {"c", "d"}}, 2, 12);
    ASSERT_EQ(narrow.size(), 2);
    EXPECT_NEAR(narrow[0], 0.5, 1e-9); // both at the 18-point floor
    const QString prose = QString("many words ").repeated(40);
    const auto wide = AttributedTextWriter::tableColumnFractions({{"id", "text", "x"}, {"1", prose}}, 3, 12);
    ASSERT_EQ(wide.size(), 3);
    EXPECT_NEAR(wide[0] + wide[1] + wide[2], 1.0, 1e-9);
    EXPECT_GT(wide[1], 0.7);
    EXPECT_GT(wide[0], 0.0);
}

namespace {

bool hasLayoutMarkers(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0xFDD0 && u <= 0xFDEF) || (u >= 0xE000 && u <= 0xF8FF) || u == 0x2028 || u == 0x2029
            || u == 0xFFFC)
            return true;
    }
    return false;
}

} // namespace

TEST(AttributedText, PlainTextPutsCellsBetweenTabsAndRowsOnLines)
{
    QTextDocument doc;
    QTextCursor cursor(&doc);
    cursor.insertText("Before");
    QTextTable* table = cursor.insertTable(3, 3);
    const char* cells[3][3] = {{"h1", "h2", "h3"}, {"a", "b", "c"}, {"wide", "", "z"}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            table->cellAt(r, c).firstCursorPosition().insertText(cells[r][c]);
    // A cell of two paragraphs, a merged cell and a table inside a cell.
    QTextCursor inCell = table->cellAt(1, 1).lastCursorPosition();
    inCell.insertBlock();
    inCell.insertText("second");
    table->mergeCells(2, 0, 1, 2);
    QTextCursor nested = table->cellAt(1, 2).lastCursorPosition();
    QTextTable* inner = nested.insertTable(1, 2);
    inner->cellAt(0, 0).firstCursorPosition().insertText("n1");
    inner->cellAt(0, 1).firstCursorPosition().insertText("n2");
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString("After") + QChar(QChar::LineSeparator) + "broken");

    // The layout's own text carries frame markers where the cells are.
    ASSERT_TRUE(hasLayoutMarkers(doc.toRawText()));
    const QString text = AttributedTextReader::plainText(doc);
    EXPECT_FALSE(hasLayoutMarkers(text)) << text.toStdString();
    EXPECT_EQ(text, "Before\nh1\th2\th3\na\tb second\tc n1 n2\nwide\t\tz\nAfter\nbroken");

    // The model read from the same document has no markers in its cells either.
    const DocumentModel model = AttributedTextReader::documentModelFromAttributedString(doc);
    EXPECT_FALSE(hasLayoutMarkers(model.plainText())) << model.plainText().toStdString();
}

TEST(AttributedText, HtmlThroughRichTextReadsPicturesOfItsOwnFolderOnly)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("pages/images/pic.png"), png(5, 5));
    // Beside the page's folder, not in it: one of the reader's other files, never carried.
    writeFile(dir.filePath("private/other.png"), png(9, 9));
    const QString page = writeFile(dir.filePath("pages/page.html"),
                                   "<html><head><title>Own page</title></head><body><h1>Head</h1>"
                                   "<p><img src=\"images/pic.png\"></p><p><img src=\"https://example.com/x.png\"></p>"
                                   "<p><img src=\"../private/other.png\"></p>"
                                   "<ol><li>one</li><li>two</li></ol></body></html>");
    const RichTextReader::Result result = RichTextReader::readHTMLFile(QUrl::fromLocalFile(page));
    EXPECT_EQ(result.title, QStringLiteral("Own page"));
    const auto blocks = AttributedTextReader::documentModelFromAttributedString(*result.document, result.title).blocks;
    ASSERT_EQ(blocks.size(), 4);
    EXPECT_EQ(blocks[0], DocBlock::heading(1, {DocRun("Head")}));
    EXPECT_EQ(blocks[1].kind, DocBlock::Kind::image);
    EXPECT_EQ(blocks[1].ext, "png");
    EXPECT_EQ(QImage::fromData(*blocks[1].data).size(), QSize(5, 5));
    EXPECT_EQ(blocks[2], DocBlock::listItem(true, 1, {DocRun("one")}));
    EXPECT_EQ(blocks[3], DocBlock::listItem(true, 1, {DocRun("two")}));
}

TEST(AttributedText, PandocReadsOdtWithItsPictures)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("pic.png"), png(7, 3));
    const QString markdown = writeFile(dir.filePath("src.md"), "# Chapter\n\n![a picture](pic.png)\n\n1. one\n2. two\n");
    const QString odt = dir.filePath("c.odt");
    ASSERT_EQ(runProgram("pandoc", {"--resource-path", dir.path(), markdown, "-o", odt}), 0);
    const QUrl work = QUrl::fromLocalFile(dir.filePath("work"));
    QDir().mkpath(work.toLocalFile());
    const DocumentModel model = DocumentFileReader::read(QUrl::fromLocalFile(odt), work);
    EXPECT_EQ(model.title, QStringLiteral("Chapter"));
    const auto image = std::find_if(model.blocks.begin(), model.blocks.end(),
                                    [](const DocBlock& b) { return b.kind == DocBlock::Kind::image; });
    ASSERT_NE(image, model.blocks.end());
    EXPECT_EQ(QImage::fromData(*image->data).size(), QSize(7, 3));
    EXPECT_TRUE(model.blocks.contains(DocBlock::listItem(true, 1, {DocRun("two")})));
}
