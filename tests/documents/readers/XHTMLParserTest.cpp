#include "documents/readers/XHTMLParser.h"

#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <thread>
#include <vector>

using namespace qv;
using namespace qv::test;

namespace {

DocRun bold(const QString& text)
{
    DocRun run(text);
    run.bold = true;
    return run;
}

QByteArray jpegBytes()
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

QList<DocBlock> parseHTML(const QByteArray& html, const std::optional<QUrl>& base = std::nullopt)
{
    return XHTMLParser::parse(html, base, false);
}

} // namespace

TEST(XHTMLParser, ReadsTheCommonElements)
{
    const QByteArray jpeg = jpegBytes();
    const QByteArray html =
        "<html><head><title>t</title></head><body>\n"
        "<p>Hello <b>world</b></p>\n"
        "<p>  spread\n    over\n\n   lines  </p>\n"
        "<p>a<br>b</p>\n"
        "<ul><li>one</li><li>two<ol><li>x</li><li>y</li></ol></li></ul>\n"
        "<ul><li><p>first</p><p>second</p></li><li><b>strong</b> item</li></ul>\n"
        "<pre>\n  code\n\tline\n</pre>\n"
        "<table><tr><th>h1</th><th>h2</th></tr><tr></tr><tr><td>c\n1</td><td>c2</td></tr></table>\n"
        "<p><img src=\"data:image/jpeg;base64," + jpeg.toBase64() + "\" alt=\"pic\"></p>\n"
        "<p>before <img src=\"https://example.com/a.png\"> after</p>\n"
        "<script>var hidden = 1;</script>\n"
        "<p><a href=\"#top\">top</a> and <a href=\"https://example.com/\">out</a></p>\n"
        "Hello <b>loose</b>\n"
        "</body></html>";
    const QList<DocBlock> blocks = parseHTML(html);
    DocRun out("out");
    out.link = "https://example.com/";
    const QList<DocBlock> expected{
        DocBlock::paragraph({DocRun("Hello "), bold("world")}),
        DocBlock::paragraph({DocRun("spread over lines")}),
        DocBlock::paragraph({DocRun("a\nb")}),
        DocBlock::listItem(false, 1, {DocRun("one")}),
        DocBlock::listItem(false, 1, {DocRun("two")}),
        DocBlock::listItem(true, 2, {DocRun("x")}),
        DocBlock::listItem(true, 2, {DocRun("y")}),
        DocBlock::listItem(false, 1, {DocRun("first second")}),
        DocBlock::listItem(false, 1, {bold("strong"), DocRun(" item")}),
        DocBlock::code("  code\n\tline"),
        DocBlock::table({{"h1", "h2"}, {"c 1", "c2"}}),
        DocBlock::image(std::nullopt, jpeg, "jpg", {DocRun("pic")}),
        DocBlock::paragraph({DocRun("before")}),
        DocBlock::paragraph({DocRun("after")}),
        DocBlock::paragraph({DocRun("top and "), out}),
        DocBlock::paragraph({DocRun("Hello loose")}),
    };
    ASSERT_EQ(blocks.size(), expected.size());
    for (qsizetype i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(blocks[i], expected[i]) << i;
}

TEST(XHTMLParser, StrictFirstThenTolerant)
{
    const QByteArray xhtml = "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
                             "<h2>Title</h2><p>x &amp; y</p></body></html>";
    const auto strict = XHTMLParser::parse(xhtml, std::nullopt, true);
    ASSERT_EQ(strict.size(), 2);
    EXPECT_EQ(strict[0], DocBlock::heading(2, {DocRun("Title")}));
    EXPECT_EQ(strict[1].plainText(), "x & y");
    // Not well-formed, yet good HTML.
    const auto loose = XHTMLParser::parse("<p>a &nbsp; b<p>c", std::nullopt, true);
    ASSERT_EQ(loose.size(), 2);
    EXPECT_EQ(loose[1].plainText(), "c");
    EXPECT_TRUE(XHTMLParser::parse("", std::nullopt, true).isEmpty());
    // Latin-1 bytes without a charset still read.
    EXPECT_FALSE(parseHTML("<p>caf\xe9</p>").isEmpty());
    EXPECT_EQ(parseHTML("<p>caf\xc3\xa9</p>")[0].plainText(), QString::fromUtf8("caf\xc3\xa9"));
}

TEST(XHTMLParser, ImagesStayInsideTheirRoot)
{
    QTemporaryDir dir;
    const QByteArray jpeg = jpegBytes();
    writeFile(dir.filePath("book/text/pic.jpg"), jpeg);
    writeFile(dir.filePath("book/images/other.jpg"), jpeg);
    writeFile(dir.filePath("outside/secret.jpg"), jpeg);
    QFile::link(dir.filePath("outside/secret.jpg"), dir.filePath("book/text/link.jpg"));
    const QUrl base = QUrl::fromLocalFile(dir.filePath("book/text"));
    const QUrl root = QUrl::fromLocalFile(dir.filePath("book"));
    const QByteArray html = "<body><img src=\"pic.jpg\"/><img src=\"../images/other.jpg\"/>"
                            "<img src=\"../../outside/secret.jpg\"/><img src=\"file://" +
                            QFile::encodeName(dir.filePath("outside/secret.jpg")) +
                            "\"/><img src=\"link.jpg\"/><img src=\"missing.jpg\"/></body>";
    const auto inBook = XHTMLParser::parse(html, base, true, root);
    ASSERT_EQ(inBook.size(), 2);
    EXPECT_EQ(inBook[0].data, jpeg);
    EXPECT_EQ(inBook[0].ext, "jpg");
    // The user's own page may use sibling folders.
    EXPECT_EQ(XHTMLParser::parse(html, base, true).size(), 5);
}

TEST(XHTMLParser, HostileEntitiesNeitherReadFilesNorExpand)
{
    QTemporaryDir dir;
    writeFile(dir.filePath("secret.txt"), "TOPSECRET");
    QByteArray xhtml = "<?xml version=\"1.0\"?>\n<!DOCTYPE html [\n<!ENTITY ext SYSTEM \"file://" +
                       QFile::encodeName(dir.filePath("secret.txt")) + "\">\n<!ENTITY a0 \"lol\">\n";
    for (int i = 1; i < 12; ++i)
        xhtml += "<!ENTITY a" + QByteArray::number(i) + " \"" + QByteArray("&a" + QByteArray::number(i - 1) + ";").repeated(10) + "\">\n";
    xhtml += "]>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><body><p>start &ext; &a11; end</p></body></html>";
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    rlimit capped{old};
    capped.rlim_cur = std::min<rlim_t>(old.rlim_max, rlim_t(3) << 30);
    setrlimit(RLIMIT_AS, &capped);
    QList<DocBlock> blocks;
    EXPECT_NO_THROW(blocks = XHTMLParser::parse(xhtml, QUrl::fromLocalFile(dir.path()), true));
    setrlimit(RLIMIT_AS, &old);
    QString all;
    for (const DocBlock& block : blocks)
        all += block.plainText();
    EXPECT_FALSE(all.contains("TOPSECRET"));
    EXPECT_LT(all.size(), 10000);
}

TEST(XHTMLParser, DeepNestingIsReadWithoutCrashing)
{
    const QByteArray divs = QByteArray("<div>").repeated(200000) + "deep" + QByteArray("</div>").repeated(200000);
    QList<DocBlock> blocks;
    EXPECT_NO_THROW(blocks = parseHTML(divs));
    const QByteArray spans = "<p>" + QByteArray("<b><i>").repeated(100000) + "x" + "</p>";
    EXPECT_NO_THROW(parseHTML(spans));
    const QByteArray lists = QByteArray("<ul><li>").repeated(50000) + "item";
    EXPECT_NO_THROW(parseHTML(lists));
    const QByteArray tables = QByteArray("<table><tr><td>").repeated(50000) + "cell";
    EXPECT_NO_THROW(parseHTML(tables));
    EXPECT_NO_THROW(parseHTML(QByteArray("\xff\xfe\x00<\x00p\x00>\x00", 8)));
    EXPECT_NO_THROW(parseHTML("<img src=\"data:image/png;base64,@@@@\"><img src=\"data:image/png,abc\">"));
}

TEST(XHTMLParser, ParsesOnManyThreadsAtOnce)
{
    const QByteArray page = "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><body>"
                            "<h1>T</h1><ul><li>a</li></ul><table><tr><td>x</td></tr></table></body></html>";
    const QByteArray broken = "<p>loose <b>html";
    const auto strict = XHTMLParser::parse(page, std::nullopt, true);
    const auto loose = XHTMLParser::parse(broken, std::nullopt, true);
    std::vector<QList<DocBlock>> results(8);
    {
        std::vector<std::jthread> threads;
        for (size_t i = 0; i < results.size(); ++i)
            threads.emplace_back([&, i] { results[i] = XHTMLParser::parse(i % 2 ? broken : page, std::nullopt, true); });
    }
    for (size_t i = 0; i < results.size(); ++i)
        EXPECT_EQ(results[i], i % 2 ? loose : strict);
}
