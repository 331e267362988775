#include "documents/TextLoaders.h"

#include "model/EngineError.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace qv;
using namespace qv::test;

namespace {

QString readBytes(const QByteArray& bytes)
{
    QTemporaryDir dir;
    return TextLoaders::readTextWithDetectedEncoding(QUrl::fromLocalFile(writeFile(dir.filePath("t.txt"), bytes)));
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
    for (const char stray : {'\x81', '\x8d', '\x8f', '\x90', '\x9d'})
        EXPECT_EQ(unknownEncodingMessage(QByteArray("a") + stray), "This text file uses an unknown encoding");
    EXPECT_EQ(unknownEncodingMessage(QByteArray("bin\0ary\xe9", 8)), "This text file uses an unknown encoding");
    EXPECT_THROW(TextLoaders::readTextWithDetectedEncoding(QUrl::fromLocalFile("/nonexistent/x.txt")), Error);
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
