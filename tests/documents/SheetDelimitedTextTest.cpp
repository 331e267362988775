#include "documents/sheets/DelimitedText.h"
#include "documents/sheets/Sheet.h"
#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;

using Rows = QList<QStringList>;

TEST(SheetDelimitedText, TheFirstLineAndTheExtensionChooseTheDelimiter)
{
    QTemporaryDir dir;
    const QByteArray text = "a;b;c\r\n1,5;2;3";
    EXPECT_EQ(readDelimitedText(test::writeFile(dir.filePath("x.csv"), text)),
              (Rows{{"a", "b", "c"}, {"1,5", "2", "3"}}));
    EXPECT_EQ(readDelimitedText(test::writeFile(dir.filePath("x.tsv"), text)),
              (Rows{{"a;b;c"}, {"1,5;2;3"}}));
    EXPECT_EQ(readDelimitedText(test::writeFile(dir.filePath("y.tab"), "a\tb\n")), (Rows{{"a", "b"}}));
    // Blank lines before the first line with text do not count.
    EXPECT_EQ(delimiterFor("\r\n\na;b,c;d\n", "z.csv"), QLatin1Char(';'));
    EXPECT_EQ(delimiterFor("", "z.csv"), QLatin1Char(','));

    // A byte-order mark goes.
    const Rows marked = readDelimitedText(test::writeFile(dir.filePath("bom.csv"), "\xEF\xBB\xBFname,n\n"));
    EXPECT_EQ(marked.first().first(), "name");
}

TEST(SheetDelimitedText, QuotesAndLineBreaks)
{
    const QChar comma = QLatin1Char(',');
    EXPECT_EQ(splitDelimited("x,y\n", comma), (Rows{{"x", "y"}}));
    EXPECT_EQ(splitDelimited("x,y\n\n", comma), (Rows{{"x", "y"}, {""}}));
    EXPECT_EQ(splitDelimited("\"a \"\"quoted\"\" word\",2", comma), (Rows{{"a \"quoted\" word", "2"}}));
    EXPECT_EQ(splitDelimited("\"ab\"c,d", comma), (Rows{{"abc", "d"}}));
    EXPECT_EQ(splitDelimited("ab\"c,d", comma), (Rows{{"ab\"c", "d"}}));
    EXPECT_EQ(splitDelimited("\"two\r\nlines\",x\r\ny\rz", comma), (Rows{{"two\r\nlines", "x"}, {"y"}, {"z"}}));
    EXPECT_EQ(splitDelimited("\"open, never closed\nstill", comma), (Rows{{"open, never closed\nstill"}}));
    EXPECT_EQ(splitDelimited("a,", comma), (Rows{{"a", ""}}));
    EXPECT_TRUE(splitDelimited("", comma).isEmpty());
    // A quote carrying a combining mark is a character of its own.
    EXPECT_EQ(splitDelimited(QString::fromUtf8("a,\"\u0301b"), comma), (Rows{{"a", QString::fromUtf8("\"\u0301b")}}));
}

TEST(SheetDelimitedText, WritingQuotesOnlyWhereNeeded)
{
    EXPECT_EQ(delimitedText({{"a,b", " x", "plain"}, {"say \"hi\""}}, QLatin1Char(',')),
              "\"a,b\",\" x\",plain\r\n\"say \"\"hi\"\"\"\r\n");
    EXPECT_EQ(delimitedText({{"a,b", "t\tab"}, {}}, QLatin1Char('\t')), "a,b\t\"t\tab\"\r\n\r\n");
    EXPECT_EQ(delimitedText({}, QLatin1Char(',')), "\r\n");

    // What is written reads back the same.
    const Rows rows{{"0042", "-0.5", "a & b", "line\nbreak", "\"q\"", " pad "}, {"", "x"}};
    EXPECT_EQ(splitDelimited(delimitedText(rows, QLatin1Char(',')), QLatin1Char(',')), rows);
}

TEST(SheetDelimitedText, TooManyCellsAreRefusedWhileSplitting)
{
    const QString row = QStringLiteral("1,2,3,4,5\n");
    EXPECT_EQ(splitDelimited(row.repeated(4), QLatin1Char(','), 20).size(), 4);
    try {
        splitDelimited(row.repeated(5), QLatin1Char(','), 20);
        ADD_FAILURE();
    } catch (const EngineError& error) {
        EXPECT_EQ(error.message(), "This spreadsheet is too large");
    }
}
