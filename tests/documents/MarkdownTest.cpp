#include "documents/MarkdownReader.h"
#include "documents/MarkdownWriter.h"

#include <gtest/gtest.h>

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
        if (block.kind == DocBlock::Kind::code)
            EXPECT_EQ(block.plainText(), QStringLiteral("before\n\n# not a heading\n\nafter"));
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
