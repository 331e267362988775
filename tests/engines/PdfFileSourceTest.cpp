#define POINTERHOLDER_TRANSITION 4

#include "engines/pdf/PdfFileSource.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

using namespace qv;

namespace {

// Bytes of a file a few blocks long whose every position can be told apart.
std::string patterned(size_t size)
{
    std::string bytes(size, '\0');
    std::mt19937 random(7);
    for (char& byte : bytes)
        byte = char(random() % 251);
    return bytes;
}

class PdfFileSourceTest : public ::testing::Test {
protected:
    void write(const std::string& bytes)
    {
        path = dir.filePath(QStringLiteral("file.pdf")).toStdString();
        FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        ASSERT_EQ(std::fclose(file), 0);
    }

    std::string readFrom(PdfFileSource& source, qpdf_offset_t at, size_t length)
    {
        source.seek(at, SEEK_SET);
        std::string got(length, '\0');
        got.resize(source.read(got.data(), length));
        return got;
    }

    QTemporaryDir dir;
    std::string path;
};

TEST_F(PdfFileSourceTest, ReadsGiveTheFilesBytesWhereverAParserJumps)
{
    // More blocks than are kept: reads forward, back a little, across block edges, large ones past
    // the kept blocks, and ones that run into the end.
    const std::string bytes = patterned(12 * 65536 + 1234);
    write(bytes);
    PdfFileSource source(path);
    std::mt19937 random(11);
    for (int i = 0; i < 3000; ++i) {
        const qpdf_offset_t at = qpdf_offset_t(random() % (bytes.size() + 100));
        const size_t length = i % 50 == 0 ? 70000 + random() % 100000 : random() % 9000;
        const std::string expected = at < qpdf_offset_t(bytes.size()) ? bytes.substr(size_t(at), length) : std::string();
        ASSERT_EQ(readFrom(source, at, length), expected) << "at " << at << ", " << length << " bytes";
        EXPECT_EQ(source.tell(), at + qpdf_offset_t(expected.size()));
        EXPECT_EQ(source.getLastOffset(), at);
    }
    // Block edges exactly, from both sides.
    for (const qpdf_offset_t at : {qpdf_offset_t(65535), qpdf_offset_t(65536), qpdf_offset_t(131071)})
        EXPECT_EQ(readFrom(source, at, 3), bytes.substr(size_t(at), 3));
    // Around the end, over and over, as a trailer is read.
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(readFrom(source, qpdf_offset_t(bytes.size() - 30), 10240), bytes.substr(bytes.size() - 30));
        EXPECT_EQ(readFrom(source, qpdf_offset_t(bytes.size()), 10), std::string());
    }
    source.seek(-5, SEEK_END);
    EXPECT_EQ(source.tell(), qpdf_offset_t(bytes.size() - 5));
}

TEST_F(PdfFileSourceTest, AFileShorterThanABlockAndAnEmptyOneEndWhereTheyEnd)
{
    write("%PDF-1.4\r\n\n%%EOF\n");
    PdfFileSource source(path);
    EXPECT_EQ(readFrom(source, 0, 100), std::string("%PDF-1.4\r\n\n%%EOF\n"));
    source.seek(0, SEEK_SET);
    EXPECT_EQ(source.findAndSkipNextEOL(), 8);
    EXPECT_EQ(source.tell(), 11);
    char c = 0;
    ASSERT_EQ(source.read(&c, 1), 1u);
    EXPECT_EQ(c, '%');
    source.unreadCh(c);
    EXPECT_EQ(source.tell(), 11);

    write("");
    PdfFileSource empty(path);
    EXPECT_EQ(readFrom(empty, 0, 10), std::string());
    EXPECT_EQ(empty.findAndSkipNextEOL(), 0);
}

} // namespace
