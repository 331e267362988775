#include "model/WordsKept.h"

#include <gtest/gtest.h>

using namespace qv;

TEST(WordsKept, CountsTheSourcesWordsFoundInTheResultWhateverTheLayout)
{
    const QString source = QStringLiteral("The quick brown fox jumps over the lazy dog.\nThe dog sleeps; the fox runs.");
    // Laid out anew: other line breaks, case and punctuation.
    EXPECT_DOUBLE_EQ(WordsKept::share(source, QStringLiteral("# THE QUICK BROWN FOX\n\njumps over the lazy dog the "
                                                             "dog sleeps the fox runs")),
                     1.0);
    // Each word as often as the source has it: "the" four times, "fox" and "dog" twice.
    EXPECT_DOUBLE_EQ(WordsKept::share(source, QStringLiteral("the quick brown fox jumps over lazy dog sleeps runs")),
                     10.0 / 15.0);
    EXPECT_DOUBLE_EQ(WordsKept::share(source, QString()), 0.0);
    EXPECT_DOUBLE_EQ(WordsKept::share(QString(), QStringLiteral("anything")), 1.0);
    // Letters with accents, composed or not, and digits are words too.
    EXPECT_DOUBLE_EQ(WordsKept::share(QString::fromUtf8("Caf\u00e9 42"), QString::fromUtf8("cafe\u0301 42")), 1.0);
    EXPECT_EQ(WordsKept::words(QStringLiteral("well-known 3.14")), (QStringList{"well", "known", "3", "14"}));
}

TEST(WordsKept, AResultKeepsTextWhenItHasMostOfAtLeastAFewWords)
{
    const QString page = QStringLiteral("Minutes of the meeting held on Tuesday in the small hall, with the "
                                        "treasurer's report and the plans for the summer fair.");
    EXPECT_TRUE(WordsKept::keepsText(page, page));
    EXPECT_FALSE(WordsKept::keepsText(page, QString()));
    EXPECT_FALSE(WordsKept::keepsText(page, QStringLiteral("Minutes of the meeting")));
    // A scan's text of spaced letters drawn anew as words keeps its letters.
    const QString spaced = QStringLiteral("A m e r i c a n President Lines, L t d  16220 N. Scottsdale Road, Suite 300");
    const QString joined = QStringLiteral("American President Lines, Ltd 16220 N. Scottsdale Road, Suite 300");
    EXPECT_LT(WordsKept::share(spaced, joined), 0.6);
    EXPECT_TRUE(WordsKept::keepsText(spaced, joined));
    EXPECT_FALSE(WordsKept::keepsText(spaced, QStringLiteral("Suite 300")));
    // A page number and a title say too little to judge a share by, but losing all of them is
    // losing the text.
    EXPECT_TRUE(WordsKept::keepsText(QStringLiteral("Page 3 Annual report"), QStringLiteral("Annual report")));
    EXPECT_FALSE(WordsKept::keepsText(QStringLiteral("Page 3 Annual report"), QString()));
    EXPECT_TRUE(WordsKept::keepsText(QStringLiteral("  "), QString()));
}
