#include "documents/writers/HTMLRenderer.h"

#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

QByteArray encoded(const char* format)
{
    QImage image(6, 4, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QByteArray dataOf(const QString& html, const QString& type)
{
    const QString marker = "data:" + type + ";base64,";
    const qsizetype at = html.indexOf(marker);
    if (at < 0)
        return {};
    const qsizetype end = html.indexOf('"', at);
    return QByteArray::fromBase64(html.mid(at + marker.size(), end - at - marker.size()).toLatin1());
}

} // namespace

TEST(HTMLRenderer, ListsStandOnTheirOwnLines)
{
    const QList<DocBlock> items{DocBlock::listItem(false, 1, {DocRun("a")}), DocBlock::listItem(false, 1, {DocRun("b")})};
    EXPECT_EQ(HTMLRenderer::renderHTML(items, false, {}), "<ul><li>\na\n</li><li>\nb\n</li></ul>");
    const QList<DocBlock> nested{DocBlock::listItem(false, 1, {DocRun("1")}), DocBlock::listItem(false, 2, {DocRun("2")}),
                                 DocBlock::listItem(false, 2, {DocRun("3")}), DocBlock::listItem(false, 1, {DocRun("4")}),
                                 DocBlock::paragraph({DocRun("p")})};
    EXPECT_EQ(HTMLRenderer::renderHTML(nested, false, {}),
              "<ul><li>\n1\n<ul><li>\n2\n</li><li>\n3\n</li></ul>\n</li><li>\n4\n</li></ul>\n<p>p</p>");
    EXPECT_EQ(HTMLRenderer::renderHTML({DocBlock::listItem(true, 3, {DocRun("x")})}, false, {}),
              "<ol><li>\n<ol><li>\n<ol><li>\nx\n</li></ol>\n</li></ol>\n</li></ol>");
    EXPECT_EQ(HTMLRenderer::renderHTML({}, false, {}), "");
    EXPECT_EQ(HTMLRenderer::renderHTML({DocBlock::listItem(false, 1, {DocRun("a")}), DocBlock::listItem(true, 1, {DocRun("b")})},
                                       false, {}),
              "<ul><li>\na\n</li></ul>\n<ol><li>\nb\n</li></ol>");
}

TEST(HTMLRenderer, EscapesOnceAndKeepsApostrophes)
{
    EXPECT_EQ(HTMLRenderer::htmlRun(DocRun("a < b & \"c\" > d's")), "a &lt; b &amp; &quot;c&quot; &gt; d's");
    EXPECT_EQ(HTMLRenderer::htmlRun(DocRun("&amp;")), "&amp;amp;");
    DocRun all("t");
    all.bold = all.italic = all.strike = true;
    all.link = "x?a=1&b=2";
    EXPECT_EQ(HTMLRenderer::htmlRun(all), "<a href=\"x?a=1&amp;b=2\"><strong><em><del>t</del></em></strong></a>");
    const QList<DocBlock> blocks{DocBlock::paragraph({DocRun("a\nb")}), DocBlock::code("x\ny"), DocBlock::rule(),
                                 DocBlock::pageBreak(), DocBlock::heading(9, {DocRun("h")}),
                                 DocBlock::table({{"a", "b"}, {"c"}})};
    EXPECT_EQ(HTMLRenderer::renderHTML(blocks, false, {}),
              "<p>a<br>b</p>\n<pre><code>x\ny</code></pre>\n<hr>\n<h6>h</h6>\n"
              "<table><tr><th>a</th><th>b</th></tr><tr><td>c</td></tr></table>");
    EXPECT_EQ(HTMLRenderer::renderHTML({DocBlock::paragraph({DocRun("a\nb")}), DocBlock::rule()}, true, {}),
              "<p>a<br />b</p>\n<hr />");
}

TEST(HTMLRenderer, XHTMLFormDropsWhatXMLForbids)
{
    const QString text = QString("a") + QChar(0x0C) + "b" + QChar(0x01) + QChar(0xFFFE) + "c\td";
    EXPECT_EQ(HTMLRenderer::renderHTML({DocBlock::paragraph({DocRun(text)})}, true, {}), "<p>abc\td</p>");
    EXPECT_TRUE(HTMLRenderer::renderHTML({DocBlock::paragraph({DocRun(text)})}, false, {}).contains(QChar(0x0C)));
}

TEST(HTMLRenderer, EmbedsPicturesBrowsersShowAndConvertsTheRest)
{
    QTemporaryDir dir;
    const QByteArray jpeg = encoded("JPEG");
    const QString html = HTMLRenderer::renderHTMLWithEmbeddedImages(
        {DocBlock::image(std::nullopt, jpeg, "tiff", {DocRun("alt \"x\"")})}, false, std::nullopt);
    // Bytes are told by their content, not by the extension they came with.
    EXPECT_EQ(dataOf(html, "image/jpeg"), jpeg);
    EXPECT_TRUE(html.contains("alt=\"alt &quot;x&quot;\">"));

    const QByteArray bmp = encoded("BMP");
    const QByteArray png = dataOf(HTMLRenderer::renderHTMLWithEmbeddedImages(
                                      {DocBlock::image(std::nullopt, bmp, "bmp")}, false, std::nullopt),
                                  "image/png");
    ASSERT_TRUE(png.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(png).size(), QSize(6, 4));

    // A TIFF beside the document, named with an escaped space.
    const QString tiff = dir.filePath("my pic.tif");
    ASSERT_EQ(runProgram("vips", {"black", tiff, "5", "3"}), 0);
    const QString fromPath = HTMLRenderer::renderHTMLWithEmbeddedImages(
        {DocBlock::image("my%20pic.tif", std::nullopt, "tif")}, false, QUrl::fromLocalFile(dir.path()));
    const QByteArray converted = dataOf(fromPath, "image/png");
    ASSERT_TRUE(converted.startsWith("\x89PNG"));
    EXPECT_EQ(QImage::fromData(converted).size(), QSize(5, 3));

    // Garbage is dropped; a missing file keeps its path.
    EXPECT_EQ(HTMLRenderer::renderHTMLWithEmbeddedImages({DocBlock::image(std::nullopt, QByteArray("junk"), "tiff")},
                                                         false, std::nullopt),
              "");
    EXPECT_EQ(HTMLRenderer::renderHTMLWithEmbeddedImages({DocBlock::image("gone%20.png", std::nullopt, "png")}, false,
                                                         QUrl::fromLocalFile(dir.path())),
              "<p><img src=\"gone%20.png\" alt=\"\"></p>");
    const QString svg = "<?xml version=\"1.0\"?><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"1\" height=\"1\"/>";
    EXPECT_TRUE(HTMLRenderer::imageDataURI(svg.toUtf8())->startsWith("data:image/svg+xml;base64,"));
}
