#include "documents/model/DocumentModel.h"
#include "documents/writers/XMLNamespaces.h"
#include "model/errors/Error.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

using namespace qv;

namespace {

DocRun linked(const QString& text, const QString& target)
{
    DocRun run(text);
    run.link = target;
    return run;
}

} // namespace

TEST(DocumentModel, PlainTextJoinsPiecesWithOneBlankLine)
{
    DocumentModel empty;
    EXPECT_EQ(empty.plainText(), QString());

    DocumentModel silent;
    silent.blocks = {DocBlock::image(std::nullopt, QByteArray("x"), "png"), DocBlock::rule(), DocBlock::pageBreak()};
    EXPECT_EQ(silent.plainText(), QString());

    DocumentModel model;
    model.blocks = {DocBlock::paragraph({DocRun("one")}), DocBlock::image("a.png", std::nullopt, "png"),
                    DocBlock::paragraph({DocRun("two")}), DocBlock::listItem(true, 3, {DocRun("x")}),
                    DocBlock::table({{"a", "b"}, {"c"}}), DocBlock::paragraph({DocRun("p")}),
                    DocBlock::table({}), DocBlock::paragraph({DocRun("q")})};
    EXPECT_EQ(model.plainText(), QString::fromUtf8("one\n\ntwo\n\n    \u2022 x\n\na\tb\nc\n\np\n\n\n\nq"));
}

TEST(DocumentModel, ChaptersSplitAtShallowHeadings)
{
    DocumentModel empty;
    const auto none = empty.chapters(2);
    ASSERT_EQ(none.size(), 1);
    EXPECT_FALSE(none[0].title);
    EXPECT_TRUE(none[0].blocks.isEmpty());

    DocumentModel model;
    model.blocks = {DocBlock::paragraph({DocRun("intro")}), DocBlock::heading(1, {DocRun("A")}),
                    DocBlock::paragraph({DocRun("a")}), DocBlock::pageBreak(), DocBlock::heading(2, {DocRun("B")}),
                    DocBlock::paragraph({DocRun("b")}), DocBlock::heading(3, {DocRun("C")}),
                    DocBlock::paragraph({DocRun("c")})};
    const auto chapters = model.chapters(2);
    ASSERT_EQ(chapters.size(), 3);
    EXPECT_FALSE(chapters[0].title);
    EXPECT_EQ(chapters[1].title, QStringLiteral("A"));
    EXPECT_EQ(chapters[1].blocks.size(), 2); // the page break is gone
    EXPECT_EQ(chapters[2].title, QStringLiteral("B"));
    EXPECT_EQ(chapters[2].blocks.size(), 4);
}

TEST(DocumentModel, EqualityAndStyle)
{
    EXPECT_TRUE(DocRun("a").hasSameStyle(DocRun("b")));
    EXPECT_FALSE(DocRun("a").hasSameStyle(linked("a", "x")));
    EXPECT_EQ(DocBlock::listItem(true, 2, {DocRun("a")}), DocBlock::listItem(true, 2, {DocRun("a")}));
    EXPECT_NE(DocBlock::listItem(true, 2, {DocRun("a")}), DocBlock::listItem(false, 2, {DocRun("a")}));
    EXPECT_NE(DocBlock::heading(1, {DocRun("a")}), DocBlock::heading(2, {DocRun("a")}));

    QList<DocRun> runs;
    appendMergedRun(runs, DocRun("a"));
    appendMergedRun(runs, DocRun("b"));
    appendMergedRun(runs, linked("c", "x"));
    ASSERT_EQ(runs.size(), 2);
    EXPECT_EQ(runs[0].text, QStringLiteral("ab"));
}

TEST(DocumentModel, UniqueTempDirectoriesAreFreshAndMakeTheirParent)
{
    QTemporaryDir dir;
    const QUrl parent = QUrl::fromLocalFile(dir.filePath("missing/parent"));
    const QUrl a = makeUniqueTempDirectory(parent, "docx-out");
    const QUrl b = makeUniqueTempDirectory(parent, "docx-out");
    EXPECT_NE(a, b);
    EXPECT_TRUE(QDir(a.toLocalFile()).exists());
    EXPECT_TRUE(QFileInfo(a.toLocalFile()).fileName().startsWith("docx-out-"));
    EXPECT_EQ(QFileInfo(a.toLocalFile()).fileName().size(), QString("docx-out-").size() + 36);
    EXPECT_THROW(makeUniqueTempDirectory(QUrl::fromLocalFile("/proc/none"), "x"), Error);
}

TEST(XMLNamespaces, TableShipsAsAResource)
{
    EXPECT_EQ(XMLNamespaces::value("wordMain"), "http://schemas.openxmlformats.org/wordprocessingml/2006/main");
    EXPECT_EQ(XMLNamespaces::value("ops"), "http://www.idpf.org/2007/ops");
    EXPECT_EQ(XMLNamespaces::value("nothing"), QString());
    EXPECT_FALSE(XMLNamespaces::parse("not a plist"));
    EXPECT_FALSE(XMLNamespaces::parse("<plist><array><string>a</string></array></plist>"));
}

TEST(XMLNamespaces, AMissingTableIsLoggedAndGivesEmptyNames)
{
    // A fresh process: the table is read once per process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            XMLNamespaces::resourcePath = ":/documents/none.plist";
            const bool empty = XMLNamespaces::value("wordMain").isEmpty() && XMLNamespaces::value("dc").isEmpty();
            std::exit(empty ? 0 : 1);
        },
        testing::ExitedWithCode(0), "XMLNamespaces.plist is missing from the app bundle");
}
