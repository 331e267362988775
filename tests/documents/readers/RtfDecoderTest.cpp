#include "documents/readers/RtfDecoder.h"

#include <gtest/gtest.h>

using namespace qv;

namespace {

QString decoded(const QByteArray& rtf)
{
    return QString::fromUtf8(RtfDecoder::toUtf8(rtf));
}

} // namespace

// Text in the code page the file declares, in a font's character set or as \u, comes out as
// the characters it means; what is RTF stays RTF.
TEST(RtfDecoder, CodePagesCharacterSetsAndUnicodeEscapes)
{
    EXPECT_EQ(decoded("{\\rtf1\\ansi\\ansicpg1250 Prosz\\'ea}"), "{\\rtf1\\ansi\\ansicpg1250 Prosz\u0119}");
    EXPECT_EQ(decoded("{\\rtf1\\ansi\\ansicpg1251 \\'d2\\'e0\\'e1\\'eb\\'e8\\'f6\\'ff}"),
              "{\\rtf1\\ansi\\ansicpg1251 \u0422\u0430\u0431\u043b\u0438\u0446\u044f}");
    // The font's character set wins over the document's code page; raw bytes count too.
    EXPECT_EQ(decoded("{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f1\\fcharset204 Arial;}}\\f1 \xc4\xe0}"),
              "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f1\\fcharset204 Arial;}}\\f1 \u0414\u0430}");
    // Shift-JIS, its second bytes escaped or not.
    EXPECT_EQ(decoded("{\\rtf1\\ansi\\ansicpg932 \\'93\\'fa\\'96\\'7b \\'83e\\'83X\\'83g}"),
              "{\\rtf1\\ansi\\ansicpg932 \u65e5\u672c \u30c6\u30b9\u30c8}");
    // A character outside the basic plane as a surrogate pair, its stand-ins skipped.
    EXPECT_EQ(decoded("{\\rtf1\\uc1 a\\u-10179?\\u-8704?b}"), QString::fromUtf8("{\\rtf1\\uc1 a\xf0\x9f\x98\x80" "b}"));
    EXPECT_EQ(decoded("{\\rtf1\\uc2 \\u1046\\'3f\\'3fz}"), "{\\rtf1\\uc2 \u0416z}");
    // A decoded brace or backslash stays text; a letter after a bare control word stays apart.
    EXPECT_EQ(decoded("{\\rtf1\\ansicpg1252\\b\\u65?}"), "{\\rtf1\\ansicpg1252\\b A}");
    EXPECT_EQ(decoded("{\\rtf1 \\u123?}"), "{\\rtf1 \\{}");
    // ASCII escapes are left as they are (list levels keep numbers in them).
    EXPECT_EQ(decoded("{\\leveltext\\'02\\'00.;}"), "{\\leveltext\\'02\\'00.;}");
}

TEST(RtfDecoder, BinaryDataBecomesHexAndPageBreaksAMark)
{
    const QByteArray rtf = QByteArray("{\\rtf1{\\pict\\pngblip\\bin4 ") + QByteArray("\x00\x7b\x7d\xff", 4) + "}\\page x}";
    const QString text = decoded(rtf);
    EXPECT_TRUE(text.contains("007b7dff")) << text.toStdString();
    EXPECT_FALSE(text.contains("\\bin"));
    EXPECT_TRUE(text.contains(QChar(RtfDecoder::pageMark)));
    EXPECT_FALSE(text.contains("\\page"));
}

// A line end right after a control word ends the word and is no space of the text, as
// LibreOffice writes "H{\loch\sub\loch\n2}{\loch\nO}".
TEST(RtfDecoder, LineEndAfterAControlWordIsNoSpace)
{
    EXPECT_EQ(decoded("{\\rtf1 H{\\sub\n2}O}"), "{\\rtf1 H{\\sub 2}O}");
    EXPECT_EQ(decoded("{\\rtf1 H{\\loch\\sub\\loch\r\n2}{\\loch\nO}}"), "{\\rtf1 H{\\loch\\sub\\loch \n2}{\\loch O}}");
    // After a delimited word the line end stays a line end.
    EXPECT_EQ(decoded("{\\rtf1 \\b \nx}"), "{\\rtf1 \\b \nx}");
}

// A paragraph that begins a page starts with the page mark; a style that would begin one marks
// nothing.
TEST(RtfDecoder, ParagraphsThatBeginAPageAreMarked)
{
    const QString mark(QChar(RtfDecoder::pageMark));
    EXPECT_EQ(decoded("{\\rtf1\\pard\\pagebb Next\\par}"), "{\\rtf1\\pard\\pagebb " + mark + "Next\\par}");
    EXPECT_FALSE(decoded("{\\rtf1{\\stylesheet{\\s1\\pagebb Chapter;}}x}").contains(mark));
    EXPECT_FALSE(decoded("{\\rtf1\\pard\\pagebb0 x}").contains(mark));
}
