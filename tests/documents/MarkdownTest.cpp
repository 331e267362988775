#include "documents/readers/MarkdownReader.h"
#include "documents/writers/HTMLRenderer.h"
#include "documents/writers/MarkdownWriter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <thread>
#include <vector>

using namespace qv;

namespace {

QList<DocBlock> parse(const QString& text)
{
    return MarkdownReader::parseMarkdown(text).second;
}

DocRun styled(const QString& text, bool bold, bool italic, bool code = false, bool strike = false)
{
    DocRun run(text);
    run.bold = bold;
    run.italic = italic;
    run.code = code;
    run.strike = strike;
    return run;
}

qsizetype count(const QList<DocBlock>& blocks, DocBlock::Kind kind)
{
    return std::count_if(blocks.begin(), blocks.end(), [&](const DocBlock& b) { return b.kind == kind; });
}

// The page through the model and the page straight from the parser, with their titles.
struct TwoRoads {
    QByteArray model;
    QByteArray direct;
    std::optional<QString> modelTitle;
    std::optional<QString> directTitle;
};

TwoRoads bothRoads(const QString& text, const std::optional<QUrl>& base = std::nullopt)
{
    TwoRoads roads;
    const auto [title, blocks] = MarkdownReader::parseMarkdown(text);
    roads.modelTitle = title;
    roads.model = HTMLRenderer::renderHTMLWithEmbeddedImages(blocks, false, base).toUtf8();
    roads.directTitle = MarkdownReader::writeHTML(
        text, [&](const DocBlock& image) { return HTMLRenderer::embeddedImageSource(image, base); },
        [&](QByteArrayView piece) { roads.direct += piece; });
    return roads;
}

// The section the benchmark repeats.
QString benchSection(int n)
{
    return QStringLiteral("## Section %1\n\nSome **bold** and *italic* text with `code`, ~~struck~~ words and a "
                          "[link](https://example.com/%1).\nA second line of the same paragraph, long enough to look "
                          "like prose in a real document.\n\n- item one\n- item two\n   1. nested %1\n   2. nested "
                          "again\n\n> A quoted line.\n\n```\ncode line %1\n    indented\n```\n\n| a | b | c |\n"
                          "| --- | --- | --- |\n| %1 | x | y |\n\n***\n\n")
        .arg(n);
}

} // namespace

TEST(MarkdownReader, ReadsTheCommonBlocks)
{
    const auto [title, blocks] = MarkdownReader::parseMarkdown(
        "# Notes\n\n"
        "Some **strong**, *emph*, `code`, ~~gone~~ and [a link](https://example.com/x).\n\n"
        "- bullet\n   1. numbered\n\n"
        "> - quoted bullet\n\n"
        "```\na\nb\n```\n\n"
        "| h1 | h2 |\n| --- | --- |\n| c1 | c2 |\n\n"
        "before ![pic](img/pic.PNG) after\n");
    EXPECT_EQ(title, QStringLiteral("Notes"));
    DocRun linked("a link");
    linked.link = "https://example.com/x";
    const QList<DocBlock> expected{
        DocBlock::heading(1, {DocRun("Notes")}),
        DocBlock::paragraph({DocRun("Some "), styled("strong", true, false), DocRun(", "), styled("emph", false, true),
                             DocRun(", "), styled("code", false, false, true), DocRun(", "),
                             styled("gone", false, false, false, true), DocRun(" and "), linked, DocRun(".")}),
        DocBlock::listItem(false, 1, {DocRun("bullet")}),
        DocBlock::listItem(true, 2, {DocRun("numbered")}),
        DocBlock::listItem(false, 1, {DocRun("quoted bullet")}),
        DocBlock::code("a\nb"),
        DocBlock::table({{"h1", "h2"}, {"c1", "c2"}}),
        DocBlock::paragraph({DocRun("before")}),
        DocBlock::image("img/pic.PNG", std::nullopt, "png", {DocRun("pic")}),
        DocBlock::paragraph({DocRun("after")}),
    };
    ASSERT_EQ(blocks.size(), expected.size());
    for (qsizetype i = 0; i < blocks.size(); ++i)
        EXPECT_EQ(blocks[i], expected[i]) << i;
}

TEST(MarkdownReader, RulesComeOnlyFromThematicBreaks)
{
    EXPECT_EQ(count(parse("Sub\n---\n\ntext\n"), DocBlock::Kind::rule), 0);
    EXPECT_EQ(count(parse("```\n---\n```\n\ntext\n"), DocBlock::Kind::rule), 0);
    const auto front = MarkdownReader::parseMarkdown("---\ntitle: \"Front\"\ntags: [a]\n---\n\ntext\n");
    EXPECT_EQ(front.first, QStringLiteral("Front"));
    EXPECT_EQ(front.second, QList<DocBlock>{DocBlock::paragraph({DocRun("text")})});
    const auto blocks = parse("one\n\n***\n\ntwo\n");
    ASSERT_EQ(blocks.size(), 3);
    EXPECT_EQ(blocks[1].kind, DocBlock::Kind::rule);
    EXPECT_EQ(parse("Sub\n---\n")[0], DocBlock::heading(2, {DocRun("Sub")}));
}

TEST(MarkdownReader, BreaksTitlesAndEmptyInput)
{
    const auto blocks = parse("a  \nb\nc\n");
    ASSERT_EQ(blocks.size(), 1);
    EXPECT_EQ(blocks[0].plainText(), "a\nb c");
    EXPECT_FALSE(MarkdownReader::parseMarkdown("## only two\n").first);
    const auto empty = MarkdownReader::parseMarkdown("");
    EXPECT_FALSE(empty.first);
    EXPECT_TRUE(empty.second.isEmpty());
    EXPECT_EQ(parse("| a | b | c |\n|---|---|---|\n| x |  |  |\n| | y |\n")[0].rows,
              (QList<QStringList>{{"a", "b", "c"}, {"x"}, {"", "y"}}));
}

TEST(MarkdownReader, SurvivesDeepNesting)
{
    const QString quotes = QString(">").repeated(100000) + " deep\n";
    const auto blocks = parse(quotes);
    ASSERT_FALSE(blocks.isEmpty());
    EXPECT_TRUE(blocks.last().plainText().contains("deep"));
    const QString emphasis = QString("*").repeated(50000) + "x" + QString("*").repeated(50000);
    EXPECT_FALSE(parse(emphasis).isEmpty());
    const QString lists = QString("- ").repeated(20000) + "x\n";
    EXPECT_FALSE(parse(lists).isEmpty());
}

TEST(MarkdownWriter, NumbersIndentsAndRestarts)
{
    const QList<DocBlock> blocks{DocBlock::listItem(true, 1, {DocRun("a")}), DocBlock::listItem(true, 1, {DocRun("b")}),
                                 DocBlock::listItem(true, 2, {DocRun("c")}), DocBlock::listItem(true, 2, {DocRun("d")}),
                                 DocBlock::listItem(true, 1, {DocRun("e")}), DocBlock::paragraph({DocRun("p")}),
                                 DocBlock::listItem(true, 1, {DocRun("f")}), DocBlock::listItem(false, 1, {DocRun("g")}),
                                 DocBlock::listItem(true, 1, {DocRun("h")})};
    EXPECT_EQ(MarkdownWriter::renderMarkdown(blocks),
              "1. a\n2. b\n   1. c\n   2. d\n3. e\n\np\n\n1. f\n- g\n1. h\n");
    EXPECT_EQ(MarkdownWriter::renderMarkdown({}), "\n");
}

TEST(MarkdownWriter, EscapesWhatWouldBeMarkup)
{
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("a_b*c"), "a\\_b\\*c");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("# x"), "\\# x");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("+1"), "\\+1");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("- x"), "\\- x");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("3. x"), "3\\. x");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("12. x"), "12\\. x");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("x. 3"), "x. 3");
    EXPECT_EQ(MarkdownWriter::escapeMarkdown("~x~ ~~y"), "\\~x\\~ \\~\\~y");
    EXPECT_EQ(MarkdownWriter::markdownRun(styled(" word ", true, false)), " **word** ");
    EXPECT_EQ(MarkdownWriter::markdownRun(styled("  ", true, false)), "  ");
    EXPECT_EQ(MarkdownWriter::markdownRun(styled("t", true, true, false, true)), "***~~t~~***");
    DocRun linked("see here");
    linked.link = "a b.html";
    EXPECT_EQ(MarkdownWriter::markdownRun(linked), "[see here](a%20b.html)");
    EXPECT_EQ(MarkdownWriter::markdownCodeSpan("a`b"), "`` a`b ``");
    EXPECT_EQ(MarkdownWriter::markdownTable({{"a", "b"}, {"x|y"}}), "| a | b |\n| --- | --- |\n| x\\|y |  |");
    EXPECT_EQ(MarkdownWriter::renderMarkdown({DocBlock::code("x\n```\ny")}), "~~~\nx\n```\ny\n~~~\n");
    EXPECT_EQ(MarkdownWriter::renderMarkdown({DocBlock::quote({DocRun("a\nb")})}), "> a  \n> b\n");
}

TEST(MarkdownWriter, OutputReadsBackToTheSameBlocks)
{
    DocRun linked("site");
    linked.link = "https://example.com/a b";
    const QList<DocBlock> blocks{
        DocBlock::heading(1, {DocRun("Title")}),
        DocBlock::heading(3, {DocRun("Three")}),
        DocBlock::paragraph({DocRun("a_b*c and "), styled("bold", true, false), DocRun(" "),
                             styled("it", false, true), DocRun(" "), styled("x`y", false, false, true),
                             DocRun(" "), styled("gone", false, false, false, true), DocRun(" "), linked}),
        DocBlock::paragraph({DocRun("3. not a list")}),
        DocBlock::paragraph({DocRun("a ~~almost"), styled("struck", false, false, false, true), DocRun("~ home ~/x")}),
        DocBlock::listItem(false, 1, {DocRun("one")}),
        DocBlock::listItem(true, 2, {DocRun("two")}),
        DocBlock::listItem(true, 2, {DocRun("three")}),
        DocBlock::listItem(false, 1, {DocRun("four")}),
        DocBlock::code("int main()\n{\n\n\treturn 0;\n    // done\n}"),
        DocBlock::table({{"h", "i"}, {"1", "2"}}),
        DocBlock::quote({DocRun("said")}),
        DocBlock::rule(),
        DocBlock::paragraph({DocRun("end")}),
    };
    const QString markdown = MarkdownWriter::renderMarkdown(blocks);
    EXPECT_TRUE(markdown.endsWith("end\n"));
    EXPECT_FALSE(markdown.endsWith("\n\n"));
    auto back = MarkdownReader::parseMarkdown(markdown).second;
    // The space in the link travels as %20.
    ASSERT_EQ(back.size(), blocks.size()) << markdown.toStdString();
    for (qsizetype i = 0; i < blocks.size(); ++i) {
        if (i == 2) {
            EXPECT_EQ(back[i].runs.last().link, "https://example.com/a%20b");
            back[i].runs.last().link = "https://example.com/a b";
        }
        EXPECT_EQ(back[i], blocks[i]) << i << "\n" << markdown.toStdString();
    }
}

TEST(MarkdownReader, ParsesOnManyThreadsAtOnce)
{
    const QString source = "# T\n\n| a | b |\n|---|---|\n| c | d |\n\n~~x~~ and *y*\n";
    const auto expected = parse(source);
    std::vector<QList<DocBlock>> results(4);
    {
        std::vector<std::jthread> threads;
        for (auto& result : results)
            threads.emplace_back([&] { result = parse(source); });
    }
    for (const auto& result : results)
        EXPECT_EQ(result, expected);

    // Pages written straight from the parser too, each thread in memory of its own.
    const QByteArray page = bothRoads(source).model;
    std::vector<QByteArray> pages(4);
    {
        std::vector<std::jthread> threads;
        for (auto& one : pages)
            threads.emplace_back([&] {
                for (int i = 0; i < 50; ++i) {
                    QByteArray written;
                    MarkdownReader::writeHTML(source, {}, [&](QByteArrayView piece) { written += piece; });
                    if (written != page)
                        return;
                }
                one = page;
            });
    }
    for (const auto& one : pages)
        EXPECT_EQ(one, page);
}

// A long text is read a section at a time; what spans sections must read as in one piece.
TEST(MarkdownReader, LongTextsReadAsInOnePiece)
{
    QString filler;
    for (int i = 0; i < 9000; ++i)
        filler += QStringLiteral("A line of plain prose, long enough to fill a section quickly.\n\n");
    const QString fence = QStringLiteral("```\nbefore\n\n# not a heading\n\nafter\n```\n\n");
    const QString text = QStringLiteral("# One\n\n") + filler + fence + QStringLiteral("# Two\n\n") + filler
        + QStringLiteral("# Three\n\n") + filler + fence + filler;
    const QList<DocBlock> blocks = parse(text);
    EXPECT_EQ(count(blocks, DocBlock::Kind::heading), 3);
    EXPECT_EQ(count(blocks, DocBlock::Kind::code), 2);
    EXPECT_EQ(count(blocks, DocBlock::Kind::paragraph), 4 * 9000);
    for (const DocBlock& block : blocks) {
        if (block.kind == DocBlock::Kind::code) {
            EXPECT_EQ(block.plainText(), QStringLiteral("before\n\n# not a heading\n\nafter"));
        }
    }

    // A reference defined at the end serves a link at the start.
    const QList<DocBlock> linked = parse(QStringLiteral("# Start\n\nSee [the notes][n].\n\n") + filler
                                         + QStringLiteral("# End\n\n") + filler + QStringLiteral("[n]: https://example.com/n\n"));
    ASSERT_GE(linked.size(), 2);
    ASSERT_EQ(linked[1].runs.size(), 3);
    EXPECT_EQ(linked[1].runs[1].link, QStringLiteral("https://example.com/n"));

    // An HTML comment may run over blank lines and headings.
    const QList<DocBlock> commented = parse(QStringLiteral("# Start\n\n<!--\n\n") + filler + QStringLiteral("# Hidden\n\n")
                                            + filler + QStringLiteral("-->\n\n# Shown\n"));
    EXPECT_EQ(count(commented, DocBlock::Kind::heading), 2);
}

// Pages of Markdown are written straight from the parser; they must not differ by a byte from
// the pages the model makes, whatever the text holds.
TEST(MarkdownReader, WritesTheSameHtmlAsTheModel)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QImage(3, 2, QImage::Format_RGB32).save(dir.filePath("pic.png")));
    QFile junk(dir.filePath("junk.png"));
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly) && junk.write("no picture at all") > 0);
    junk.close();
    const QUrl base = QUrl::fromLocalFile(dir.path());

    const QStringList samples{
        // Every inline style, merged runs, breaks and entities.
        "# Title *with* `code`\n\nSome **strong**, *emph*, ***both***, `a < b`, ~~gone~~ and [a link](https://e.com/?a=1&b=\"2\").\n"
        "**a****b** [x](u)[y](u) [z](v) soft\nbreak hard  \nbreak back\\\nslash &amp; &copy; &#35; <span>inline</span>\n\n"
        "Setext\n======\n\nSub\n---\n\n###### six\n\n#hash\n",
        // Lists: nested, ordered with a start, mixed, loose, with quotes and code inside.
        "- a\n- b\n  - c\n    1. d\n    2. e\n- f\n\n7. seven\n8. eight\n\n* star\n+ plus\n\n1) one\n2) two\n\n"
        "- loose\n\n  second paragraph\n\n  > quoted in item\n\n  ```\n  code in item\n  ```\n- [ ] task\n\n"
        "> quote\n> - list in quote\n>\n> > deeper\n\npara\n",
        // Code, HTML blocks and comments, rules, tables with alignment and empty cells.
        "```python\nprint(\"<hi>\")\n\n\n```\n\n~~~\n\n\nx\n~~~\n\n    indented\n    code\n\n```\n```\n\n"
        "<div class=\"a\">\n  raw & <b>html</b>\n</div>\n\n<!-- a comment -->\n\n  <p>spaced</p>  \n\n***\n---\n___\n\n"
        "| left | centre | right | none |\n|:-----|:------:|------:|------|\n| 1 | **2** | `3` | |\n| | | |\n"
        "| a \\| pipe | [l](u) | ![i](pic.png) | \u00a0x\u3000 |\n\n",
        // Images alone, between texts, in items, headings and links, found, missing and unreadable.
        "![alone](pic.png)\n\ntext ![mid](pic.png) more\n\n- ![in item](pic.png)\n- before ![b](missing.png)\n"
        "- ![j](junk.png) after\n\n# ![head](pic.png) tail\n\n[![linked](pic.png)](https://e.com)\n\n"
        "   ![spaced](pic.png \"title\")   \n\n> ![q](junk.png)\n\n![*emph* alt](<pic.png>)\n",
        // Quotes of several paragraphs, with pictures, lists and quotes between them.
        "> one\n>\n> **two**\n>\n> three\n\n> apart\n\n> again\n\n> a\n>\n> ![q](pic.png) after\n>\n> b\n>\n"
        "> c\n> - item\n>\n> d\n>\n> > inner\n> >\n> > inner two\n>\n> e\n\n- > in item\n  >\n  > still\n",
        // White space that QString::trimmed() knows and ASCII does not.
        "<div>\u2003wide\u2003</div>\n\n\u00a0nbsp\u00a0\n\n| \u2028x\u2028 |\n|---|\n| \u00a0 |\n\n\u3000\n",
        // Unicode text, front matter, nothing at all.
        "---\ntitle: \"Front\"\n---\n\nÉtude — 日本語 😀 ‘quotes’\n",
        "",
        "   \n\n",
        // Depths past the limit, as blocks and as inlines.
        QString(">").repeated(100) + " deep *x* `y`\n\n" + QString("- ").repeated(80) + "item\n\n"
            + QString("*").repeated(200) + "x" + QString("*").repeated(200) + "\n\n"
            + QString("[").repeated(70) + "a" + QString("](u)").repeated(70) + "\n",
    };
    for (const QString& sample : samples) {
        const TwoRoads roads = bothRoads(sample, base);
        EXPECT_EQ(roads.direct.toStdString(), roads.model.toStdString()) << sample.toStdString();
        EXPECT_EQ(roads.directTitle, roads.modelTitle) << sample.toStdString();
    }
    // The rich samples hold what they are meant to.
    const TwoRoads images = bothRoads(samples[3], base);
    EXPECT_TRUE(images.direct.contains("<img src=\"data:image/png;base64,"));
    EXPECT_TRUE(images.direct.contains("<img src=\"missing.png\""));
    EXPECT_TRUE(bothRoads(samples[2]).direct.contains("<table><tr><th>left</th>"));

    // The benchmark's text, long enough to be parsed in sections.
    QString bench = "# Big\n\n";
    for (int n = 0; bench.size() < 1'300'000; ++n)
        bench += benchSection(n);
    const TwoRoads long_ = bothRoads(bench, base);
    EXPECT_TRUE(long_.direct == long_.model);
    EXPECT_EQ(long_.directTitle, QStringLiteral("Big"));
    EXPECT_EQ(long_.direct.count("<h2>"), bench.count("## Section"));
}

TEST(MarkdownReader, AQuoteOfSeveralParagraphsStaysOneQuote)
{
    const auto [title, blocks] = MarkdownReader::parseMarkdown("> first\n>\n> second\n\n> another\n");
    ASSERT_EQ(blocks.size(), 2);
    EXPECT_EQ(blocks[0], DocBlock::quote({DocRun("first\n\nsecond")}));
    EXPECT_EQ(blocks[1], DocBlock::quote({DocRun("another")}));
    const TwoRoads roads = bothRoads("> first\n>\n> second\n\n> another\n");
    EXPECT_EQ(roads.direct.toStdString(),
              "<blockquote><p>first</p><p>second</p></blockquote>\n<blockquote><p>another</p></blockquote>");
    EXPECT_EQ(roads.model, roads.direct);
    const TwoRoads styled = bothRoads("> **bold** one\n>\n> two *it*\n");
    EXPECT_EQ(styled.direct.toStdString(), "<blockquote><p><strong>bold</strong> one</p><p>two <em>it</em></p></blockquote>");
    EXPECT_EQ(styled.model, styled.direct);
    // Written back as Markdown it is still one quote of two paragraphs.
    EXPECT_EQ(MarkdownWriter::renderMarkdown({blocks[0]}), "> first  \n>   \n> second\n");
    EXPECT_EQ(MarkdownReader::parseMarkdown(MarkdownWriter::renderMarkdown({blocks[0]})).second.size(), 1);
}

// What stays bounded through the model stays bounded straight to HTML, and reads the same.
TEST(MarkdownReader, WritesHostileTextsAsTheModelDoes)
{
    QString table = "|" + QString(" h |").repeated(1000) + "\n|" + QString("---|").repeated(1000) + "\n";
    for (int row = 0; row < 100; ++row)
        table += "|" + QString(" *c* |").repeated(1000) + "\n";
    const QStringList hostile{
        QString(">").repeated(100000) + " deep\n",
        QString("*").repeated(50000) + "x" + QString("*").repeated(50000),
        QString("- ").repeated(20000) + "x\n",
        QString("[").repeated(5000) + "x" + QString("](u)").repeated(5000) + "\n",
        table,
    };
    for (const QString& text : hostile) {
        const TwoRoads roads = bothRoads(text);
        EXPECT_FALSE(roads.direct.isEmpty());
        EXPECT_TRUE(roads.direct == roads.model) << text.left(40).toStdString();
    }
}
