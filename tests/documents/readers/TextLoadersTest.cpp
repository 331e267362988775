#include "documents/readers/TextLoaders.h"

#include "model/errors/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

TextLoaders::DecodedText decode(const QByteArray& bytes)
{
    QTemporaryDir dir;
    return TextLoaders::readTextWithDetectedEncoding(QUrl::fromLocalFile(writeFile(dir.filePath("t.txt"), bytes)));
}

QString readBytes(const QByteArray& bytes)
{
    return decode(bytes).text;
}

QString unknownEncodingMessage(const QByteArray& bytes)
{
    try {
        readBytes(bytes);
    } catch (const EngineError& error) {
        return error.message();
    }
    return {};
}

QString words(int n)
{
    QStringList list;
    for (int i = 0; i < n; ++i)
        list.append(i % 2 ? "word" : "text,");
    return list.join(' ');
}

} // namespace

TEST(TextLoaders, DetectsTheEncoding)
{
    EXPECT_EQ(readBytes("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(readBytes("\xef\xbb\xbfx"), "x");
    EXPECT_EQ(readBytes(QByteArray("\xff\xfeh\0i\0", 6)), "hi");
    EXPECT_EQ(readBytes("caf\xe9 \x80"), QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac"));
    EXPECT_EQ(decode("caf\xc3\xa9").replaced, 0);
    EXPECT_THROW(TextLoaders::readTextWithDetectedEncoding(QUrl::fromLocalFile("/nonexistent/x.txt")), Error);
}

TEST(TextLoaders, StrayBytesBecomeReplacementCharactersAndAreCounted)
{
    const QString fffd(QChar::ReplacementCharacter);
    // Windows-1252's five undefined bytes in a Windows-1252 text.
    for (const char stray : {'\x81', '\x8d', '\x8f', '\x90', '\x9d'}) {
        const auto decoded = decode(QByteArray("caf\xe9 ") + stray + " \x80");
        EXPECT_EQ(decoded.text, QString::fromUtf8("caf\xc3\xa9 ") + fffd + QString::fromUtf8(" \xe2\x82\xac"));
        EXPECT_EQ(decoded.replaced, 1);
    }
    // A NUL in a UTF-8 text, and a lone byte that no UTF-8 sequence starts with: the rest
    // stays UTF-8, not read as Windows-1252.
    const auto utf8 = decode(QByteArray("na\xc3\xafve\0 d\xc3\xa9j\xc3\xa0 \xff!", 17));
    EXPECT_EQ(utf8.text, QString::fromUtf8("na\xc3\xafve") + fffd + QString::fromUtf8(" d\xc3\xa9j\xc3\xa0 ") + fffd + "!");
    EXPECT_EQ(utf8.replaced, 2);
    // A sequence cut short is one replacement, and the byte after it is read again.
    const auto cut = decode("a\xe2\x82" "b \xc3\xa9");
    EXPECT_EQ(cut.text, "a" + fffd + QString::fromUtf8("b \xc3\xa9"));
    EXPECT_EQ(cut.replaced, 1);
    // Plain ASCII with a NUL.
    const auto ascii = decode(QByteArray("plain\0text", 10));
    EXPECT_EQ(ascii.text, "plain" + fffd + "text");
    EXPECT_EQ(ascii.replaced, 1);

    // Something else altogether is still refused.
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(char((i * 7919) % 256));
    EXPECT_EQ(unknownEncodingMessage(binary), "This text file uses an unknown encoding");
    EXPECT_EQ(unknownEncodingMessage(QByteArray("b\0i\0n\0a\0r\0y\0 \0t\0e\0x\0t\0", 22)),
              "This text file uses an unknown encoding");

    EXPECT_TRUE(TextLoaders::replacementNote("a.md", 0).isEmpty());
    EXPECT_EQ(TextLoaders::replacementNote("a.md", 1), "a.md: 1 unreadable character replaced with " + fffd);
    EXPECT_EQ(TextLoaders::replacementNote("a.md", 2), "a.md: 2 unreadable characters replaced with " + fffd);
}

TEST(TextLoaders, PlainTextSplitsAtBlankLines)
{
    const auto blocks = TextLoaders::plainTextBlocks("one\r\ntwo\r\n\r\n  \nthree\rfour\n\n\n");
    ASSERT_EQ(blocks.size(), 2);
    EXPECT_EQ(blocks[0].plainText(), "one\ntwo");
    EXPECT_EQ(blocks[1].plainText(), "three\nfour");
    EXPECT_TRUE(TextLoaders::plainTextBlocks("\n \n").isEmpty());
}

TEST(TextLoaders, StatisticsAndReadingTime)
{
    const auto stats = TextLoaders::textStatistics(QString::fromUtf8("Hello, w\xc3\xb6rld!\n\n  \nsecond line e\xcc\x81"));
    EXPECT_EQ(stats.words, 5);
    EXPECT_EQ(stats.characters, 31);
    EXPECT_EQ(stats.nonBlankLines, 2);
    EXPECT_EQ(TextLoaders::textStatistics(words(345)).words, 345);
    EXPECT_TRUE(TextLoaders::statisticsLine(345, 1000).endsWith(QString::fromUtf8(" characters \xc2\xb7 2 min read")));
    EXPECT_TRUE(TextLoaders::statisticsLine(344, 1000).endsWith("1 min read"));
    EXPECT_TRUE(TextLoaders::statisticsLine(100, 1000).endsWith("1 min read"));
    EXPECT_TRUE(TextLoaders::statisticsLine(0, 0).endsWith("1 min read"));
    EXPECT_TRUE(TextLoaders::statisticsLine(345, 1).startsWith(QString::fromUtf8("345 words \xc2\xb7 1 characters")));
}
